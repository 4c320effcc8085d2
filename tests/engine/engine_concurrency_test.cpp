// The input thread plays notes and command gestures while the window thread
// installs scales, rebuilds the table and resets the channels. Run under
// ThreadSanitizer this must report nothing; in any build the allocation must
// come out consistent.

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

void playInput(std::atomic<bool>& stop, RecordingInput& input, std::latch& gate)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> key(30, 100);
    gate.arrive_and_wait();
    while (!stop.load()) {
        const auto k = static_cast<uint8_t>(key(rng));
        handleMidiInput(&input, MimData, 0, packShortMessage(0x90, 0, 36, 100), 0);
        handleMidiInput(&input, MimData, 0, packShortMessage(0x90, 0, k, 100), 0);
        handleMidiInput(&input, MimData, 0, packShortMessage(0x80, 0, 36, 0), 0);
        handleMidiInput(&input, MimData, 0, packShortMessage(0x90, 1, k, 90), 0);
        handleMidiInput(&input, MimData, 0, packShortMessage(0xB0, 2, 7, 64), 0);
        handleMidiInput(&input, MimData, 0, packShortMessage(0x80, 1, k, 0), 0);
        handleMidiInput(&input, MimLongData, 0, reinterpret_cast<uintptr_t>(&midiPorts.sysexHeader), 0);
        ++gesturesPlayed;
    }
}

TEST_F(EngineConcurrencyTest, WindowThreadWritesNeverRaceTheInputThread)
{
    settings.commandKey = 36;
    settings.resetPitchKey = 38;
    settings.relay[RelaySystemExclusive] = 1;
    static uint8_t sysex[4] = {0xF0, 0x01, 0x02, 0xF7};
    midiPorts.sysexHeader = SysexBuffer{sysex, 4, 4, 0};
    midiPorts.sysexBufferReady = true;
    RecordingInput input;

    std::atomic<bool> stop{false};
    std::latch gate(2);
    gesturesPlayed = 0;
    std::thread inputThread(playInput, std::ref(stop), std::ref(input), std::ref(gate));
    const Scale scales[] = {equalScale(13, 3.0), equalScale(19, 2.0), makeScale({9.0 / 8, 5.0 / 4, 3.0 / 2, 2.0})};
    // Both threads start together, and the window thread writes until the
    // input thread has played enough against it (or for a bounded while).
    constexpr int MinimumGestures = 200;
    gate.arrive_and_wait();
    const int playedBefore = gesturesPlayed;
    int round = 0;
    for (; round < 600 || (gesturesPlayed - playedBefore < MinimumGestures && round < 200000); ++round) {
        EngineLock lock(engineMutex);
        switch (round % 4) {
        case 0:
            installScale(scales[round % 3]);
            buildTuningTable();
            resetChannels();
            break;
        case 1:
            settings.pitchWheelRange = static_cast<uint8_t>(1 + round % 24);
            buildTuningTable();
            break;
        case 2:
            settings.useChannel[round % 16] ^= 1;
            resetChannels();
            break;
        default:
            settings.referenceFrequency = 430.0 + round % 20;
            buildInstrumentFrequencies();
            buildTuningTable();
            break;
        }
    }
    const int playedWhileWriting = gesturesPlayed - playedBefore;
    stop = true;
    inputThread.join();
    EXPECT_GE(playedWhileWriting, MinimumGestures) << "the input thread hardly ran during " << round << " writes";

    EngineLock lock(engineMutex);
    int counts[16] = {};
    for (int k = 0; k < 128; ++k) {
        if (noteAllocation.keyChannel[k])
            ++counts[noteAllocation.keyChannel[k] - 1];
    }
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(noteAllocation.channelSlot[c].noteCount, counts[c]);
    EXPECT_GT(output.shortMessages.size(), 0u);
    EXPECT_EQ(output.malformedWords, 0);
}

}  // namespace
