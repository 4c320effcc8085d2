#include <gtest/gtest.h>

#include "engine/output_senders.h"
#include "engine/scale_in_force.h"
#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

class NoteAllocationTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.resetChannels();
        output.clear();
    }
    void noteOn(uint8_t key, uint8_t velocity = 100) { engine.handleNoteOn(0x90, 0, key, velocity); }
    void noteOff(uint8_t key, uint8_t velocity = 64) { engine.handleNoteOff(0x80, 0, key, velocity); }
    int channelOf(uint8_t key) const { return engine.noteAllocation.keyChannel[key] - 1; }
};

// A repeated Note On is ignored and one Note Off releases; a Note Off keeps
// its kind and velocity.
TEST_F(NoteAllocationTest, NoteOnSendsTheBendThenTheRetunedNote)
{
    engine.installScale(makeScale({1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 3.0 / 2, 1.0, 1.0, 1.0, 1.0, 2.0}));
    engine.buildTuningTable();
    engine.resetChannels();
    output.clear();
    noteOn(67, 100);
    noteOn(67, 90);
    // Degree 7 goes by group match to the 8th used channel, channel 8.
    ASSERT_EQ(sent().size(), 2u);
    EXPECT_EQ(sent()[0], (ShortMessage{0xE7, 8272 & 0x7F, 8272 >> 7}));
    EXPECT_EQ(sent()[1], (ShortMessage{0x97, 67, 100}));
    noteOff(67, 33);
    noteOff(67, 33);
    ASSERT_EQ(sent().size(), 3u);
    EXPECT_EQ(sent()[2], (ShortMessage{0x87, 67, 33}));
    noteOn(60);
    engine.handleNoteOff(0x90, 0, 60, 0);
    EXPECT_EQ(sent().back(), (ShortMessage{0x90, 60, 0}));
}

TEST_F(NoteAllocationTest, LinearModeDropsTheSixteenthDistinctKey)
{
    engine.installScale(equalScale(13, 3.0));
    engine.buildTuningTable();
    engine.resetChannels();
    for (uint8_t k = 40; k < 55; ++k)
        noteOn(k);
    output.clear();
    play(engine, "+55");
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(engine.noteAllocation.keyChannel[55], 0);
    const int freed = channelOf(41);
    play(engine, "-41");
    output.clear();
    play(engine, "-55");  // the dropped note's release sends nothing either
    EXPECT_TRUE(sent().empty());
    play(engine, "+55");  // a freed channel takes the next new key
    EXPECT_EQ(channelOf(55), freed);
    play(engine, "-55 +41");  // 41's old channel lost its group to 55
    EXPECT_EQ(channelOf(41), freed);
    play(engine, "-56");  // a note off for a key that never sounded sends nothing
    EXPECT_EQ(sent().back(), (ShortMessage{static_cast<uint8_t>(0x90 + freed), engine.tuningTable.outputKey[41], 100}));
}

// A note of a new group takes the first free channel after the one retuned
// last, not simply the first free one.
TEST_F(NoteAllocationTest, TheRotationGoesOnFromTheChannelRetunedLast)
{
    engine.installScale(equalScale(13, 3.0));  // every key its own group
    engine.buildTuningTable();
    useOnlyChannels({0, 1, 2});
    play(engine, "+40 +41 -40 +42");
    EXPECT_EQ(channelOf(42), (channelOf(41) + 1) % 3);
}

class CommandKeyTest : public NoteAllocationTest {
protected:
    void SetUp() override
    {
        NoteAllocationTest::SetUp();
        engine.settings.commandKey = 36;
        engine.settings.demodulateKey = 37;
        engine.settings.resetPitchKey = 38;
        engine.settings.initMessageKey = 39;
    }
};

TEST_F(CommandKeyTest, ModulateUpAFifthSoundsNothingDuringTheGesture)
{
    play(engine, "+36 +67 +69");  // a second target in the same hold does nothing
    EXPECT_TRUE(sent().empty());
    EXPECT_NEAR(engine.currentPitch, 261.626 * std::pow(2.0, 7.0 / 12), 1e-9);
    play(engine, "-67 -69 -36");
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(engine.noteAllocation.commandState, CommandIdle);
    play(engine, "+60");
    EXPECT_EQ(sent().back().data1, 67);
}

TEST_F(CommandKeyTest, DemodulateMovesTheOtherWay)
{
    play(engine, "+36 +37");
    EXPECT_EQ(engine.noteAllocation.commandState, CommandDemodulate);
    play(engine, "+67 -37");
    EXPECT_EQ(engine.noteAllocation.commandState, CommandModulate);
    play(engine, "-36");
    EXPECT_NEAR(engine.currentPitch, 261.626 * std::pow(2.0, -7.0 / 12), 1e-9);
    play(engine, "+60");
    EXPECT_EQ(sent().back().data1, 53);
}

