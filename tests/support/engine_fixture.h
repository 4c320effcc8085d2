#pragma once
// An engine per test, with the default scale installed, the table built and
// a recording output open.

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "engine/engine.h"
#include "engine/midi_ports.h"
#include "engine/note_allocation.h"
#include "engine/scale_in_force.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"
#include "support/gesture.h"
#include "support/recording_midi.h"

// Puts every record of engine back to its start-up state. The clock first:
// the allocation's start-up state is read from it.
inline void resetEngineRecords(Engine& engine)
{
    engine.engineClock = steadyMilliseconds;
    engine.settings = defaultSettings();
    engine.tuningTable = TuningTable{};
    engine.noteAllocation = initialNoteAllocation();
    engine.controllerZone = initialControllerZone();
    engine.scale = Scale{};
    engine.keyboardMapping = KeyboardMapping{};
    engine.currentPitch = 0.0;
    engine.currentCentre = 0;
    engine.midiPorts.midiIn = nullptr;
    engine.midiPorts.midiOut = nullptr;
    engine.midiPorts.inputOpen = 0;
    engine.midiPorts.outputOpen = 0;
    engine.sysexInput.bufferReady = false;
    engine.sysexInput.header = SysexBuffer{};
    std::memset(engine.midiPorts.keysSent, 0, sizeof engine.midiPorts.keysSent);
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine.buildInstrumentFrequencies();
        engine.setDefaultScale();
        engine.buildTuningTable();
        engine.midiPorts.midiOut = &output;
        engine.midiPorts.outputOpen = 1;
    }

    const std::vector<ShortMessage>& sent() const { return output.shortMessages; }
    // Only these output channels in use, freshly reset, nothing sent yet.
    void useOnlyChannels(std::initializer_list<int> channels)
    {
        for (int32_t& used : engine.settings.useChannel)
            used = 0;
        for (int c : channels)
            engine.settings.useChannel[c] = 1;
        engine.resetChannels();
        output.clear();
    }

    RecordingOutput output;
    Engine engine;
};
