#include <array>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "engine/scale_in_force.h"
#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

class TuningTableTest : public EngineTest {};

// Frequency that key k actually sounds: the instrument key bent by its value.
double soundedFrequency(Engine& engine, int key)
{
    const double semitones = (engine.tuningTable.bendValue[key] - 8192.0) / 8192.0 * engine.settings.pitchWheelRange;
    return engine.tuningTable.instrumentFrequency[engine.tuningTable.outputKey[key]] * std::pow(2.0, semitones / 12.0);
}

TEST_F(TuningTableTest, InstrumentFrequenciesFollowTheReference)
{
    EXPECT_DOUBLE_EQ(engine.tuningTable.instrumentFrequency[69], 440.0);
    EXPECT_NEAR(engine.tuningTable.instrumentFrequency[60], 261.6255653, 1e-6);
    EXPECT_NEAR(engine.tuningTable.instrumentFrequency[81], 880.0, 1e-9);
    engine.settings.referenceFrequency = 442.0;
    engine.settings.referenceKey = 57;
    engine.buildInstrumentFrequencies();
    EXPECT_DOUBLE_EQ(engine.tuningTable.instrumentFrequency[57], 442.0);
    EXPECT_NEAR(engine.tuningTable.instrumentFrequency[69], 884.0, 1e-9);
}

TEST_F(TuningTableTest, DefaultScalePlaysEveryKeyUnbent)
{
    for (int k = 0; k < 128; ++k) {
        EXPECT_EQ(engine.tuningTable.outputKey[k], k) << "key " << k;
        EXPECT_EQ(engine.tuningTable.bendValue[k], 8192) << "key " << k;
        EXPECT_EQ(engine.tuningTable.bendGroup[k], (k + 12 * 11 - 60) % 12) << "key " << k;
    }
}

// Octave copies keep the bend and move twelve instrument keys; at range 0
// nothing is bent.
TEST_F(TuningTableTest, JustIntervalsGiveTheWorkedBends)
{
    engine.installScale(makeScale({1.0, 1.0, 1.0, 5.0 / 4, 1.0, 1.0, 3.0 / 2, 1.0, 1.0, 7.0 / 4, 1.0, 2.0}));
    for (const auto& [range, fifth, third, seventh] : {std::array{2, 8272, 7632, 6916}, {12, 8205, 8099, 7980}, {0, 8192, 8192, 8192}}) {
        engine.settings.pitchWheelRange = static_cast<uint8_t>(range);
        ASSERT_TRUE(engine.buildTuningTable());
        for (const int octave : {-12, 0, 12}) {
            EXPECT_EQ(engine.tuningTable.outputKey[67 + octave], 67 + octave);
            EXPECT_EQ(engine.tuningTable.bendValue[67 + octave], fifth) << range;
            EXPECT_EQ(engine.tuningTable.bendValue[64 + octave], third) << range;
            EXPECT_EQ(engine.tuningTable.bendValue[70 + octave], seventh) << range;
        }
    }
}

// Ties go to the lower key; a frequency that is not positive gives key 60,
// and a target that is not gives bend 0 everywhere.
TEST_F(TuningTableTest, NearestKeysAndUnusableFrequencies)
{
    const double halfway = std::sqrt(engine.tuningTable.instrumentFrequency[60] * engine.tuningTable.instrumentFrequency[61]);
    EXPECT_EQ(engine.findNearestKey(halfway), 60);
    EXPECT_EQ(engine.findNearestKey(halfway * 1.0001), 61);
    EXPECT_EQ(engine.findNearestKey(1.0), 0);
    EXPECT_EQ(engine.findNearestKey(1e6), 127);
    for (const double unusable : {0.0, -440.0, std::nan("")})
        EXPECT_EQ(engine.findNearestKey(unusable), 60);

    engine.installScale(makeScale({1.5, 2.0}, -261.626));
    ASSERT_TRUE(engine.buildTuningTable());
    EXPECT_EQ(engine.tuningTable.outputKey[61], 60);
    for (int k = 0; k < 128; ++k)
        EXPECT_EQ(engine.tuningTable.bendValue[k], 0);
}

TEST_F(TuningTableTest, TargetsBeyondTheKeyboardSaturateTheBend)
{
    engine.installScale(makeScale({2.0}, 5.0, 60));  // one degree a period: key k sounds 5 Hz * 2^(k-60)
    engine.buildTuningTable();
    EXPECT_EQ(engine.tuningTable.outputKey[60], 0);
    EXPECT_EQ(engine.tuningTable.bendValue[60], 0);
    engine.installScale(makeScale({2.0}, 30000.0, 60));
    engine.buildTuningTable();
    EXPECT_EQ(engine.tuningTable.outputKey[60], 127);
    EXPECT_EQ(engine.tuningTable.bendValue[60], 16383);
}

