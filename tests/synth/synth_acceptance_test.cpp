// The relay's output played on a real synthesizer: every note must sound
// the frequency vanto-table prints for its key, to 1.5 cents, once the
// synthesizer's own tuning of each key is taken out.

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/config_file.h"
#include "engine/input_dispatch.h"
#include "engine/midi_ports.h"
#include "engine/output_senders.h"
#include "engine/scale_loading.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"
#include "synth/synth_rig.h"

namespace {

constexpr double ToleranceCents = 1.5;

struct Case {
    std::string scale;
    int range;
    int low;
    int high;
};

// Each scale with its pitch-wheel range and the keys played.
const Case Scales[] = {
    {VANTO_SOURCE_DIR "/scales/12-tone equal.txt", 2, 48, 72},   {VANTO_SOURCE_DIR "/scales/just major.txt", 2, 46, 74},
    {VANTO_SOURCE_DIR "/scales/19-tone equal.txt", 2, 41, 79},   {VANTO_SOURCE_DIR "/scales/Bohlen-Pierce.txt", 2, 49, 72},
    {VANTO_SOURCE_DIR "/scales/31-tone equal.txt", 12, 29, 91},
};

// targetHz of every key, as vanto-table prints it.
std::map<int, double> printedTargets(const Case& c, const std::string& config, const std::string& moves)
{
    std::map<int, double> targets;
    for (const std::string& line : runTool(VANTO_TABLE_PATH, "--config '" + config + "' " + moves + " '" + c.scale + "'").lines) {
        int key, outputKey, bend, group;
        double hz;
        if (std::sscanf(line.c_str(), "%d %d %d %d %lf", &key, &outputKey, &bend, &group, &hz) == 5)
            targets[key] = hz;
    }
    return targets;
}

double renderedSeconds = 0.0;

struct Worst {
    int notes = 0;
    double raw = 0.0;
    double calibrated = 0.0;
};

class SynthAcceptance : public ::testing::Test {
protected:
    void SetUp() override { renderedSeconds = 0.0; }
    void render(double seconds)
    {
        synth.render(seconds);
        renderedSeconds += seconds;
    }

