#pragma once
// Per key index (the key number, or with a multi-channel key layout the
// key's place across the channels): the instrument key to play, the pitch
// bend that moves it onto the scale's frequency, and the group of indices
// that share that bend.

#include <cstdint>

#include "engine/engine_lock.h"

constexpr int KeyCount = 128;
constexpr int MaxIndexCount = 2048;
constexpr uint16_t NoGroup = 0xFFFF;  // a channel tuned to no group
constexpr int32_t BendCentre = 8192;
constexpr int32_t BendMax = 16383;

struct TuningTable {
    double instrumentFrequency[KeyCount];
    // By index, up to Engine::indexCount():
    uint8_t outputKey[MaxIndexCount];
    int32_t bendValue[MaxIndexCount];
    // The bend onto the target at the MPE members' range, to the nearest
    // step; built in MPE output mode only.
    int32_t mpeBend[MaxIndexCount];
    // The target as MIDI Tuning frequency data: the 12-tone key at or below
    // it (440 Hz on 69) and 14 bits of a semitone above; 7F 7F 7F ("no
    // change") for a key the mapping leaves silent. Built in MIDI Tuning
    // output mode only.
    uint8_t tuningData[MaxIndexCount][3];
    uint16_t bendGroup[MaxIndexCount];
    // The frequency the scale asks of each key; what outputKey and bendValue
    // play comes as close to it as the instrument's range allows.
    double targetFrequency[MaxIndexCount];
    // 1 where a keyboard mapping leaves the index silent; its other fields
    // then mean nothing.
    uint8_t unmapped[MaxIndexCount];
    // Set by buildInstrumentFrequencies when every frequency is positive and
    // strictly rising, which lets findNearestKey search instead of scanning.
    int32_t instrumentAscending;
};


// An instrument key and the bend that moves it onto a target.
struct KeyTuning {
    int key;
    int32_t bend;
    double octaves;  // from the key to the target; not a number when undefined
};

// The bend from instrument to target, in units at unitsPerOctave, before
// rounding and within twice the wheel's reach; 0 for a target whose
// logarithm is undefined (a frequency that is zero, negative or not a
// number on either side).
double bendUnits(double target, double instrument, double unitsPerOctave);

// frequency as MIDI Tuning frequency data, to the nearest 1/16384 of a
// semitone, within what the format holds (never the "no change" value).
void tuningFrequencyBytes(double frequency, uint8_t (&bytes)[3]);

enum MoveMode : uint8_t {
    MoveModulate = 0,
    MoveDemodulate = 1,
    MoveReset = 2,
};