TEST_F(TuningTableTest, OctaveModeCopiesClampAtTheKeyboardEnds)
{
    engine.installScale(equalScale(5, 2.0));
    ASSERT_EQ(engine.scale.octavePeriod, 1);
    engine.buildTuningTable();
    const int n = engine.tuningTable.outputKey[60];
    EXPECT_EQ(n, 60);
    for (int m = 1; 60 + 5 * m <= 127; ++m) {
        const int key = 60 + 5 * m;
        EXPECT_EQ(engine.tuningTable.outputKey[key], std::min(n + 12 * m, 127)) << "key " << key;
        EXPECT_EQ(engine.tuningTable.bendValue[key], engine.tuningTable.bendValue[60]);
        EXPECT_EQ(engine.tuningTable.bendGroup[key], 0);
    }
    EXPECT_EQ(engine.tuningTable.outputKey[125], 127);
    EXPECT_EQ(engine.tuningTable.outputKey[0], 0);
    EXPECT_EQ(engine.tuningTable.bendGroup[61], 1);
    EXPECT_EQ(engine.tuningTable.bendGroup[59], 4);
}

TEST_F(TuningTableTest, LinearModeWalksWholePeriodsFromTheCentre)
{
    const Scale bp = equalScale(13, 3.0);
    engine.installScale(bp);
    ASSERT_EQ(engine.scale.octavePeriod, 0);
    ASSERT_TRUE(engine.buildTuningTable());
    EXPECT_NEAR(soundedFrequency(engine, 73), 3 * 261.626, 3 * 261.626 * 0.0003);
    EXPECT_NEAR(soundedFrequency(engine, 59), 261.626 / 3 * bp.ratio[12], 0.05);
    for (int k = 0; k < 128; ++k)
        EXPECT_EQ(engine.tuningTable.bendGroup[k], k);
    // Every key in the playable range lands within a bend unit of its target.
    for (int k = 30; k < 100; ++k) {
        const int offset = k - 60;
        const int q = offset >= 0 ? offset / 13 : -((-offset + 12) / 13);
        const int r = offset - 13 * q;
        const double target = 261.626 * std::pow(3.0, q) * bp.ratio[r];
        EXPECT_NEAR(std::log2(soundedFrequency(engine, k) / target) * 1200, 0.0, 0.05) << "key " << k;
    }
}

// The interval to a target counts whole periods on either side of the
// centre, in both build modes; the ratios are worked out by hand.
TEST_F(TuningTableTest, ModulationCountsWholePeriodsOnEitherSide)
{
    const Scale justMajor = makeScale({9.0 / 8, 5.0 / 4, 4.0 / 3, 3.0 / 2, 5.0 / 3, 15.0 / 8, 2.0});
    const Scale tritaveJust = makeScale({5.0 / 3, 9.0 / 5, 3.0});  // linear mode
    const struct {
        const Scale& scale;
        int offset;  // target key minus the centre
        double interval;
    } cases[] = {
        {justMajor, -1, 15.0 / 16},     {justMajor, -7, 0.5},        {justMajor, 7, 2.0},
        {justMajor, 1, 9.0 / 8},        {justMajor, 17, 16.0 / 3},   {justMajor, -17, 3.0 / 16},
        {justMajor, -8, 15.0 / 32},
        {tritaveJust, -1, 3.0 / 5},     {tritaveJust, -3, 1.0 / 3},  {tritaveJust, 3, 3.0},
        {tritaveJust, 8, 9.0 * 9 / 5},  {tritaveJust, -8, 5.0 / 81}, {tritaveJust, -4, 1.0 / 5},
    };
    for (const auto& c : cases) {
        engine.installScale(c.scale);
        const auto target = static_cast<uint8_t>(60 + c.offset);
        ASSERT_TRUE(engine.moveCentre(target, MoveModulate, 0)) << c.offset;
        EXPECT_NEAR(engine.currentPitch / 261.626, c.interval, 1e-12) << "degrees " << c.scale.degrees << ", offset " << c.offset;
        ASSERT_TRUE(engine.moveCentre(target, MoveDemodulate, 0));
        EXPECT_NEAR(engine.currentPitch, 261.626, 1e-9) << c.offset;
    }
}

TEST_F(TuningTableTest, ScalesWithUnusableDegreesAreRefused)
{
    const TuningTable before = engine.tuningTable;
    for (int degrees : {0, -5, MaxScalaDegrees + 1, 100000}) {
        Scale bad = makeScale({2.0});
        bad.degrees = degrees;
        bad.octavePeriod = 0;
        engine.installScale(bad);
        EXPECT_FALSE(engine.buildTuningTable()) << degrees;
        EXPECT_FALSE(engine.moveCentre(70, MoveModulate, 1)) << degrees;
        EXPECT_FALSE(engine.moveCentre(0, MoveReset, 0)) << degrees;
        EXPECT_EQ(engine.currentCentre, 60);
        EXPECT_EQ(std::memcmp(&before, &engine.tuningTable, sizeof before), 0) << degrees;
    }
    engine.installScale(equalScale(MaxScalaDegrees, 2.0));
    EXPECT_TRUE(engine.buildTuningTable());
    EXPECT_FALSE(engine.moveCentre(KeyCount, MoveModulate, 0));
}

}  // namespace