    // The engine as the program runs it, with the synthesizer as output. Its
    // clock is the rendered time, so that what the allocation does with
    // release times does not depend on how fast the machine renders.
    void startRelay(const Case& c)
    {
        engine.engineClock = [] { return static_cast<uint32_t>(std::lround(renderedSeconds * 1000.0)); };
        engine.settings.pitchWheelRange = static_cast<uint8_t>(c.range);
        engine.settings.commandKey = 24;
        engine.settings.demodulateKey = 25;
        engine.buildInstrumentFrequencies();
        engine.setDefaultScale();
        ASSERT_EQ(engine.loadScale(c.scale.c_str()), "") << c.scale;
        engine.buildTuningTable();
        engine.midiPorts.midiOut = &synth;
        engine.midiPorts.outputOpen = 1;
        engine.prepareOutputInstrument();  // All Notes Off and the bend range announcement
        config = folder.file("vanto.cfg");
        ASSERT_EQ(engine.saveConfig(config.c_str()), 0);
    }
    void play(uint8_t status, int key, int velocity = 100)
    {
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(status, 0, static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)), 0);
    }
    void send(uint8_t kind, uint8_t channel, int data1, int data2)
    {
        engine.handleMidiInput(nullptr, MimData, 0,
                               packShortMessage(kind, channel, static_cast<uint8_t>(data1), static_cast<uint8_t>(data2)), 0);
    }
    int channelOf(int key) const { return engine.noteAllocation.keyChannel[key] - 1; }

    // Measures key, sounding now, against its target.
    void check(int key, double target, Worst& worst, const std::string& what)
    {
        const int channel = channelOf(key);
        ASSERT_GE(channel, 0) << what << ": key " << key << " is not sounding";
        const double measured = synth.measure(channel);
        const double raw = pitch::centsBetween(measured, target);
        const double calibrated = raw - tuning.cents(engine.noteAllocation.keyOutputNote[key]);
        EXPECT_LE(std::fabs(calibrated), ToleranceCents)
            << what << ": key " << key << " sounds " << measured << " Hz for " << target << " Hz";
        ++worst.notes;
        worst.raw = std::max(worst.raw, std::fabs(raw));
        worst.calibrated = std::max(worst.calibrated, std::fabs(calibrated));
    }
    void playChord(const std::vector<int>& keys, const std::map<int, double>& targets, Worst& worst, const std::string& what)
    {
        for (int key : keys)
            play(0x90, key);
        render(rig::SustainSeconds);
        std::vector<int> channels;
        for (int key : keys) {
            channels.push_back(channelOf(key));
            check(key, targets.at(key), worst, what);
        }
        std::sort(channels.begin(), channels.end());
        EXPECT_EQ(std::unique(channels.begin(), channels.end()), channels.end()) << what << ": chord notes share a channel";
        for (int key : keys)
            play(0x80, key, 0);
        render(rig::ReleaseSeconds);
    }
    // The report file of the given name, its text also on standard output.
    static void writeReport(const std::string& name, const std::string& text)
    {
        std::ofstream(std::string(VANTO_REPORT_DIR "/synth-report-") + name + ".txt") << text;
        std::cout << text;
    }
    static void report(const std::string& name, const std::vector<std::pair<std::string, Worst>>& rows)
    {
        std::string text;
        char line[200];
        for (const auto& [label, worst] : rows) {
            std::snprintf(line, sizeof line, "%-34s %6d notes   worst %5.2f cents (%5.2f before the synthesizer's own key tuning)\n",
                          label.c_str(), worst.notes, worst.calibrated, worst.raw);
            text += line;
        }
        writeReport(name, text);
    }

    rig::Synth synth;
    Engine engine;
    rig::KeyTuning tuning;
    TempDir folder;
    std::string config;
};

std::string label(const Case& c)
{
    std::string name = c.scale.substr(c.scale.rfind('/') + 1);
    return name.substr(0, name.rfind('.')) + ", range " + std::to_string(c.range);
}

TEST_F(SynthAcceptance, EverySingleNoteAndChordSoundsItsTarget)
{
    std::vector<std::pair<std::string, Worst>> rows;
    for (const Case& c : Scales) {
        resetEngineRecords(engine);
        startRelay(c);
        const std::map<int, double> targets = printedTargets(c, config, "");
        ASSERT_EQ(targets.size(), 128u) << c.scale;
        Worst worst;
        for (int key = c.low; key <= c.high; ++key) {
            play(0x90, key);
            render(rig::SustainSeconds);
            check(key, targets.at(key), worst, label(c));
            play(0x80, key, 0);
            render(rig::ReleaseSeconds);
        }
        for (int root = c.low; root + 6 <= c.high; root += 3)
            playChord({root, root + 2, root + 4, root + 6}, targets, worst, label(c) + " chord");
        rows.emplace_back(label(c), worst);
    }
    report("scales", rows);
}

// MPE output on a synthesizer that bends each channel over the range the
// opening sets: every member at 48 semitones, each note on its own.
TEST_F(SynthAcceptance, MpeChordsSoundTheirTargetsOnMembersBentOverFortyEightSemitones)
{
    engine.settings.outputMode = OutputMpe;
    std::vector<std::pair<std::string, Worst>> rows;
    for (const Case& c : {Scales[1], Scales[4]}) {
        startRelay(c);
        const std::map<int, double> targets = printedTargets(c, config, "");
        const std::string name = label(c).substr(0, label(c).find(',')) + ", MPE at 48";
        Worst worst;
        for (int root = c.low; root + 6 <= c.high; root += 5)
            playChord({root, root + 2, root + 4, root + 6}, targets, worst, name);
        rows.emplace_back(name, worst);
    }
    report("mpe", rows);
}

