// Channels whose keys are released but still sound: held by the sustain or
// sostenuto pedal, or in a release tail the release time protects.

#include <gtest/gtest.h>

#include "engine/input_dispatch.h"
#include "engine/output_senders.h"
#include "engine/scale_in_force.h"
#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

uint32_t fakeNow = 0;

class PedalAllocationTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engineClock = [] { return fakeNow; };
        fakeNow = 1000;
        installScale(equalScale(13, 3.0));  // linear mode: every key its own group
        buildTuningTable();
    }
    void TearDown() override
    {
        engineClock = steadyMilliseconds;
        EngineTest::TearDown();
    }
    void input(uint8_t status, uint8_t data1, uint8_t data2)
    {
        handleMidiInput(nullptr, MimData, 0, packShortMessage(status, 0, data1, data2), 0);
    }
    void pedal(uint8_t controller, bool down) { input(0xB0, controller, down ? 100 : 0); }
    void play(uint8_t key) { input(0x90, key, 90); }
    void release(uint8_t key) { input(0x80, key, 0); }
    int channelOf(uint8_t key) const { return noteAllocation.keyChannel[key] - 1; }
    // The controller messages sent on channel since the output was cleared.
    std::vector<ShortMessage> controllersOn(uint8_t channel) const
    {
        std::vector<ShortMessage> result;
        for (const ShortMessage& m : sent()) {
            if (m.status == 0xB0 + channel)
                result.push_back(m);
        }
        return result;
    }
};

TEST_F(PedalAllocationTest, ASustainedChannelIsTakenLastAndItsSustainEndedFirst)
{
    useOnlyChannels({0, 1});
    pedal(64, true);
    play(60);
    play(61);
    const auto held = static_cast<uint8_t>(channelOf(60));
    release(60);  // still sounding under the pedal
    output.clear();
    play(62);  // no free channel: one holds only a sustained note
    EXPECT_EQ(channelOf(62), held);
    EXPECT_EQ(controllersOn(held), (std::vector<ShortMessage>{{uint8_t(0xB0 + held), 64, 0}, {uint8_t(0xB0 + held), 64, 100}}));
    play(63);  // held keys are never taken
    EXPECT_EQ(noteAllocation.keyChannel[63], 0);
    EXPECT_EQ(noteAllocation.droppedNotes, 1u);
    output.clear();
    resetChannels();  // All Notes Off leaves sustained notes: the pedal, still down, is pressed again
    EXPECT_EQ(noteAllocation.droppedNotes, 0u);
    const auto b = static_cast<uint8_t>(0xB0 + held);
    EXPECT_EQ(controllersOn(held), (std::vector<ShortMessage>{{b, 123, 0}, {b, 64, 0}, {b, 64, 100}}));
}

TEST_F(PedalAllocationTest, PedalUpFreesTheChannelsItHeld)
{
    useOnlyChannels({0});
    input(0xB0, SustainController, 64);  // 64 and above: down
    play(60);
    release(60);
    EXPECT_TRUE(isSounding(noteAllocation.channelSlot[0]));
    pedal(64, false);
    EXPECT_FALSE(isSounding(noteAllocation.channelSlot[0]));
    output.clear();
    play(61);
    EXPECT_EQ(channelOf(61), 0);
    EXPECT_TRUE(controllersOn(0).empty());
    // A pedal counts only while controllers are relayed.
    settings.relay[RelayControl] = 0;
    pedal(64, true);
    release(61);
    EXPECT_FALSE(isSounding(noteAllocation.channelSlot[0]));
}

TEST_F(PedalAllocationTest, SostenutoHoldsOnlyTheKeysItCaught)
{
    useOnlyChannels({0, 1, 2});
    play(60);
    pedal(66, true);
    play(61);
    const int caught = channelOf(60);
    const int late = channelOf(61);
    release(61);  // pressed after the pedal went down: not caught
    release(60);
    EXPECT_TRUE(isSounding(noteAllocation.channelSlot[caught]));
    EXPECT_FALSE(isSounding(noteAllocation.channelSlot[late]));
    // The sustain pedal keeps what the sostenuto pedal lets go.
    pedal(64, true);
    pedal(66, false);
    EXPECT_TRUE(isSounding(noteAllocation.channelSlot[caught]));
    pedal(64, false);
    EXPECT_FALSE(isSounding(noteAllocation.channelSlot[caught]));
}

TEST_F(PedalAllocationTest, TheSustainedChannelReleasedLongestAgoIsTaken)
{
    useOnlyChannels({0, 1, 2});
    pedal(64, true);
    for (uint8_t key : {60, 61, 62})
        play(key);
    const int first = channelOf(61);
    for (uint8_t key : {61, 60, 62}) {
        fakeNow += 10;
        release(key);
    }
    play(63);
    EXPECT_EQ(channelOf(63), first);
}

TEST_F(PedalAllocationTest, ReleaseTimeSparesRecentTailsWhileAnotherChannelIsFree)
{
    settings.releaseTime = 1000;
    useOnlyChannels({0, 1, 2});
    fakeNow = 0;
    play(60);
    play(61);
    const int old = channelOf(61);
    release(61);
    play(62);  // held throughout
    const int recent = channelOf(60);
    fakeNow = 1500;
    release(60);
    fakeNow = 1600;
    play(63);  // the rotation comes to the recent tail first, and passes it
    EXPECT_EQ(channelOf(63), old);
    release(63);
    fakeNow = 1700;
    play(64);  // only recent tails are left: the one released longest ago
    EXPECT_EQ(channelOf(64), recent);
}

// A free tail, however recent, goes before a channel a pedal holds.
TEST_F(PedalAllocationTest, ARecentTailIsTakenBeforeAPedalHeldChannel)
{
    settings.releaseTime = 1000;
    useOnlyChannels({0, 1});
    fakeNow = 0;
    play(60);
    pedal(66, true);  // the sostenuto pedal catches 60 alone
    release(60);
    fakeNow = 500;
    play(61);
    const int tail = channelOf(61);
    release(61);
    fakeNow = 600;
    play(62);
    EXPECT_EQ(channelOf(62), tail);
}

TEST_F(PedalAllocationTest, ATailAsOldAsTheReleaseTimeIsFreeAgain)
{
    settings.releaseTime = 1000;
    useOnlyChannels({0, 1});
    play(60);
    const int tail = channelOf(60);
    release(60);
    fakeNow += 1000;
    noteAllocation.lastTunedChannel = (tail + ChannelCount - 1) % ChannelCount;  // the rotation comes to it first
    play(61);
    EXPECT_EQ(channelOf(61), tail);
}

}  // namespace
