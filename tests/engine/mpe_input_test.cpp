// An MPE controller at the input: a note is its channel and key, and that
// channel's bend, pressure and timbre follow it in every output mode.

#include <gtest/gtest.h>

#include <cmath>

#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Messages = std::vector<ShortMessage>;

ShortMessage bend(int channel, int value)
{
    return {static_cast<uint8_t>(0xE0 + channel), static_cast<uint8_t>(value & 0x7F), static_cast<uint8_t>(value >> 7)};
}

class MpeInputTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        // Only 67 is off the 12-tone grid: a just fifth, 1.955 cents sharp.
        engine.installScale(makeScale({1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 3.0 / 2, 1.0, 1.0, 1.0, 1.0, 2.0}));
        engine.settings.mpeController = 1;
        engine.settings.inputBendRange = 2;  // 4096 steps a semitone
    }
    void start(int32_t mode, std::initializer_list<int> channels)
    {
        engine.settings.outputMode = mode;
        engine.buildTuningTable();
        useOnlyChannels(channels);
    }
    void receive(int status, int data1, int data2 = 0)
    {
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(static_cast<uint8_t>(status & 0xF0), status & 0x0F,
                                                                     static_cast<uint8_t>(data1), static_cast<uint8_t>(data2)), 0);
    }
    void receiveBend(int channel, int value) { receive(0xE0 + channel, value & 0x7F, value >> 7); }
    int channelOf(int inputChannel, int key) const { return engine.noteAllocation.keyChannel[inputChannel * 128 + key] - 1; }
};

TEST_F(MpeInputTest, PitchBendOutputGivesEachNoteAChannelOfItsOwnAndAddsItsBend)
{
    start(OutputPitchBend, {0, 1, 2, 3});
    receiveBend(1, 8192 + 4096);
    EXPECT_TRUE(sent().empty()) << "a bend before its note is kept for it, not sent";
    receive(0x91, 67, 100);
    receive(0x92, 67, 90);  // the same key on another channel: a second note
    const int first = channelOf(1, 67);
    const int second = channelOf(2, 67);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_NE(first, second) << "equal tuning, yet a channel each";
    EXPECT_EQ(sent(), (Messages{bend(first, 8272 + 4096), {uint8_t(0x90 + first), 67, 100}, bend(second, 8272),
                                {uint8_t(0x90 + second), 67, 90}}));
    output.clear();
    receiveBend(2, 8192 - 4096);
    receive(0xD2, 50);
    receive(0xB2, 74, 30);
    EXPECT_EQ(sent(), (Messages{bend(second, 8272 - 4096), {uint8_t(0xD0 + second), 50, 0}, {uint8_t(0xB0 + second), 74, 30}}));
    output.clear();
    receiveBend(1, 16383);  // two semitones up: beyond the output's wheel
    EXPECT_EQ(sent(), (Messages{bend(first, 16383)}));
    EXPECT_EQ(engine.noteAllocation.clampedBends, 1u);
    output.clear();
    receive(0x81, 67, 0);
    EXPECT_EQ(sent(), (Messages{{uint8_t(0x80 + first), 67, 0}})) << "ends its own note only";
    EXPECT_GE(channelOf(2, 67), 0);
    output.clear();
    receiveBend(1, 9000);
    receive(0xD1, 20);
    EXPECT_TRUE(sent().empty()) << "expression of a note that no longer sounds";
}

// The wheel and the note's bend add up on its channel.
TEST_F(MpeInputTest, TheManagersWheelBendsEveryNoteOnTopOfItsOwnBend)
{
    engine.settings.pitchWheelUse = PitchWheelBendNotes;
    engine.settings.playerBendRange = 1;
    start(OutputPitchBend, {0, 1, 2});
    receiveBend(3, 8192 + 2048);
    receive(0x93, 60, 100);
    output.clear();
    receiveBend(0, 8192 + 8192);  // the manager: the player's wheel, +1 semitone on top
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0], bend(channelOf(3, 60), 8192 + 2048 + 4096));
}

TEST_F(MpeInputTest, MpeOutputBendsTheMemberExactlyToTheStepAndSendsItsExpression)
{
    engine.settings.mpeBendRange = 48;
    start(OutputMpe, {0, 1, 2, 3});
    receive(0xB4, 74, 99);
    receive(0xD4, 7);
    receiveBend(4, 8192 + 4096);
    EXPECT_TRUE(sent().empty());
    receive(0x94, 67, 100);
    const int member = channelOf(4, 67);
    ASSERT_GT(member, 0);
    // One semitone plus the just fifth's distance from 12-tone key 67, at 48 semitones.
    const int expected = 8192 + static_cast<int>(std::lround((12 * std::log2(1.5) - 7 + 1) * 8192 / 48));
    const auto m = static_cast<uint8_t>(member);
    EXPECT_EQ(sent(), (Messages{bend(m, expected), {uint8_t(0xB0 + m), 74, 99}, {uint8_t(0xD0 + m), 7, 0}, {uint8_t(0x90 + m), 67, 100}}));
    output.clear();
    receiveBend(4, 8192);
    receive(0xD4, 60);
    EXPECT_EQ(sent(), (Messages{bend(m, engine.tuningTable.mpeBend[67]), {uint8_t(0xD0 + m), 60, 0}}));
    engine.settings.inputBendRange = 96;
    output.clear();
    receiveBend(4, 0);  // 96 semitones down: beyond the members' 48
    EXPECT_EQ(sent(), (Messages{bend(m, 0)}));
    EXPECT_EQ(engine.noteAllocation.clampedBends, 1u);
}

