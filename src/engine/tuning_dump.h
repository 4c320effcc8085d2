#pragma once
// The bulk tuning dump that hardware synthesizers keep in a tuning slot:
// non-real-time universal System Exclusive, sub-IDs 08 01, every key's
// frequency, a 16-character name and a checksum.

#include <cstdint>

#include "engine/tuning_table.h"

constexpr int TuningDumpSize = 408;

// The dump of table for the device and tuning program given: the name cut
// to 16 ASCII characters (others become '?', short names are padded with
// spaces), each key's target or "no change" where the mapping leaves it
// silent, and the checksum (XOR of the bytes from 7E through the last
// frequency byte, & 7F).
void encodeTuningDump(const TuningTable& table, const char* name, uint8_t device, uint8_t program,
                      uint8_t (&dump)[TuningDumpSize]);
