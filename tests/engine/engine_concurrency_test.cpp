// The input thread plays notes and command gestures while the window thread
// installs scales, rebuilds the table and resets the channels; and two
// engines play at once, each in its own scale. Run under ThreadSanitizer this
// must report nothing; in any build the allocation must come out consistent
// and neither engine may hear the other.

#include <atomic>
#include <latch>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "engine/engine_lock.h"
#include "engine/input_dispatch.h"
#include "engine/output_senders.h"
#include "engine/scale_in_force.h"
#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

class EngineConcurrencyTest : public EngineTest {};

// Gestures the input thread has played; each is seven messages.
std::atomic<int> gesturesPlayed{0};

void playInput(Engine& engine, std::atomic<bool>& stop, RecordingInput& input, std::latch& gate)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> key(30, 100);
    gate.arrive_and_wait();
    while (!stop.load()) {
        const auto k = static_cast<uint8_t>(key(rng));
        engine.handleMidiInput(&input, MimData, 0, packShortMessage(0x90, 0, 36, 100), 0);
        engine.handleMidiInput(&input, MimData, 0, packShortMessage(0x90, 0, k, 100), 0);
        engine.handleMidiInput(&input, MimData, 0, packShortMessage(0x80, 0, 36, 0), 0);
        engine.handleMidiInput(&input, MimData, 0, packShortMessage(0x90, 1, k, 90), 0);
        engine.handleMidiInput(&input, MimData, 0, packShortMessage(0xB0, 2, 7, 64), 0);
        engine.handleMidiInput(&input, MimData, 0, packShortMessage(0x80, 1, k, 0), 0);
        engine.handleMidiInput(&input, MimLongData, 0, reinterpret_cast<uintptr_t>(&engine.sysexInput.header), 0);
        ++gesturesPlayed;
    }
}

TEST_F(EngineConcurrencyTest, WindowThreadWritesNeverRaceTheInputThread)
{
    engine.settings.commandKey = 36;
    engine.settings.resetPitchKey = 38;
    engine.settings.relay[RelaySystemExclusive] = 1;
    static uint8_t sysex[4] = {0xF0, 0x01, 0x02, 0xF7};
    engine.sysexInput.header = SysexBuffer{sysex, 4, 4, 0};
    engine.sysexInput.bufferReady = true;
    RecordingInput input;

    std::atomic<bool> stop{false};
    std::latch gate(2);
    gesturesPlayed = 0;
    std::thread inputThread(playInput, std::ref(engine), std::ref(stop), std::ref(input), std::ref(gate));
    const Scale scales[] = {equalScale(13, 3.0), equalScale(19, 2.0), makeScale({9.0 / 8, 5.0 / 4, 3.0 / 2, 2.0})};
    // Both threads start together, and the window thread writes until the
    // input thread has played enough against it (or for a bounded while).
    constexpr int MinimumGestures = 200;
    gate.arrive_and_wait();
    const int playedBefore = gesturesPlayed;
    int round = 0;
    for (; round < 600 || (gesturesPlayed - playedBefore < MinimumGestures && round < 200000); ++round) {
        EngineLock lock(engine.engineMutex);
        switch (round % 4) {
        case 0:
            engine.installScale(scales[round % 3]);
            engine.buildTuningTable();
            engine.resetChannels();
            break;
        case 1:
            engine.settings.pitchWheelRange = static_cast<uint8_t>(1 + round % 24);
            engine.buildTuningTable();
            break;
        case 2:
            engine.settings.useChannel[round % 16] ^= 1;
            engine.resetChannels();
            break;
        default:
            engine.settings.referenceFrequency = 430.0 + round % 20;
            engine.buildInstrumentFrequencies();
            engine.buildTuningTable();
            break;
        }
    }
    const int playedWhileWriting = gesturesPlayed - playedBefore;
    stop = true;
    inputThread.join();
    EXPECT_GE(playedWhileWriting, MinimumGestures) << "the input thread hardly ran during " << round << " writes";

    EngineLock lock(engine.engineMutex);
    int counts[16] = {};
    for (int k = 0; k < 128; ++k) {
        if (engine.noteAllocation.keyChannel[k])
            ++counts[engine.noteAllocation.keyChannel[k] - 1];
    }
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(engine.noteAllocation.channelSlot[c].noteCount, counts[c]);
    EXPECT_GT(output.shortMessages.size(), 0u);
    EXPECT_EQ(output.malformedWords, 0);
}

// What one engine sends for a run of notes: its output alone.
std::vector<ShortMessage> playNotes(Engine& engine, RecordingOutput& output, const Scale& scale)
{
    {
        EngineLock lock(engine.engineMutex);
        engine.buildInstrumentFrequencies();
        engine.installScale(scale);
        engine.buildTuningTable();
        engine.midiPorts.midiOut = &output;
        engine.midiPorts.outputOpen = 1;
        engine.resetChannels();
    }
    for (int round = 0; round < 300; ++round) {
        const auto key = static_cast<uint8_t>(40 + round % 50);
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x90, 0, key, 100), 0);
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x80, 0, key, 0), 0);
    }
    EngineLock lock(engine.engineMutex);
    engine.midiPorts.midiOut = nullptr;
    return output.shortMessages;
}

TEST(TwoEngines, PlaySideBySideOnTwoThreadsEachInItsOwnScale)
{
    const Scale scales[2] = {equalScale(19, 2.0), makeScale({9.0 / 8, 5.0 / 4, 3.0 / 2, 2.0})};
    std::vector<ShortMessage> alone[2];
    for (int i = 0; i < 2; ++i) {
        Engine engine;
        RecordingOutput output;
        alone[i] = playNotes(engine, output, scales[i]);
    }
    ASSERT_NE(alone[0], alone[1]);

    Engine engines[2];
    RecordingOutput outputs[2];
    std::vector<ShortMessage> together[2];
    std::latch gate(2);
    std::thread second([&] {
        gate.arrive_and_wait();
        together[1] = playNotes(engines[1], outputs[1], scales[1]);
    });
    gate.arrive_and_wait();
    together[0] = playNotes(engines[0], outputs[0], scales[0]);
    second.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
}

}  // namespace