TEST_F(MpeInputTest, MidiTuningRetunesTheSoundingKeyAndTurnsPressureIntoKeyPressure)
{
    start(OutputMidiTuning, {2, 3});
    receive(0x95, 67, 100);
    const int key = engine.noteAllocation.keyOutputNote[5 * 128 + 67];
    receiveBend(6, 8192 + 4096);
    receive(0x96, 67, 100);  // the same target, a semitone up from its start
    const int other = engine.noteAllocation.keyOutputNote[6 * 128 + 67];
    ASSERT_EQ(output.longMessages.size(), 2u);
    EXPECT_EQ(output.longMessages[1][7], other);
    EXPECT_EQ(output.longMessages[1][8], output.longMessages[0][8] + 1) << "its tuning, a semitone up";
    output.clear();
    output.longMessages.clear();
    receiveBend(5, 8192 + 4096);
    receive(0xD5, 44);
    receive(0xB5, 74, 12);
    // A just fifth above 261.626 Hz, one semitone higher, as the standard's data.
    const double semitones = 69 + 12 * std::log2(261.626 * 1.5 * std::exp2(1.0 / 12) / 440);
    const long fraction = std::lround((semitones - std::floor(semitones)) * 16384);
    EXPECT_EQ(output.longMessages, (std::vector<Bytes>{{0xF0, 0x7F, 0x7F, 0x08, 0x02, 0, 1, uint8_t(key), uint8_t(std::floor(semitones)),
                                                        uint8_t(fraction >> 7), uint8_t(fraction & 0x7F), 0xF7}}));
    EXPECT_EQ(sent(), (Messages{{0xA2, uint8_t(key), 44}, {0xB2, 74, 12}}));
}

TEST_F(MpeInputTest, AConfigurationMessageSwitchesTheReadingAndEndsNotesWhoseIdentityChanges)
{
    engine.settings.mpeController = 0;
    start(OutputPitchBend, {0, 1});
    receive(0x90, 60, 100);
    output.clear();
    for (const int controller : {101, 100, 6, 38})
        receive(0xB0, controller, controller == 101 ? 0 : controller == 100 ? 6 : controller == 6 ? 15 : 0);
    EXPECT_EQ(engine.settings.mpeController, 1);
    EXPECT_EQ(engine.modesText(), "  |  MPE controller announced: lower zone, 15 channels");
    // The selection was relayed to both channels before it was known for what.
    ASSERT_EQ(sent().size(), 5u) << "the member count and its fine part go no further";
    EXPECT_EQ(sent()[4], (ShortMessage{0x80, 60, 0})) << "the held note ends";
    output.clear();
    for (const int controller : {101, 100, 6})
        receive(0xBF, controller, controller == 101 ? 0 : controller == 100 ? 6 : 0);
    EXPECT_EQ(engine.settings.mpeController, 1) << "closing the other zone changes nothing";
    for (const int controller : {101, 100, 6})
        receive(0xBF, controller, controller == 101 ? 0 : controller == 100 ? 6 : 7);
    EXPECT_EQ(engine.modesText(), "  |  MPE controller announced: upper zone, 7 channels");
    for (const int channel : {3, 15})  // its bend ranges: a member's, then the manager's
        for (const int controller : {101, 100, 6})
            receive(0xB0 + channel, controller, controller == 6 ? 24 - channel : 0);
    EXPECT_EQ(engine.settings.inputBendRange, 21);
    EXPECT_EQ(engine.settings.playerBendRange, 9);
    for (const int controller : {101, 100, 6})
        receive(0xB3, controller, 0);
    EXPECT_EQ(engine.settings.inputBendRange, 21) << "a range of nothing is no range";
    engine.settings.inputBendRange = 2;
    EXPECT_TRUE(sent().empty());
    receive(0x90, 60, 100);  // channel 1 is a member of the upper zone
    receive(0xE0, 0, 0x50);
    EXPECT_EQ(sent().back(), bend(channelOf(0, 60), 10240)) << "+2048 at 2 semitones each side";
    for (const int controller : {101, 100, 6})
        receive(0xBF, controller, controller == 101 ? 0 : controller == 100 ? 6 : 0);
    EXPECT_EQ(engine.settings.mpeController, 0);
    EXPECT_EQ(engine.modesText(), "");
}

TEST_F(MpeInputTest, AllSoundOffOnTheManagerEndsEveryNoteOfTheZone)
{
    start(OutputPitchBend, {0, 1, 2});
    receive(0x92, 60, 100);
    receive(0x93, 67, 100);
    const int channels[] = {channelOf(2, 60), channelOf(3, 67)};
    output.clear();
    receive(0xB0, 1, 64);  // the zone's modulation wheel ends nothing
    receive(0xB0, 120, 0);
    EXPECT_EQ(sent(), (Messages{{0xB0, 1, 64}, {0xB1, 1, 64}, {0xB2, 1, 64}, {uint8_t(0x80 + channels[0]), 60, 0},
                                {uint8_t(0x80 + channels[1]), 67, 0}, {0xB0, 120, 0}, {0xB1, 120, 0}, {0xB2, 120, 0}}));
    output.clear();
    receive(0x82, 60, 0);
    EXPECT_TRUE(sent().empty());
}

TEST_F(MpeInputTest, KeyPressureFollowsItsNoteFromAnyKeyboard)
{
    engine.settings.mpeController = 0;
    engine.settings.pitchWheelRange = 12;
    start(OutputPitchBend, {0, 1});
    engine.settings.relay[RelayAftertouch] = 1;
    receive(0x90, 60, 100);
    receive(0x90, 67, 100);
    output.clear();
    receive(0xA0, 67, 33);
    receive(0xA0, 61, 33);  // not sounding
    EXPECT_EQ(sent(), (Messages{{uint8_t(0xA0 + engine.noteAllocation.keyChannel[67] - 1), engine.tuningTable.outputKey[67], 33}}));
}

}  // namespace
