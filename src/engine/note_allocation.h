#pragma once
// The polyphonic core: each sounding key gets an output channel tuned to its
// bend group, and the command keys modulate the scale.

#include <cstdint>

struct ChannelSlot {
    uint8_t noteCount;  // input keys sounding on this channel
    uint8_t group;      // bend group the channel is tuned to; NoKey = none
};

enum CommandState : uint8_t {
    CommandIdle = 0,
    CommandModulate = 1,    // the command key is held
    CommandDemodulate = 2,  // ... and the demodulate key was pressed
};

using LastKeyListener = void (*)();

struct NoteAllocation {
    ChannelSlot channelSlot[16];
    uint8_t keyChannel[128];     // 0 = not sounding, else output channel + 1
    uint8_t keyOutputNote[128];  // the output key its note on used
    uint8_t lastTunedChannel;
    uint8_t commandState;
    uint8_t modulationKey;
    uint8_t lastKey;
    LastKeyListener lastKeyListener;
    int32_t lastKeyListenerEnabled;
};

// The allocation state as at process start.
NoteAllocation initialNoteAllocation();

extern NoteAllocation noteAllocation;

void handleNoteOn(uint8_t status, uint8_t channel, uint8_t key, uint8_t velocity);
void handleNoteOff(uint8_t status, uint8_t channel, uint8_t key, uint8_t velocity);
// Forgets every sounding note, renumbers the used channels' groups 0, 1, ...
// and sends All Notes Off on each used channel.
void resetChannels();
void forgetChannelGroups();
// Called after lastKey changes, on the input thread, while enabled.
void setLastKeyListener(LastKeyListener listener, int32_t enabled);

// What a freshly opened output receives: the channel reset, the pitch-wheel
// range, and the init message when "Send on Open" is set.
void prepareOutputInstrument();