TEST_F(CommandKeyTest, ShiftCentreMovesTheCentreKey)
{
    engine.settings.shiftCentre = 1;
    play(engine, "+36 +64 -36");
    EXPECT_EQ(engine.currentCentre, 64);
    play(engine, "+36 +37 +60 -36");
    EXPECT_EQ(engine.currentCentre, 60);
    EXPECT_NEAR(engine.currentPitch, 261.626 * std::pow(2.0, 8.0 / 12), 1e-9);
}

TEST_F(CommandKeyTest, ResetPitchAndInitMessageRepeatWithinOneHold)
{
    engine.settings.initEventCount = 1;
    engine.settings.initMessage[0] = {0xC0, 2, 5, 0};
    play(engine, "+36 +67 +38");
    EXPECT_EQ(engine.currentPitch, engine.scale.pitch);
    play(engine, "+39 +39 -36");
    ASSERT_EQ(sent().size(), 2u);
    EXPECT_EQ(sent()[0], (ShortMessage{0xC2, 5, 0}));
    EXPECT_EQ(sent()[1], sent()[0]);
}

TEST_F(CommandKeyTest, HeldNoteIsReleasedOnItsOldChannelAfterAModulation)
{
    play(engine, "+62");
    const ShortMessage heldOn = sent().back();
    play(engine, "+36 +67 -67 -36");
    output.clear();
    play(engine, "+62");  // still sounding: ignored
    EXPECT_TRUE(sent().empty());
    play(engine, "+74");  // every group is forgotten: a key of the held note's group does not join it
    ASSERT_EQ(sent().size(), 2u);
    EXPECT_NE(sent().back().channel(), heldOn.channel());
    EXPECT_EQ(sent().back().data1, 74 + 7);
    output.clear();
    play(engine, "-62");
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0], (ShortMessage{static_cast<uint8_t>(0x80 | heldOn.channel()), heldOn.data1, 64}));
}

std::vector<int> keysHeard;
void hearKey(uint8_t /*channel*/, uint8_t key, uint16_t /*index*/)
{
    keysHeard.push_back(key);
}

TEST_F(CommandKeyTest, EveryNoteOnUpdatesTheLastKeyListener)
{
    keysHeard.clear();
    engine.setLastKeyListener(hearKey, 1);
    play(engine, "+36 +67 -36 +70");  // the command key and its target count too
    EXPECT_EQ(keysHeard, (std::vector<int>{36, 67, 70}));
    EXPECT_EQ(engine.noteAllocation.lastKey, 70);
    engine.setLastKeyListener(hearKey, 0);
    play(engine, "+71");
    EXPECT_EQ(keysHeard.size(), 3u);
    EXPECT_EQ(engine.noteAllocation.lastKey, 71);
}

TEST_F(NoteAllocationTest, ResetSilencesAndRenumbersTheUsedChannels)
{
    play(engine, "+60 +61");
    engine.noteAllocation.commandState = CommandModulate;
    engine.noteAllocation.lastTunedChannel = 5;
    output.clear();
    engine.resetChannels();
    ASSERT_EQ(sent().size(), 15u);
    for (const ShortMessage& m : sent()) {
        EXPECT_EQ(m.kind(), 0xB0);
        EXPECT_EQ(m.data1, 123);
        EXPECT_NE(m.channel(), 9);
    }
    EXPECT_EQ(engine.noteAllocation.channelSlot[10].group, 9);
    EXPECT_EQ(engine.noteAllocation.commandState, CommandIdle);
    EXPECT_EQ(engine.noteAllocation.lastTunedChannel, 5);
    for (int k = 0; k < 128; ++k)
        EXPECT_EQ(engine.noteAllocation.keyChannel[k], 0);
}

TEST_F(NoteAllocationTest, OpeningSequenceResetsThenAnnouncesTheRangeThenSendsTheInitMessage)
{
    useOnlyChannels({0, 1});
    engine.settings.initEventCount = 1;
    engine.settings.initMessage[0] = {0xFF, 3, 0, 0};
    engine.prepareOutputInstrument();
    const std::vector<ShortMessage> expected = {
        {0xB0, 123, 0}, {0xB1, 123, 0}, {0xB0, 101, 0}, {0xB1, 101, 0}, {0xB0, 100, 0},
        {0xB1, 100, 0}, {0xB0, 6, 2},   {0xB1, 6, 2},   {0xB0, 38, 0},  {0xB1, 38, 0},
        {0xB0, 101, 127}, {0xB1, 101, 127}, {0xB0, 100, 127}, {0xB1, 100, 127},  // nothing stays selected
        {0xFF, 0, 0},
    };
    EXPECT_EQ(sent(), expected);
    output.clear();
    engine.settings.sendInitOnOpen = 0;
    engine.prepareOutputInstrument();
    EXPECT_EQ(sent().size(), expected.size() - 1);
}

}  // namespace
