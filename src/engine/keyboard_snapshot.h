#pragma once
// What a keyboard view shows of the engine: each key index's place in the
// scale, its tuning and whether it sounds, copied under the engine lock so
// that the view is drawn without it.

#include <cstdint>
#include <vector>

enum KeyState : uint8_t {
    KeyQuiet = 0,
    KeySounding = 1,
    KeyPedalHeld = 2,  // released, and held by a pedal
};

struct KeyView {
    bool mapped;        // false: the keyboard mapping leaves it silent
    int32_t degree;     // within the period, 0..degrees - 1
    int64_t period;     // periods above (negative: below) the centre's
    double target;      // Hz
    uint8_t outputKey;  // the instrument key it plays, or in MIDI Tuning its nearest
    int32_t bend;       // the bend it starts with: the channel's, or an MPE member's
    uint8_t state;      // a KeyState
    uint8_t channel;    // output channel + 1 while it sounds or is held; 0 = none
};

struct KeyboardSnapshot {
    int32_t outputMode;
    int32_t degrees;
    uint16_t centre;           // the working centre's index
    bool overChannels;         // a key layout over channels: the keys are indices
    uint8_t commandKeys[4];    // modulate, demodulate, reset pitch, init message; NoKey = none
    std::vector<KeyView> keys;  // by index
};
