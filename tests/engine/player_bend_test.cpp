// The player's pitch wheel with "Bend Notes": added to the tuning in Pitch
// Bend output, held at the wheel's ends; the zone's or the channel's own
// wheel in MPE and MIDI Tuning output.

#include <gtest/gtest.h>

#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

class PlayerBendTest : public EngineTest {
protected:
    void wheel(int value) { engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0xE0, 0, value & 0x7F, value >> 7), 0); }
    static ShortMessage bend(int channel, int value)
    {
        return {static_cast<uint8_t>(0xE0 + channel), static_cast<uint8_t>(value & 0x7F), static_cast<uint8_t>(value >> 7)};
    }
};

TEST_F(PlayerBendTest, TheWheelBendsSoundingChannelsOnTopOfTheirTuning)
{
    useOnlyChannels({0, 1});
    wheel(12288);
    EXPECT_TRUE(sent().empty()) << "ignored unless the wheel bends notes";
    engine.settings.pitchWheelUse = PitchWheelBendNotes;
    engine.settings.playerBendRange = 1;  // the output wheel's range is 2: half of it
    engine.installScale(makeScale({1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 3.0 / 2, 1.0, 1.0, 1.0, 1.0, 2.0}));
    engine.buildTuningTable();
    engine.resetChannels();
    output.clear();
    play(engine, "+60 +67 -67");  // 67 is the just fifth, 2 cents sharp: 8272
    output.clear();
    wheel(8192 + 8192 / 2);  // +0.5 semitone: 2048 output units
    EXPECT_EQ(sent(), (std::vector<ShortMessage>{bend(0, 8192 + 2048)})) << "a released channel keeps its bend";
    play(engine, "+67");
    EXPECT_EQ(sent()[1], bend(1, 8272 + 2048)) << "a new note starts at tuning plus wheel";
    output.clear();
    wheel(16383);
    EXPECT_EQ(sent()[1], bend(1, 8272 + 4096));
    EXPECT_EQ(engine.noteAllocation.clampedBends, 0u);
    engine.settings.playerBendRange = 4;
    wheel(16383);
    EXPECT_EQ(sent().back(), bend(1, 16383));
    EXPECT_EQ(engine.noteAllocation.clampedBends, 2u);
}

TEST_F(PlayerBendTest, MpeAndMidiTuningPassTheWheelOnWithThePlayersRange)
{
    useOnlyChannels({0, 1, 2});
    engine.settings.pitchWheelUse = PitchWheelBendNotes;
    engine.settings.playerBendRange = 12;
    for (const int32_t mode : {OutputMpe, OutputMidiTuning}) {
        engine.settings.outputMode = mode;
        output.clear();
        engine.greetNewListener();
        const std::vector<ShortMessage> range = {{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 6, 12}, {0xB0, 38, 0}};
        EXPECT_TRUE(std::search(sent().begin(), sent().end(), range.begin(), range.end()) != sent().end()) << mode;
        output.clear();
        wheel(9000);
        EXPECT_EQ(sent(), (std::vector<ShortMessage>{bend(0, 9000)})) << mode;
    }
}

}  // namespace
