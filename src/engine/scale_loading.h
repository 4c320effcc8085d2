#pragma once
// Loading scale and keyboard-mapping files into the records in force. Each
// loader parses without the engine lock and installs under it (call them
// without holding it); on failure nothing changes: the scale, the mapping,
// the working centre and any modulation stay.

#include <cstdio>
#include <string>
#include <vector>

#include "engine/engine_lock.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

bool isScalaScalePath(const std::string& path);

// Parse an open file as loadScale and loadKeyboardMapping do, path telling
// the kind of scale and the mapping's name; "" or the error. They install
// nothing.
std::string parseScaleFile(std::FILE* file, const char* path, Scale& loaded, std::vector<std::string>* warnings);
std::string parseMappingFile(std::FILE* file, const char* path, KeyboardMapping& loaded);

// Reads a whole scale or mapping file into text, refusing what is not a
// regular file or is larger than any tuning file: "" or the error.
constexpr size_t MaxTuningFileSize = 1 << 20;
inline constexpr const char* TuningFileTooLarge = "The file is too large for a scale or keyboard mapping.";
std::string readTuningFile(const char* path, std::string& text);

// The .kbm file of the same base name beside a .scl file, "" when there is none.
std::string companionMappingPath(const std::string& scalePath);
