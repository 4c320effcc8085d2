#pragma once
// A scale: its degrees as ratios of the centre key's pitch, and the
// arithmetic of whole periods.

#include <cstdint>

constexpr int MaxScaleNameLength = 100;
constexpr int MaxDegrees = 127;         // of a scale in the native language
constexpr int MaxScalaDegrees = 2048;   // of a Scala scale
constexpr int RatioCount = MaxScalaDegrees + 1;

struct Scale {
    char name[MaxScaleNameLength + 1];
    double pitch;          // Hz at which degree 0 sounds on the centre key
    uint8_t centre;        // key of degree 0
    int32_t octavePeriod;  // 1 when ratio[degrees] is exactly 2.0
    int32_t degrees;       // degrees per period, 1..MaxScalaDegrees; ratio[degrees] is the period
    double ratio[RatioCount];
};

// Whether an instrument can aim at hz: finite, 1 Hz to 100 kHz.
bool isAudibleFrequency(double hz);

// True when degrees lies in 1..MaxScalaDegrees, so that ratio[degrees] exists.
bool hasUsableDegrees(const Scale& s);

// a / b rounded towards minus infinity; b > 0.
int64_t floorDivide(int64_t a, int64_t b);

// The ratio of any whole degree, negative too: whole periods times the
// degree's place within its period.
double ratioOfDegree(const Scale& s, int64_t degree);

// The built-in "12 tone equal temperament" on middle C.
Scale defaultScale();
