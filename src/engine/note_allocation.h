#pragma once
// The polyphonic core: each sounding key gets an output channel tuned to its
// bend group, and the command keys modulate the scale.

#include <cstdint>

#include "engine/engine_lock.h"

struct ChannelSlot {
    uint8_t noteCount;  // input keys held down on this channel
    uint16_t group;     // bend group the channel is tuned to; NoGroup = none
    // Released keys that a pedal still holds sounding: by the sustain pedal,
    // and by the sostenuto pedal (keys it caught when it went down).
    uint8_t sustainedCount;
    uint8_t sostenutoCount;
    uint32_t releasedAt;  // engine clock when a note on it last ended
    int32_t bend;         // the bend last sent on it since the reset; -1 = none
    uint32_t startedAt;   // NoteAllocation::notesStarted when its last note began
    // An MPE controller's note sounding on it alone: its own bend, from the
    // centre at the input bend range, and the frequency it began at.
    int32_t noteBend;
    double target;
};

// A note's identity: its key, or with an MPE controller its channel × 128
// plus its key.
constexpr int NoteIdCount = 16 * 128;
using NoteId = uint16_t;

// Milliseconds on a steady clock; tests may put their own in place.
using EngineClock = uint32_t (*)();
uint32_t steadyMilliseconds();

constexpr uint8_t SustainController = 64;
constexpr uint8_t SostenutoController = 66;

enum PedalHold : uint8_t {
    PedalSustain = 1,
    PedalSostenuto = 2,
};

enum CommandState : uint8_t {
    CommandIdle = 0,
    CommandModulate = 1,    // the command key is held
    CommandDemodulate = 2,  // ... and the demodulate key was pressed
};

// Told the key last pressed (its channel, number and index), on the input
// thread under the engine lock.
using LastKeyListener = void (*)(uint8_t channel, uint8_t key, uint16_t index);

struct NoteAllocation {
    ChannelSlot channelSlot[16];
    // In MIDI Tuning output, by output key: the notes each key holds.
    ChannelSlot keySlot[128];
    // By NoteId, while the note is held: 0 = not sounding, else output
    // channel + 1; and the output key its Note On used.
    uint8_t keyChannel[NoteIdCount];
    uint8_t keyOutputNote[NoteIdCount];
    uint8_t lastTunedChannel;
    uint8_t commandState;
    uint8_t modulationKey;
    uint8_t lastKey;
    uint8_t lastChannel;
    uint16_t lastIndex;
    uint32_t keyPresses;  // Note Ons received, so that a window sees a key pressed again
    LastKeyListener lastKeyListener;
    int32_t lastKeyListenerEnabled;
    // The last relayed value of the input's controller 64 (sustain) and 66
    // (sostenuto) while the pedal is down (64 or more); 0 while it is up.
    uint8_t sustainValue;
    uint8_t sostenutoValue;
    uint8_t keyCaught[NoteIdCount];  // held when the sostenuto pedal went down
    // By NoteId, a released note a pedal still holds: PedalSustain or
    // PedalSostenuto, 0 = none; and the output channel + 1 it sounds on.
    uint8_t keyPedalHeld[NoteIdCount];
    uint8_t keyHeldChannel[NoteIdCount];
    uint32_t droppedNotes;         // for want of a channel, since the last reset
    uint32_t stolenNotes;          // ended early for a newer note (MPE), since the last reset
    uint32_t notesStarted;         // Note Ons sent, to tell the oldest sounding note
    int32_t playerBend;            // the player's wheel, -8192..8191 from its centre
    uint32_t clampedBends;         // tuning plus wheel beyond the output's range, since the last reset
    uint32_t malformedInput;       // input events dropped as no whole message, since the start
};

// The allocation state as at process start.
NoteAllocation initialNoteAllocation();


// How long ago a note on the channel ended, in ms; a channel no note has
// ended on since the reset counts as released long ago (2^31 ms or more).
uint32_t sinceChannelRelease(const ChannelSlot& slot, uint32_t now);
// True while a channel sounds: keys held on it, or released ones a pedal holds.
bool isSounding(const ChannelSlot& slot);
