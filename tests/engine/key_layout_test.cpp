// Boards that spread their keys over channels: a key's index is its number
// plus Keys per Channel for each channel above the first, and the whole
// tuning works on indices.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <cstdio>

#include "support/engine_fixture.h"
#include "support/gesture.h"
#include "support/scale_builder.h"
#include "support/temp_dir.h"

namespace {

class KeyLayoutTest : public EngineTest {
protected:
    void layOut(int keysPerChannel)
    {
        engine.settings.keyLayout = KeyLayoutChannelOffset;
        engine.settings.keysPerChannel = keysPerChannel;
    }
    void receive(int status, int key, int velocity)
    {
        engine.handleMidiInput(nullptr, MimData, 0,
                               packShortMessage(static_cast<uint8_t>(status & 0xF0), status & 0x0F,
                                                static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)), 0);
    }
    // A Scala file of the given cents, the last one the period.
    std::string scalaFile(const std::vector<double>& cents)
    {
        std::string text = "! held out\nGenerated\n" + std::to_string(cents.size()) + "\n";
        for (const double c : cents) {
            char line[40];
            std::snprintf(line, sizeof line, "%.12f\n", c);
            text += c == 1200.0 ? "2/1\n" : line;
        }
        return folder.write("generated.scl", text);
    }
    TempDir folder;
};

TEST_F(KeyLayoutTest, FiveChannelsOfThirtyOneKeysPlayThirtyOneStepsAcrossTheBoard)
{
    layOut(31);
    engine.settings.commandKey = 100;
    engine.settings.shiftCentre = 1;
    engine.installScale(equalScale(31, 2.0, 261.626, 0));
    engine.buildTuningTable();
    useOnlyChannels({0, 1, 2, 3});
    EXPECT_EQ(engine.indexCount(), 128 + 31 * 15);
    EXPECT_EQ(engine.tuningTable.targetFrequency[155], 32 * engine.tuningTable.targetFrequency[0]) << "five periods";
    receive(0x90, 0, 100);
    receive(0x95, 0, 100);  // index 155
    ASSERT_EQ(sent().size(), 4u);
    EXPECT_EQ(sent()[3].data1, sent()[1].data1 + 60);
    EXPECT_EQ(sent()[2].channel(), sent()[0].channel()) << "one bend: they share a channel";

    // The same key on two channels: two notes, each ended by its own Note Off only.
    output.clear();
    receive(0x91, 10, 100);  // index 41
    receive(0x92, 10, 100);  // index 72
    receive(0x83, 10, 0);    // no such note on channel 4
    EXPECT_EQ(sent().size(), 4u);
    receive(0x81, 10, 0);
    receive(0x82, 10, 0);
    ASSERT_EQ(sent().size(), 6u);
    EXPECT_EQ(sent()[4].data1, sent()[1].data1);
    EXPECT_EQ(sent()[5].data1, sent()[3].data1);
    EXPECT_NE(sent()[1].data1, sent()[3].data1);

    // The command key works on any channel; the target is the index played.
    receive(0x9F, 100, 100);
    receive(0x94, 3, 100);  // index 127
    receive(0x84, 3, 0);
    receive(0x8F, 100, 0);
    EXPECT_EQ(engine.currentCentre, 127);
}

// Every index of random layouts and Scala scales the project does not hold,
// a 612-note one first, against the format's own arithmetic: degree 0 on the
// centre, whole periods up and down.
TEST_F(KeyLayoutTest, EveryIndexSoundsWhatAnIndependentCalculationGives)
{
    std::mt19937 rng(20261208);
    for (int round = 0; round < 16; ++round) {
        const int notes = round == 0 ? 612 : std::uniform_int_distribution<int>(1, MaxScalaDegrees)(rng);
        const int keysPerChannel = round == 0 ? 128 : std::uniform_int_distribution<int>(1, 128)(rng);
        std::vector<double> cents;
        double total = 0;
        for (int n = 0; n < notes; ++n)
            cents.push_back(total += std::uniform_real_distribution<double>(0.1, 8.0)(rng));
        if (round % 2 == 0)
            cents.back() = 1200.0;  // octave periods: the other way of building
        layOut(keysPerChannel);
        ASSERT_EQ(engine.loadScale(scalaFile(cents).c_str()), "") << round;
        ASSERT_TRUE(engine.buildTuningTable());
        const double degreeZero = engine.tuningTable.targetFrequency[60];
        for (int index = 0; index < engine.indexCount(); ++index) {
            const long steps = index - 60;
            const long periods = static_cast<long>(std::floor(static_cast<double>(steps) / notes));
            const long place = steps - periods * notes;
            const double expected = degreeZero * std::exp2((periods * cents.back() + (place ? cents[place - 1] : 0.0)) / 1200.0);
            ASSERT_NEAR(engine.tuningTable.targetFrequency[index] / expected, 1.0, 1e-9)
                << "round " << round << ", " << notes << " notes, " << keysPerChannel << " keys per channel, index " << index;
        }
    }
}

TEST_F(KeyLayoutTest, AMappingDescribesAWholeBoard)
{
    layOut(128);
    ASSERT_EQ(engine.loadScale(scalaFile([] {
                                   std::vector<double> c;
                                   for (int i = 1; i <= 31; ++i)
                                       c.push_back(i == 31 ? 1200.0 : i * 1200.0 / 31);
                                   return c;
                               }()).c_str()),
              "");
    // Keys 300 to 1500; entry 0 on 700, which sounds 440 Hz.
    ASSERT_EQ(engine.loadKeyboardMapping(folder.write("board.kbm", "0\n300\n1500\n700\n700\n440.0\n0\n").c_str()), "");
    ASSERT_TRUE(engine.buildTuningTable());
    useOnlyChannels({0, 1});
    EXPECT_TRUE(engine.tuningTable.unmapped[299]);
    EXPECT_TRUE(engine.tuningTable.unmapped[1501]);
    EXPECT_DOUBLE_EQ(engine.tuningTable.targetFrequency[731], 880.0);
    receive(0x95, 91, 100);  // channel 6, key 91: index 731
    EXPECT_EQ(sent().back(), (ShortMessage{static_cast<uint8_t>(sent().back().status), 81, 100})) << "A above A 440";
    output.clear();
    receive(0x92, 43, 100);  // index 299
    EXPECT_TRUE(sent().empty());
}

}  // namespace
