#pragma once
// The state of the open MIDI devices: one input, one output, and the single
// System Exclusive input buffer. An engine keeps its MidiPorts under its
// lock; the System Exclusive buffer belongs to the input thread while it is
// queued, and is handed over through bufferReady.

#include <atomic>
#include <cstdint>

#include "engine/midi_device.h"

struct MidiPorts {
    MidiInput* midiIn = nullptr;
    MidiOutput* midiOut = nullptr;  // every engine send goes here; null = lost
    int32_t inputOpen = 0;
    int32_t outputOpen = 0;
    // Every key a Note On has gone out for, by channel, until a panic ends
    // them all: bit k of word k / 64.
    uint64_t keysSent[16][2] = {};
};

struct SysexInput {
    // Handed from the window thread to the input thread: cleared before the
    // input is reset so that a returned buffer is not queued again.
    std::atomic<bool> bufferReady{false};
    uint8_t buffer[SysexBufferSize] = {};
    SysexBuffer header;
};