// MIDI Tuning output: every note on one channel, its key retuned by a
// real-time single-note change. One channel's sound cannot be taken apart,
// so the notes are measured one at a time.
TEST_F(SynthAcceptance, MidiTuningRetunesEachKeyToItsTarget)
{
    engine.settings.outputMode = OutputMidiTuning;
    std::vector<std::pair<std::string, Worst>> rows;
    for (const Case& c : {Scales[1], Scales[4]}) {
        startRelay(c);
        const std::map<int, double> targets = printedTargets(c, config, "");
        const std::string name = label(c).substr(0, label(c).find(',')) + ", MIDI Tuning";
        Worst worst;
        for (int key = c.low; key <= c.high; key += 2) {
            play(0x90, key);
            render(rig::SustainSeconds);
            check(key, targets.at(key), worst, name);
            play(0x80, key, 0);
            render(rig::ReleaseSeconds);
        }
        rows.emplace_back(name, worst);
    }
    report("mts", rows);
}

TEST_F(SynthAcceptance, ModulationTransposesTheChordAndSparesTheHeldNote)
{
    const Case just{VANTO_SOURCE_DIR "/scales/just major.txt", 2, 46, 74};
    startRelay(just);
    const std::map<int, double> before = printedTargets(just, config, "");
    const std::map<int, double> after = printedTargets(just, config, "--modulate 64");
    const std::vector<int> chord = {60, 62, 64, 66};
    Worst plain, modulated, held;
    playChord(chord, before, plain, "before");

    play(0x90, 62);  // held through the gesture
    render(rig::SustainSeconds);
    check(62, before.at(62), held, "held before");
    play(0x90, 24);  // Command: hold it, press the target, release both
    play(0x90, 64);
    play(0x80, 64, 0);
    play(0x80, 24, 0);
    render(rig::SustainSeconds);
    check(62, before.at(62), held, "held after the modulation");
    play(0x80, 62, 0);
    render(rig::ReleaseSeconds);

    playChord(chord, after, modulated, "after");
    // Up a just fifth: each note of the chord sounds 3/2 of what it did.
    for (int key : chord)
        EXPECT_NEAR(after.at(key) / before.at(key), 1.5, 1e-9) << key;
    report("modulation", {{"just major, chord", plain}, {"just major, chord up a fifth", modulated},
                          {"just major, note held", held}});
}

// Eight channels, twelve degrees: the channel of a note released under the
// sustain pedal is wanted by the new degrees as the passage goes on, and its
// octaves keep joining it. The held note must keep its pitch throughout.
TEST_F(SynthAcceptance, ANoteHeldByThePedalKeepsItsPitchWhileTwentyOtherKeysPlay)
{
    for (int c = 0; c < ChannelCount; ++c)
        engine.settings.useChannel[c] = c < 8 ? 1 : 0;
    startRelay({VANTO_SOURCE_DIR "/scales/7-limit just.scl", 2, 0, 127});
    play(0xB0, 64, 127);
    play(0x90, 60);
    const int channel = channelOf(60);
    render(rig::SustainSeconds);
    const double reference = synth.measure(channel);
    play(0x80, 60, 0);
    double worst = 0.0;
    for (const int key : {62, 64, 72, 65, 67, 69, 84, 71, 61, 63, 48, 66, 68, 70, 96, 74, 76, 36, 77, 79}) {
        play(0x90, key);
        render(rig::SustainSeconds);
        play(0x80, key, 0);
        // The channel may sound an octave of the held note as well: pitch class drift.
        const double cents = pitch::centsBetween(synth.measure(channel), reference);
        const double drift = std::fabs(cents - 1200.0 * std::round(cents / 1200.0));
        EXPECT_LE(drift, ToleranceCents) << "after key " << key;
        worst = std::max(worst, drift);
    }
    EXPECT_EQ(engine.noteAllocation.droppedNotes, 0u);
    char line[160];
    std::snprintf(line, sizeof line, "a note held by the pedal while 20 other keys play: drifts %.2f cents at most\n", worst);
    writeReport("held", line);
}

