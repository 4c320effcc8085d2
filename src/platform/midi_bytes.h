#pragma once
// Short messages between the engine's packed words and the bytes a MIDI
// library sends.

#include <cstddef>
#include <cstdint>

// The bytes of a packed short message (status | data1 << 8 | data2 << 16)
// and their count; 0 for a status that cannot travel as a short message
// (System Exclusive, or no status at all).
size_t unpackShortMessage(uint32_t message, uint8_t (&bytes)[3]);
