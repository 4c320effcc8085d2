#pragma once
// How a scale lies on the keys: which key holds which scale degree, which
// keys stay silent, and which key sounds which frequency. Without a mapping
// in force every key is the next degree after the one below it.

#include <cstdint>

#include "scale/scale.h"

constexpr int MaxMapSize = 1024;
constexpr int32_t UnmappedEntry = INT32_MIN;
// Entries and the formal octave degree are limited so that no degree
// arithmetic can overflow.
constexpr int32_t MaxMappedDegree = 1000000;
constexpr int MaxMappingNameLength = 255;
// A key index: a key number, or on a board that spreads its keys over
// several channels, a key's place across them.
constexpr int MaxKeyIndex = 2047;

struct KeyboardMapping {
    int32_t active;       // 0: no mapping in force
    int32_t size;         // entries per repeat; 0 = every key the next degree
    // Key indices, 0..MaxKeyIndex: keys outside firstKey..lastKey do not
    // sound; entry 0 lies on middleKey.
    uint16_t firstKey;
    uint16_t lastKey;
    uint16_t middleKey;
    uint16_t referenceKey;
    double referenceFrequency;  // Hz that referenceKey sounds
    int32_t octaveDegree;       // degrees per repeat of the pattern; 0 = the scale's own count
    int32_t entry[MaxMapSize];  // a degree, or UnmappedEntry
    char name[MaxMappingNameLength + 1];  // the file name, UTF-8
};

// The degree that key plays with the pattern's entry 0 on centre, ignoring
// the first and last key; false where the pattern leaves the key unmapped.
bool patternDegree(const KeyboardMapping& m, int32_t degreesPerPeriod, int centre, int key, int64_t& degree);

// As patternDegree, and false as well for keys outside firstKey..lastKey.
bool mappedDegree(const KeyboardMapping& m, int32_t degreesPerPeriod, int centre, int key, int64_t& degree);

// The frequency of degree 0 that makes the reference key sound the
// reference frequency, with entry 0 on the middle key.
double mappedHomePitch(const KeyboardMapping& m, const Scale& s);