// An MPE controller's note glided up a semitone by its own bend, in small
// steps as a finger slides: it must end a semitone above its target.
TEST_F(SynthAcceptance, ANoteGlidedByItsOwnBendEndsASemitoneAboveItsTarget)
{
    const Case just{VANTO_SOURCE_DIR "/scales/just major.txt", 2, 46, 74};
    std::vector<std::pair<std::string, Worst>> rows;
    for (const int32_t mode : {OutputPitchBend, OutputMpe}) {
        resetEngineRecords(engine);
        engine.settings.outputMode = mode;
        engine.settings.mpeController = 1;  // its bends span 48 semitones
        startRelay(just);
        const std::map<int, double> targets = printedTargets(just, config, "");
        Worst worst;
        for (const int key : {52, 60, 64, 71}) {
            const auto channel = static_cast<uint8_t>(2 + key % 5);
            send(0x90, channel, key, 100);
            for (int step = 1; step <= 10; ++step) {
                send(0xE0, channel, (8192 + 17 * step) & 0x7F, (8192 + 17 * step) >> 7);
                render(0.02);
            }
            send(0xE0, channel, (8192 + 171) & 0x7F, (8192 + 171) >> 7);  // 171/8192 of 48 semitones: 100.2 cents
            render(rig::SustainSeconds);
            const int note = channel * 128 + key;
            const double raw = pitch::centsBetween(synth.measure(engine.noteAllocation.keyChannel[note] - 1), targets.at(key)) - 100.0;
            const double cents = raw - tuning.cents(engine.noteAllocation.keyOutputNote[note]);
            EXPECT_LE(std::fabs(cents), ToleranceCents) << OutputModeNames[mode] << " key " << key;
            worst.calibrated = std::max(worst.calibrated, std::fabs(cents));
            worst.raw = std::max(worst.raw, std::fabs(raw));
            ++worst.notes;
            send(0x80, channel, key, 0);
            send(0xE0, channel, 0, 0x40);
            render(rig::ReleaseSeconds);
        }
        rows.emplace_back(std::string("just major, glided, ") + OutputModeNames[mode], worst);
    }
    report("glide", rows);
}

// The player's wheel moves a held chord 200 cents: its intervals stay. The
// synthesizer itself renders a wide bend about 1 % short (see the notes on
// it), the same for every note, so the move is checked only roughly.
TEST_F(SynthAcceptance, AChordMovedByTheWheelKeepsItsIntervals)
{
    engine.settings.pitchWheelUse = PitchWheelBendNotes;
    engine.settings.playerBendRange = 2;
    const Case just{VANTO_SOURCE_DIR "/scales/just major.txt", 12, 46, 74};
    startRelay(just);
    const std::vector<int> chord = {60, 62, 64, 66};  // each on a channel of its own
    for (const int key : chord)
        play(0x90, key);
    render(rig::SustainSeconds);
    render(rig::SustainSeconds);  // past the onset, as the moved chord will be
    std::map<int, double> before;
    for (const int key : chord)
        before[key] = synth.measure(channelOf(key));
    send(0xE0, 0, 0x7F, 0x7F);  // the wheel's top: 8191/8192 of 2 semitones
    render(rig::SustainSeconds);
    std::map<int, double> moved;
    for (const int key : chord)
        moved[key] = pitch::centsBetween(synth.measure(channelOf(key)), before[key]);
    double worst = 0.0;
    for (const int key : chord) {
        EXPECT_NEAR(moved[key], 200.0, 4.0) << key;
        EXPECT_NEAR(moved[key], moved[chord[0]], ToleranceCents) << "interval from " << chord[0] << " to " << key;
        worst = std::max(worst, std::fabs(moved[key] - moved[chord[0]]));
    }
    char line[160];
    std::snprintf(line, sizeof line, "a just chord moved %.2f cents by the wheel: its intervals change %.2f cents at most\n",
                  moved[chord[0]], worst);
    writeReport("wheel", line);
}

}  // namespace
