// Notes that still sound must not be bent: a note released under the sustain
// pedal keeps its pitch, and passages played with the pedal down, or with a
// release time and no pedal, are counted for every bend a listener would hear.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/input_dispatch.h"
#include "engine/midi_ports.h"
#include "engine/output_senders.h"
#include "engine/scale_loading.h"
#include "support/engine_fixture.h"
#include "synth/synth_rig.h"

namespace {

constexpr double TailSeconds = 2.0;
constexpr double NoteSeconds = 0.15;

// Passes every message on to the synthesizer and follows what a listener
// hears on each channel: the notes at full level (key down, or released
// under the channel's sustain pedal), when the last of them faded, and each
// bend that moved a note still sounding.
class ChannelWatch : public MidiOutput {
public:
    explicit ChannelWatch(rig::Synth& synth) : synth_(&synth) {}

    void sendShortMessage(uint32_t message) override
    {
        synth_->sendShortMessage(message);
        const int status = message & 0xFF;
        const int data1 = (message >> 8) & 0x7F;
        const int data2 = (message >> 16) & 0x7F;
        Channel& c = channels_[status & 0x0F];
        switch (status & 0xF0) {
        case 0x90:
            if (data2 != 0) {
                c.keys.insert(data1);
                break;
            }
            [[fallthrough]];
        case 0x80:
            release(c, data1);
            break;
        case 0xB0:
            if (data1 == 64)
                sustain(c, data2 >= 64);
            break;
        case 0xE0:
            bend(status & 0x0F, data1 | (data2 << 7));
            break;
        default:
            break;
        }
    }
    bool sendLongMessage(const uint8_t*, size_t) override { return true; }

    void render(double seconds)
    {
        synth_->render(seconds);
        clock += seconds;
    }

    double clock = 0.0;
    int fullLevelRebends = 0;   // a note at full level heard the bend move
    int tailRebends = 0;        // a release tail under TailSeconds old did
    int avoidableTailRebends = 0;  // ... while another channel's tail was over

private:
    struct Channel {
        std::set<int> keys;
        std::set<int> sustained;
        bool pedal = false;
        int bend = -1;
        double fadedAt = -1e9;
    };

    void release(Channel& c, int key)
    {
        if (!c.keys.erase(key))
            return;
        if (c.pedal)
            c.sustained.insert(key);
        else
            c.fadedAt = clock;
    }
    void sustain(Channel& c, bool down)
    {
        c.pedal = down;
        if (!down && !c.sustained.empty()) {
            c.sustained.clear();
            c.fadedAt = clock;
        }
    }
    bool isQuiet(int channel) const
    {
        const Channel& c = channels_[channel];
        return c.keys.empty() && c.sustained.empty() && clock - c.fadedAt >= TailSeconds;
    }
    void bend(int channel, int value)
    {
        Channel& c = channels_[channel];
        if (value == c.bend)
            return;
        const bool first = c.bend < 0;
        c.bend = value;
        if (first)
            return;
        if (!c.keys.empty() || !c.sustained.empty()) {
            ++fullLevelRebends;
        } else if (clock - c.fadedAt < TailSeconds) {
            ++tailRebends;
            for (int other = 0; other < ChannelCount; ++other) {
                if (other != channel && settings.useChannel[other] && isQuiet(other)) {
                    ++avoidableTailRebends;
                    break;
                }
            }
        }
    }

    rig::Synth* synth_;
    Channel channels_[16];
};

ChannelWatch* clockSource = nullptr;

class SynthPedal : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineRecords();
        clockSource = &watch;
        engineClock = [] { return static_cast<uint32_t>(std::lround(clockSource->clock * 1000.0)); };
    }
    void TearDown() override
    {
        engineClock = steadyMilliseconds;
        resetEngineRecords();
    }
    void start(const char* scaleFile)
    {
        buildInstrumentFrequencies();
        setDefaultScale();
        ASSERT_EQ(loadScale((std::string(VANTO_SOURCE_DIR "/scales/") + scaleFile).c_str()), "");
        buildTuningTable();
        midiPorts.midiOut = &watch;
        midiPorts.outputOpen = 1;
        prepareOutputInstrument();
    }
    void send(uint8_t status, int data1, int data2)
    {
        handleMidiInput(nullptr, MimData, 0,
                        packShortMessage(status, 0, static_cast<uint8_t>(data1), static_cast<uint8_t>(data2)), 0);
    }
    void pedal(bool down) { send(0xB0, 64, down ? 127 : 0); }
    void tap(int key, double seconds)
    {
        send(0x90, key, 100);
        watch.render(seconds);
        send(0x80, key, 0);
    }
    // Pitch class drift in cents: the channel may sound an octave of the note too.
    double foldedCents(double measured, double reference) const
    {
        const double cents = pitch::centsBetween(measured, reference);
        return cents - 1200.0 * std::round(cents / 1200.0);
    }

    rig::Synth synth;
    ChannelWatch watch{synth};
};

