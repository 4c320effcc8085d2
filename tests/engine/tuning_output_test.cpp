// MIDI Tuning output: each key retuned right before its Note On on one
// channel, never while a note on it sounds; and the bulk dump's bytes.

#include <gtest/gtest.h>

#include <cmath>

#include "engine/tuning_dump.h"
#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

class TuningOutputTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.settings.outputMode = OutputMidiTuning;
        engine.settings.tuningProgram = 5;
        engine.installScale(equalScale(31, 2.0));
        engine.buildTuningTable();
        useOnlyChannels({2, 5});  // the notes go on channel 3 alone
    }
    // The single-note change that tunes outputKey to the frequency, as the
    // standard defines its data: the key below and 1/16384 semitones above.
    static Bytes change(int outputKey, double hz)
    {
        const double semitones = 69 + 12 * std::log2(hz / 440);
        const long fraction = std::lround((semitones - std::floor(semitones)) * 16384);
        return {0xF0, 0x7F, 0x7F, 0x08, 0x02, 5, 1, uint8_t(outputKey), uint8_t(std::floor(semitones)),
                uint8_t(fraction >> 7), uint8_t(fraction & 0x7F), 0xF7};
    }
    double target(int key) const { return engine.tuningTable.targetFrequency[key]; }
    int outputKeyOf(int key) const { return engine.noteAllocation.keyOutputNote[key]; }
};

TEST_F(TuningOutputTest, RetunesTheNearestFreeKeyRightBeforeItsNoteOn)
{
    engine.greetNewListener();
    EXPECT_EQ(sent(), (std::vector<ShortMessage>{{0xB2, 101, 0}, {0xB2, 100, 4}, {0xB2, 6, 0}, {0xB2, 38, 0},
                                                 {0xB2, 101, 127}, {0xB2, 100, 127}, {0xB2, 101, 0}, {0xB2, 100, 3},
                                                 {0xB2, 6, 5}, {0xB2, 38, 0}, {0xB2, 101, 127}, {0xB2, 100, 127}}));
    output.clear();
    play(engine, "+60 +61 +62");  // 0, 39 and 77 cents above middle C: all nearest key 60 or 61
    EXPECT_EQ(output.order, "lslsls");
    EXPECT_EQ(output.longMessages, (std::vector<Bytes>{change(60, target(60)), change(61, target(61)),
                                                       change(62, target(62))}));
    EXPECT_EQ(sent()[2], (ShortMessage{0x92, 62, 100})) << "61 sounds: 62 takes the next key up";
    play(engine, "-61");
    EXPECT_EQ(sent().back(), (ShortMessage{0x82, 61, 64}));
}

uint32_t fakeNow = 0;

// A key is spared while its last note's tail rings, and only then.
TEST_F(TuningOutputTest, AKeyIsNotRetunedWithinItsReleaseTime)
{
    engine.engineClock = [] { return fakeNow; };
    engine.settings.releaseTime = 500;
    fakeNow = 1000;
    engine.resetChannels();
    play(engine, "+60 -60 +61");  // 61 wants key 60, whose tail rings
    EXPECT_EQ(outputKeyOf(61), 61);
    fakeNow = 1600;
    play(engine, "-61 +62");  // 62 wants key 61, just released: key 60 has rung out
    EXPECT_EQ(outputKeyOf(62), 60);
}

TEST_F(TuningOutputTest, KeysThePedalHoldsStayTunedUntilItIsLifted)
{
    play(engine, "S +61 -61 +60");
    EXPECT_EQ(outputKeyOf(61), 60);
    EXPECT_EQ(outputKeyOf(60), 61) << "key 60 still sounds under the pedal";
    play(engine, "-60 s +60");
    EXPECT_EQ(outputKeyOf(60), 60);

    play(engine, "S");
    for (int k = 0; k < 128; ++k)
        play(engine, "+" + std::to_string(k) + " -" + std::to_string(k));
    output.clear();
    play(engine, "+64");
    EXPECT_TRUE(output.order.empty()) << "all 128 keys held: nothing is retuned";
    EXPECT_EQ(engine.noteAllocation.droppedNotes, 1u);
}

// After a modulation a note sounding on key 60 keeps its tuning: a new note
// that would want that key takes another.
TEST_F(TuningOutputTest, AModulationNeverRetunesASoundingKey)
{
    engine.settings.commandKey = 36;
    play(engine, "+60 +36 +61 -61 -36");
    output.clear();
    play(engine, "+60 +59");
    ASSERT_EQ(output.longMessages.size(), 1u) << "60 is held: its Note On is ignored";
    EXPECT_NE(output.longMessages[0][7], 60);
    EXPECT_EQ(output.longMessages[0], change(outputKeyOf(59), target(59)));
}

// Twelve-tone equal at 440 Hz, key 61 silent, program 5 on every device.
TEST(TuningDump, HoldsTheNameEveryKeyAndTheChecksum)
{
    TuningTable table{};
    for (int k = 0; k < KeyCount; ++k)
        table.targetFrequency[k] = 440 * std::pow(2.0, (k - 69) / 12.0);
    table.unmapped[61] = 1;
    uint8_t dump[TuningDumpSize];
    encodeTuningDump(table, "Equal 12", 0x7F, 5, dump);
    const Bytes head = {0xF0, 0x7E, 0x7F, 0x08, 0x01, 0x05, 'E', 'q', 'u', 'a', 'l', ' ', '1', '2',
                        ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ', ' '};
    EXPECT_EQ(Bytes(dump, dump + 22), head);
    for (int k = 0; k < KeyCount; ++k) {
        const Bytes data = k == 61 ? Bytes{0x7F, 0x7F, 0x7F} : Bytes{uint8_t(k), 0, 0};
        EXPECT_EQ(Bytes(dump + 22 + 3 * k, dump + 25 + 3 * k), data) << k;
    }
    EXPECT_EQ(dump[406], 0x20);  // worked out by hand from the bytes above
    EXPECT_EQ(dump[407], 0xF7);
}

}  // namespace
