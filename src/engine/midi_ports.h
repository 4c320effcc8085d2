#pragma once
// The state of the open MIDI devices: one input, one output, and the single
// System Exclusive input buffer.

#include <atomic>
#include <cstdint>

#include "engine/engine_lock.h"
#include "engine/midi_device.h"

struct MidiPorts {
    MidiInput* midiIn GUARDED_BY_ENGINE_LOCK = nullptr;
    MidiOutput* midiOut GUARDED_BY_ENGINE_LOCK = nullptr;  // every engine send goes here; null = lost
    int32_t inputOpen GUARDED_BY_ENGINE_LOCK = 0;
    int32_t outputOpen GUARDED_BY_ENGINE_LOCK = 0;
    // Every key a Note On has gone out for, by channel, until a panic ends
    // them all: bit k of word k / 64.
    uint64_t keysSent[16][2] GUARDED_BY_ENGINE_LOCK = {};
    // Handed from the window thread to the input thread: cleared before the
    // input is reset so that a returned buffer is not queued again.
    std::atomic<bool> sysexBufferReady{false};
    uint8_t sysexInputBuffer[SysexBufferSize] = {};
    SysexBuffer sysexHeader;
};

extern MidiPorts midiPorts;

// Whether an output device is open, asked under the engine lock.
bool isOutputOpen() TAKES_ENGINE_LOCK;
