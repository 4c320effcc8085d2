#pragma once
// Loading scale and keyboard-mapping files into the records in force. Each
// loader parses without the engine lock and installs under it (call them
// without holding it); on failure nothing changes: the scale, the mapping,
// the working centre and any modulation stay.

#include <string>
#include <vector>

#include "engine/engine_lock.h"

bool isScalaScalePath(const std::string& path);

// The .kbm file of the same base name beside a .scl file, "" when there is none.
std::string companionMappingPath(const std::string& scalePath);
