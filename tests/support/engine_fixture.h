#pragma once
// Puts every process-wide engine record back to its start-up state, with the
// default scale installed, the table built and a recording output open.

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "engine/midi_ports.h"
#include "engine/note_allocation.h"
#include "engine/scale_in_force.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"
#include "support/gesture.h"
#include "support/recording_midi.h"

// The clock first: the allocation's start-up state is read from it.
inline void resetEngineRecords()
{
    engineClock = steadyMilliseconds;
    settings = defaultSettings();
    tuningTable = TuningTable{};
    noteAllocation = initialNoteAllocation();
    scale = Scale{};
    keyboardMapping = KeyboardMapping{};
    currentPitch = 0.0;
    currentCentre = 0;
    midiPorts.midiIn = nullptr;
    midiPorts.midiOut = nullptr;
    midiPorts.inputOpen = 0;
    midiPorts.outputOpen = 0;
    midiPorts.sysexBufferReady = false;
    midiPorts.sysexHeader = SysexBuffer{};
    std::memset(midiPorts.keysSent, 0, sizeof midiPorts.keysSent);
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineRecords();
        buildInstrumentFrequencies();
        setDefaultScale();
        buildTuningTable();
        midiPorts.midiOut = &output;
        midiPorts.outputOpen = 1;
    }
    void TearDown() override { resetEngineRecords(); }

    const std::vector<ShortMessage>& sent() const { return output.shortMessages; }
    // Only these output channels in use, freshly reset, nothing sent yet.
    void useOnlyChannels(std::initializer_list<int> channels)
    {
        for (int32_t& used : settings.useChannel)
            used = 0;
        for (int c : channels)
            settings.useChannel[c] = 1;
        resetChannels();
        output.clear();
    }

    RecordingOutput output;
};
