// Channels whose keys are released but still sound: held by the sustain or
// sostenuto pedal, or in a release tail the release time protects.

#include <algorithm>

#include <gtest/gtest.h>

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
        engine.engineClock = [] { return fakeNow; };
        fakeNow = 1000;
        engine.installScale(equalScale(13, 3.0));  // linear mode: every key its own group
        engine.buildTuningTable();
    }
    // Plays the gesture at the given time on the engine's clock.
    void playAt(uint32_t now, const std::string& gesture)
    {
        fakeNow = now;
        play(engine, gesture);
    }
    int channelOf(uint8_t key) const { return engine.noteAllocation.keyChannel[key] - 1; }
    bool sounding(int channel) const { return isSounding(engine.noteAllocation.channelSlot[channel]); }
    // The controller messages sent on channel since the output was cleared.
    std::vector<ShortMessage> controllersOn(int channel) const
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
    play(engine, "S +60 +61");
    const int held = channelOf(60);
    play(engine, "-60");  // still sounding under the pedal
    output.clear();
    play(engine, "+62");  // no free channel: one holds only a sustained note
    EXPECT_EQ(channelOf(62), held);
    const auto b = static_cast<uint8_t>(0xB0 + held);
    EXPECT_EQ(controllersOn(held), (std::vector<ShortMessage>{{b, 64, 0}, {b, 64, 100}}));
    play(engine, "+63");  // held keys are never taken
    EXPECT_EQ(engine.noteAllocation.keyChannel[63], 0);
    EXPECT_EQ(engine.noteAllocation.droppedNotes, 1u);
    output.clear();
    engine.resetChannels();  // All Notes Off leaves sustained notes: the pedal, still down, is pressed again
    EXPECT_EQ(engine.noteAllocation.droppedNotes, 0u);
    EXPECT_EQ(controllersOn(held), (std::vector<ShortMessage>{{b, 123, 0}, {b, 64, 0}, {b, 64, 100}}));
}

TEST_F(PedalAllocationTest, PedalUpFreesTheChannelsItHeld)
{
    useOnlyChannels({0});
    engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0xB0, 0, SustainController, 64), 0);  // 64 and above: down
    play(engine, "+60 -60");
    EXPECT_TRUE(sounding(0));
    play(engine, "s");
    EXPECT_FALSE(sounding(0));
    output.clear();
    play(engine, "+61");
    EXPECT_EQ(channelOf(61), 0);
    EXPECT_TRUE(controllersOn(0).empty());
    engine.settings.relay[RelayControl] = 0;  // a pedal counts only while controllers are relayed
    play(engine, "S -61");
    EXPECT_FALSE(sounding(0));
}

TEST_F(PedalAllocationTest, SostenutoHoldsOnlyTheKeysItCaught)
{
    useOnlyChannels({0, 1, 2});
    play(engine, "+60 O +61");
    const int caught = channelOf(60);
    const int late = channelOf(61);
    play(engine, "-61 -60");  // 61 came after the pedal went down: not caught
    EXPECT_TRUE(sounding(caught));
    EXPECT_FALSE(sounding(late));
    play(engine, "S o");  // the sustain pedal keeps what the sostenuto pedal lets go
    EXPECT_TRUE(sounding(caught));
    play(engine, "s");
    EXPECT_FALSE(sounding(caught));
}

TEST_F(PedalAllocationTest, TheSustainedChannelReleasedLongestAgoIsTaken)
{
    useOnlyChannels({0, 1, 2});
    play(engine, "S +60 +61 +62");
    const int first = channelOf(61);
    playAt(1010, "-61");
    playAt(1020, "-60");
    playAt(1030, "-62 +63");
    EXPECT_EQ(channelOf(63), first);
}

TEST_F(PedalAllocationTest, ReleaseTimeSparesRecentTailsWhileAnotherChannelIsFree)
{
    engine.settings.releaseTime = 1000;
    useOnlyChannels({0, 1, 2});
    playAt(0, "+60 +61");
    const int old = channelOf(61);
    const int recent = channelOf(60);
    play(engine, "-61 +62");  // 62 is held throughout
    playAt(1500, "-60");
    playAt(1600, "+63");  // the rotation comes to the recent tail first, and passes it
    EXPECT_EQ(channelOf(63), old);
    playAt(1700, "-63 +64");  // only recent tails are left: the one released longest ago
    EXPECT_EQ(channelOf(64), recent);
}

// A free tail, however recent, goes before a channel a pedal holds.
TEST_F(PedalAllocationTest, ARecentTailIsTakenBeforeAPedalHeldChannel)
{
    engine.settings.releaseTime = 1000;
    useOnlyChannels({0, 1});
    playAt(0, "+60 O -60");  // the sostenuto pedal catches 60 alone
    playAt(500, "+61");
    const int tail = channelOf(61);
    playAt(600, "-61 +62");
    EXPECT_EQ(channelOf(62), tail);
}

TEST_F(PedalAllocationTest, ATailAsOldAsTheReleaseTimeIsFreeAgain)
{
    engine.settings.releaseTime = 1000;
    useOnlyChannels({0, 1});
    play(engine, "+60");
    const int tail = channelOf(60);
    play(engine, "-60");
    engine.noteAllocation.lastTunedChannel = (tail + ChannelCount - 1) % ChannelCount;  // the rotation comes to it first
    const uint32_t released = fakeNow;
    playAt(released + 999, "+61");
    EXPECT_NE(channelOf(61), tail) << "a millisecond younger than the release time, it is spared";
    playAt(released + 1000, "-61 +62");
    EXPECT_EQ(channelOf(62), tail);
}

// Closing ends each held key and lifts the pedal holding the rest; a panic
// ends everything ever sent, on all sixteen channels, once.
TEST_F(PedalAllocationTest, ClosingAndPanicLeaveNothingSounding)
{
    useOnlyChannels({0, 1});
    play(engine, "+60 S +64 -64");
    const ShortMessage off60{uint8_t(0x80 | channelOf(60)), engine.noteAllocation.keyOutputNote[60], 0};
    const ShortMessage off64{uint8_t(0x80 | engine.noteAllocation.lastTunedChannel), engine.noteAllocation.keyOutputNote[64], 0};
    output.clear();
    engine.endSoundingNotes();
    EXPECT_EQ(sent(), (std::vector<ShortMessage>{off60, {0xB0, 64, 0}, {0xB1, 64, 0}}));
    EXPECT_EQ(channelOf(60), -1);
    output.clear();
    engine.panic();
    ASSERT_EQ(sent().size(), 16u * 3 + 2);
    EXPECT_EQ(std::vector<ShortMessage>(sent().begin(), sent().begin() + 3),
              (std::vector<ShortMessage>{{0xB0, 64, 0}, {0xB0, 120, 0}, {0xB0, 123, 0}}));
    for (const ShortMessage& off : {off60, off64})
        EXPECT_EQ(std::count(sent().begin(), sent().end(), off), 1) << off;
    output.clear();
    engine.panic();
    EXPECT_EQ(sent().size(), 16u * 3) << "what the last panic ended is not ended again";
}

}  // namespace
