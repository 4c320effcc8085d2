#pragma once
// Per input key: the instrument key to play, the pitch bend that moves it onto
// the scale's frequency, and the group of keys that share that bend.

#include <cstdint>

#include "engine/engine_lock.h"

constexpr int KeyCount = 128;
constexpr int32_t BendCentre = 8192;
constexpr int32_t BendMax = 16383;

struct TuningTable {
    double instrumentFrequency[KeyCount];
    uint8_t outputKey[KeyCount];
    int32_t bendValue[KeyCount];
    uint8_t bendGroup[KeyCount];
    // The frequency the scale asks of each key; what outputKey and bendValue
    // play comes as close to it as the instrument's range allows.
    double targetFrequency[KeyCount];
    // 1 where a keyboard mapping leaves the key silent; its other fields
    // then mean nothing.
    uint8_t unmapped[KeyCount];
    // Set by buildInstrumentFrequencies when every frequency is positive and
    // strictly rising, which lets findNearestKey search instead of scanning.
    int32_t instrumentAscending;
};

extern TuningTable tuningTable GUARDED_BY_ENGINE_LOCK;

enum MoveMode : uint8_t {
    MoveModulate = 0,
    MoveDemodulate = 1,
    MoveReset = 2,
};

// Key frequencies of a 12-tone equal instrument anchored at
// referenceFrequency on referenceKey.
void buildInstrumentFrequencies() NEEDS_ENGINE_LOCK;

// The instrument key nearest to frequency in ratio; the lower key on a tie.
// A key whose frequency is not positive never qualifies, nor does any key for
// a target that is not a positive number: the result is then 60.
int findNearestKey(double frequency) NEEDS_ENGINE_LOCK;

// Fills outputKey, bendValue and bendGroup from the scale, the keyboard
// mapping in force and the working centre. A scale whose degrees lie outside 1..127 is refused and the table
// keeps its contents; the result tells which.
bool buildTuningTable() NEEDS_ENGINE_LOCK;

// Modulates to key, demodulates by key, or resets to the scale's own centre,
// then rebuilds the table. Refuses (returns false, changes nothing) for a
// scale whose degrees lie outside 1..127, or a key the mapping leaves silent.
bool moveCentre(uint8_t key, uint8_t mode, int32_t shift) NEEDS_ENGINE_LOCK;
