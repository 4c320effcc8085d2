#pragma once
// Playing into the input as a keyboard would, written as a gesture.

#include <sstream>
#include <stdexcept>
#include <string>

#include "engine/engine.h"
#include "engine/input_dispatch.h"
#include "engine/output_senders.h"

// "+60" presses key 60, "-60" releases it, "S" and "s" put the sustain pedal
// down and up, "O" and "o" the sostenuto pedal; all on input channel 1 of
// engine.
inline void play(Engine& engine, const std::string& gesture)
{
    std::istringstream steps(gesture);
    for (std::string step; steps >> step;) {
        const auto number = [&] {
            const int key = std::stoi(step.substr(1));
            return key >= 0 && key <= 127 ? static_cast<uint8_t>(key) : throw std::invalid_argument("no such key: " + step);
        };
        uint32_t message = 0;
        switch (step[0]) {
        case '+': message = packShortMessage(0x90, 0, number(), 100); break;
        case '-': message = packShortMessage(0x80, 0, number(), 64); break;
        case 'S': case 's': message = packShortMessage(0xB0, 0, 64, step[0] == 'S' ? 100 : 0); break;
        case 'O': case 'o': message = packShortMessage(0xB0, 0, 66, step[0] == 'O' ? 100 : 0); break;
        default: throw std::invalid_argument("no such step: " + step);
        }
        engine.handleMidiInput(nullptr, MimData, 0, message, 0);
    }
}
