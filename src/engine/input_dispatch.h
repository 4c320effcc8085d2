#pragma once
// The body of the MIDI input callback: notes to the retuning core, other
// messages relayed or dropped by the relay switches, System Exclusive buffers
// relayed from the input's own buffer.

#include <cstdint>

#include "engine/midi_device.h"

// Callback codes, as the multimedia input services number them.
constexpr uint32_t MimData = 963;      // param1: packed short message
constexpr uint32_t MimLongData = 964;  // param1: address of a SysexBuffer
constexpr uint32_t MimError = 965;     // param1: a malformed message's first bytes, packed; dropped

// A flag in instance: the caller already holds the engine lock. A real-time
// cycle takes the lock by trying, once for all its events, and must not have
// the handler wait for it again.
constexpr uintptr_t MimEngineLocked = 1;
