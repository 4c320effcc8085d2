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

#include "app/settings.h"

constexpr int ConfigHeaderSize = 143;
constexpr int ConfigEventSize = 4;
constexpr int MaxExtensionBlockSize = 1024;
constexpr int MaxConfigFileSize = ConfigHeaderSize + ConfigEventSize * MaxInitEvents + MaxExtensionBlockSize;
inline constexpr const char* DefaultConfigFile = "vanto.cfg";

// The file image of s; returns its length in bytes. The event count written
// is limited to 0..MaxInitEvents.
int encodeConfig(const Settings& s, uint8_t (&image)[MaxConfigFileSize]);

// Overlays the fields that image holds on s: a field the image does not hold
// whole keeps its value; a file shorter than the header empties the init
// message. The stored event count is limited to 0..MaxInitEvents. The
// extension settings come from the block, or are the defaults without one.
void decodeConfig(const uint8_t* image, int length, Settings& s);

// Writes the settings to path through a temporary file in the same folder
// that replaces path only once everything is written. 0, or -1 on any
// failure, in which case an existing file at path is left as it was.
int saveConfig(const char* path);

// Reads path over the live settings, under the engine lock (call it without
// holding that lock). 0 when the file was read, whatever it held; -1 when it
// could not be opened or read, with the settings untouched.
int loadConfig(const char* path);

// Reads at most MaxConfigFileSize bytes of a configuration stream over s.
// False on a read error; s is then untouched.
bool readConfig(std::FILE* file, Settings& s);

// readConfig on the file at path; false when it cannot be opened or read.
bool readConfigFile(const char* path, Settings& s);
