// MPE output: the opening, a member per note bent at the members' range,
// the oldest note stolen when every member sounds, and channel-wide
// messages once, on the manager.

#include <gtest/gtest.h>

#include <cmath>

#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

class MpeOutputTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.settings.outputMode = OutputMpe;
        engine.installScale(makeScale({9.0 / 8, 9.0 / 8, 6.0 / 5, 5.0 / 4, 4.0 / 3, 4.0 / 3, 3.0 / 2, 3.0 / 2,
                                       5.0 / 3, 5.0 / 3, 15.0 / 8, 2.0}));
        engine.buildTuningTable();
        useOnlyChannels({0, 1, 2, 3, 4});  // the manager and four members
    }
    // A member's Pitch Bend for a target cents above its key, at 48 semitones.
    static ShortMessage bend(int channel, double cents)
    {
        const long value = 8192 + std::lround(cents * 8192 / 4800);
        return {static_cast<uint8_t>(0xE0 + channel), static_cast<uint8_t>(value & 0x7F),
                static_cast<uint8_t>(value >> 7)};
    }
    static ShortMessage on(int channel, int key) { return {static_cast<uint8_t>(0x90 + channel), uint8_t(key), 100}; }
};

TEST_F(MpeOutputTest, OpensTheZoneThenGivesEachNoteAMemberBentOntoItsTarget)
{
    engine.greetNewListener();
    const auto rpn = [](int c, int number, int value) {
        const auto s = static_cast<uint8_t>(0xB0 + c);
        return std::vector<ShortMessage>{{s, 101, 0}, {s, 100, uint8_t(number)}, {s, 6, uint8_t(value)},
                                         {s, 38, 0},  {s, 101, 127},          {s, 100, 127}};
    };
    std::vector<ShortMessage> opening = rpn(0, 6, 4);
    for (int c : {1, 2, 3, 4, 0})
        for (const ShortMessage& m : rpn(c, 0, c == 0 ? 2 : 48))
            opening.push_back(m);
    EXPECT_EQ(sent(), opening);
    output.clear();

    play(engine, "+60 +64 +67");  // the just major triad
    const double third = 1200 * std::log2(5.0 / 4) - 400, fifth = 1200 * std::log2(3.0 / 2) - 700;
    EXPECT_EQ(sent(), (std::vector<ShortMessage>{bend(1, 0), on(1, 60), bend(2, third), on(2, 64), bend(3, fifth),
                                                 on(3, 67)}));
}

TEST_F(MpeOutputTest, StealsTheOldestNoteWhenEveryMemberSounds)
{
    play(engine, "+60 +62 +64 +65 -62");
    output.clear();
    play(engine, "+67 +69");  // 67 takes the freed member; 69 steals 60's
    EXPECT_EQ(sent()[1], on(2, 67));
    EXPECT_EQ(sent()[2], (ShortMessage{0x81, 60, 0}));
    EXPECT_EQ(sent()[4], on(1, 69));
    EXPECT_EQ(engine.noteAllocation.stolenNotes, 1u);
    EXPECT_EQ(engine.noteAllocation.droppedNotes, 0u);
}

// The pedal goes to the manager alone and keeps its released members from
// new notes; when only those are left, the one released first is cut.
TEST_F(MpeOutputTest, ThePedalGoesToTheManagerAndHoldsItsMembers)
{
    engine.engineClock = [] { return 5000u; };
    play(engine, "S");
    EXPECT_EQ(sent(), (std::vector<ShortMessage>{{0xB0, 64, 100}}));
    play(engine, "+60 +62 -60 -62 +64 +65");
    EXPECT_EQ(engine.noteAllocation.keyChannel[64], 4);
    EXPECT_EQ(engine.noteAllocation.keyChannel[65], 5);
    output.clear();
    play(engine, "+67");
    ASSERT_EQ(sent().size(), 3u);
    EXPECT_EQ(sent()[0], (ShortMessage{0xB1, 120, 0}));
    EXPECT_EQ(sent()[2], on(1, 67));
    EXPECT_EQ(engine.noteAllocation.stolenNotes, 1u);
}

// A note held through a modulation keeps its member and its bend.
TEST_F(MpeOutputTest, AModulationLeavesTheHeldNoteAlone)
{
    engine.settings.commandKey = 36;
    play(engine, "+64 +36 +67 -67 -36");
    output.clear();
    play(engine, "+60 +64");  // 64 is held: its Note On is ignored
    ASSERT_EQ(sent().size(), 2u);
    EXPECT_NE(sent()[0].channel(), 1) << "the held note's member is not taken";
    const double fifthAbove = 1200 * std::log2(3.0 / 2) - 700;
    EXPECT_EQ(sent()[0], bend(sent()[0].channel(), fifthAbove)) << "60 sounds a fifth above the old centre";
}

}  // namespace
