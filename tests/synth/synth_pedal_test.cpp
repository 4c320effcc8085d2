// A note released under the sustain pedal keeps sounding: it must keep its
// pitch while the keys played after it want the channels.

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

#include <gtest/gtest.h>

#include "engine/input_dispatch.h"
#include "engine/midi_ports.h"
#include "engine/output_senders.h"
#include "engine/scale_loading.h"
#include "support/engine_fixture.h"
#include "synth/synth_rig.h"

namespace {

double renderedSeconds = 0.0;

class SynthPedal : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineRecords();
        renderedSeconds = 0.0;
        engineClock = [] { return static_cast<uint32_t>(std::lround(renderedSeconds * 1000.0)); };
    }
    void TearDown() override
    {
        engineClock = steadyMilliseconds;
        resetEngineRecords();
    }
    void send(uint8_t status, int data1, int data2)
    {
        handleMidiInput(nullptr, MimData, 0,
                        packShortMessage(status, 0, static_cast<uint8_t>(data1), static_cast<uint8_t>(data2)), 0);
    }
    void render(double seconds)
    {
        synth.render(seconds);
        renderedSeconds += seconds;
    }

    rig::Synth synth;
};

// Eight channels, twelve degrees: the channel of the held note is wanted by
// new degrees as the passage goes on, and its octaves keep joining it.
TEST_F(SynthPedal, ANoteHeldByThePedalKeepsItsPitchWhileTwentyOtherKeysPlay)
{
    {
        EngineLock lock(engineMutex);
        for (int c = 0; c < ChannelCount; ++c)
            settings.useChannel[c] = c < 8 ? 1 : 0;
        buildInstrumentFrequencies();
        setDefaultScale();
    }
    ASSERT_EQ(loadScale(VANTO_SOURCE_DIR "/scales/7-limit just.scl"), "");
    {
        EngineLock lock(engineMutex);
        buildTuningTable();
        midiPorts.midiOut = &synth;
        midiPorts.outputOpen = 1;
        prepareOutputInstrument();
    }
    send(0xB0, 64, 127);
    send(0x90, 60, 100);
    const int channel = noteAllocation.keyChannel[60] - 1;
    render(rig::SustainSeconds);
    const double reference = synth.measure(channel);
    send(0x80, 60, 0);
    double worst = 0.0;
    for (const int key : {62, 64, 72, 65, 67, 69, 84, 71, 61, 63, 48, 66, 68, 70, 96, 74, 76, 36, 77, 79}) {
        send(0x90, key, 100);
        render(rig::SustainSeconds);
        send(0x80, key, 0);
        // The channel may sound an octave of the held note as well: pitch class drift.
        const double cents = pitch::centsBetween(synth.measure(channel), reference);
        const double drift = std::fabs(cents - 1200.0 * std::round(cents / 1200.0));
        EXPECT_LE(drift, 1.5) << "after key " << key;
        worst = std::max(worst, drift);
    }
    EXPECT_EQ(noteAllocation.droppedNotes, 0u);
    char line[160];
    std::snprintf(line, sizeof line, "a note held by the pedal while 20 other keys play: drifts %.2f cents at most\n", worst);
    std::ofstream(VANTO_REPORT_DIR "/synth-report-held.txt") << line;
    std::cout << line;
}

}  // namespace
