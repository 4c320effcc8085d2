#pragma once
// Loading scale and keyboard-mapping files into the records in force. Each
// loader parses without the engine lock and installs under it (call them
// without holding it); on failure nothing changes: the scale, the mapping,
// the working centre and any modulation stay.

#include <string>
#include <vector>

#include "engine/engine_lock.h"

// A path ending in ".scl" (any case) is a Scala scale; every other path is
// read in the native scale language. Returns "" or the error text. A loaded
// scale's path is kept in the settings (as a mapping's is by
// loadKeyboardMapping), so that a saved configuration brings it back.
// A native scale's error gives the message, then "Line N: <the line>";
// warnings, when given, get what its reading warns of (leftover characters
// after a number).
std::string loadScale(const char* path, std::vector<std::string>* warnings = nullptr) TAKES_ENGINE_LOCK;

// Loads a .kbm keyboard mapping and puts it in force. Returns "" or the error.
std::string loadKeyboardMapping(const char* path) TAKES_ENGINE_LOCK;

bool isScalaScalePath(const std::string& path);

// The .kbm file of the same base name beside a .scl file, "" when there is none.
std::string companionMappingPath(const std::string& scalePath);

// The scale's name and, with a mapping in force, the mapping's file name.
// The caller holds the engine lock.
std::string tuningStatusText() NEEDS_ENGINE_LOCK;