// Eight channels, twelve degrees: the channel of the held note is wanted by
// new degrees as the passage goes on, and its octaves keep joining it.
TEST_F(SynthPedal, ANoteHeldByThePedalKeepsItsPitchWhileTwentyOtherKeysPlay)
{
    for (int c = 0; c < ChannelCount; ++c)
        settings.useChannel[c] = c < 8 ? 1 : 0;
    start("7-limit just.scl");
    pedal(true);
    send(0x90, 60, 100);
    const int channel = noteAllocation.keyChannel[60] - 1;
    watch.render(rig::SustainSeconds);
    const double reference = synth.measure(channel);
    send(0x80, 60, 0);
    const int others[] = {62, 64, 72, 65, 67, 69, 84, 71, 61, 63, 48, 66, 68, 70, 96, 74, 76, 36, 77, 79};
    double worst = 0.0;
    for (const int key : others) {
        tap(key, rig::SustainSeconds);
        const double drift = std::fabs(foldedCents(synth.measure(channel), reference));
        EXPECT_LE(drift, 1.5) << "after key " << key;
        worst = std::max(worst, drift);
    }
    char line[160];
    std::snprintf(line, sizeof line, "a note held by the pedal while 20 other keys play: drifts %.2f cents at most\n", worst);
    std::ofstream(VANTO_REPORT_DIR "/synth-report-held.txt") << line;
    std::cout << line;
    EXPECT_EQ(watch.fullLevelRebends, 0);
    EXPECT_EQ(noteAllocation.droppedNotes, 0u);
    pedal(false);
}

struct Passage {
    const char* name;
    std::vector<int> keys;
};

std::vector<Passage> passages()
{
    Passage runs{"four rising runs", {}};
    for (int start : {50, 53, 56, 59})
        for (int k = 0; k < 8; ++k)
            runs.keys.push_back(start + k);
    Passage upDown{"up and down twice", {60}};
    for (int twice = 0; twice < 2; ++twice) {
        for (int k = 61; k <= 75; ++k)
            upDown.keys.push_back(k);
        for (int k = 74; k >= 60; --k)
            upDown.keys.push_back(k);
    }
    return {runs, upDown};
}

// The Bohlen-Pierce scale tunes every key on its own: 15 channels, and more
// distinct keys than channels in each passage.
TEST_F(SynthPedal, PassagesBendNoSoundingNote)
{
    std::ofstream out(VANTO_REPORT_DIR "/synth-report-pedal.txt");
    for (const Passage& p : passages()) {
        for (const bool withPedal : {true, false}) {
            resetEngineRecords();
            watch = ChannelWatch(synth);
            settings.releaseTime = withPedal ? 0 : 2000;
            start("Bohlen-Pierce.txt");
            pedal(withPedal);
            for (const int key : p.keys)
                tap(key, NoteSeconds);
            pedal(false);
            watch.render(0.5);
            char line[200];
            std::snprintf(line, sizeof line, "%-18s %-27s %3zu notes: %2d at full level, %2d in a tail (%d avoidable)\n",
                          p.name, withPedal ? "pedal down" : "no pedal, release 2000 ms", p.keys.size(),
                          watch.fullLevelRebends, watch.tailRebends, watch.avoidableTailRebends);
            out << line;
            std::cout << line;
            EXPECT_EQ(watch.fullLevelRebends, 0) << p.name;
            EXPECT_EQ(watch.avoidableTailRebends, 0) << p.name;
        }
    }
}

}  // namespace
