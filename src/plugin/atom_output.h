#pragma once
// The engine's output device inside a plugin: every message goes into the
// run's output sequence at the frame of the event being answered.

#include <lv2/atom/forge.h>

#include <cstdint>

#include "engine/midi_device.h"

class AtomOutput : public MidiOutput {
public:
    // forge: set to the output port's buffer for this run, with the
    // sequence begun.
    void begin(LV2_Atom_Forge& forge, LV2_URID midiEvent)
    {
        forge_ = &forge;
        midiEvent_ = midiEvent;
        frame_ = 0;
    }
    void end() { forge_ = nullptr; }
    // Where the answers to the next event go.
    void setFrame(int64_t frame) { frame_ = frame; }
    int64_t frame() const { return frame_; }

    void sendShortMessage(uint32_t message) override;
    bool sendLongMessage(const uint8_t* data, size_t count) override;

    // Messages the output buffer had no room for, since the start.
    uint64_t lost() const { return lost_; }

private:
    bool write(const uint8_t* bytes, uint32_t size);

    LV2_Atom_Forge* forge_ = nullptr;
    LV2_URID midiEvent_ = 0;
    int64_t frame_ = 0;
    uint64_t lost_ = 0;
};
