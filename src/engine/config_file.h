#pragma once
// The configuration file: a headerless little-endian image of Settings,
// 143 bytes plus 4 per init event, then, only when some setting that the
// original record lacks differs from its default, one extension block:
// "VNTX", u16 version 1, u32 byte count of what follows, then fields of
// u16 tag, u16 length and the bytes. Readers of the original layout stop
// before the block; unknown tags are skipped; a cut or malformed block is
// ignored and its settings keep their defaults.

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/settings.h"
#include "engine/engine_lock.h"

constexpr int ConfigHeaderSize = 143;
constexpr int ConfigEventSize = 4;
constexpr int MaxExtensionBlockSize = 4096;
constexpr int MaxConfigFileSize = ConfigHeaderSize + ConfigEventSize * MaxInitEvents + MaxExtensionBlockSize;
inline constexpr const char* DefaultConfigFile = "vanto.cfg";

// The file image of s; returns its length in bytes. The event count written
// is limited to 0..MaxInitEvents.
int encodeConfig(const Settings& s, uint8_t (&image)[MaxConfigFileSize]);

// Overlays the fields that image holds on s: a field the image does not hold
// whole keeps its value; a file shorter than the header empties the init
// message. Every field is limited to its bounds (the event count to
// 0..MaxInitEvents); a reference frequency outside 1 Hz to 100 kHz is the
// default's, and the returned note says so ("" otherwise). The extension
// settings come from the block, or are the defaults without one.
std::string decodeConfig(const uint8_t* image, int length, Settings& s);

// Writes length bytes to path as saveConfig writes the settings: through a
// temporary file that replaces path only once it is whole. 0, or -1 with
// the reason in *reason and an existing file at path left as it was.
int writeWholeFile(const char* path, const uint8_t* data, int length, std::string* reason = nullptr);

// Why bytes of ConfigHeaderSize or more cannot be a configuration file:
// their length does not fit their event count (and extension block), or a
// field holds what no dialog could have stored. "" when they can be; a
// shorter file is never refused.
std::string configFileProblem(const uint8_t* image, int length);

// Reads at most MaxConfigFileSize bytes of a configuration stream over s.
// False on a read error; s is then untouched.
bool readConfig(std::FILE* file, Settings& s);

