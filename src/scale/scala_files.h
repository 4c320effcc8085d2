#pragma once
// Reads the Scala formats: .scl scales and .kbm keyboard mappings. Lines end
// with LF, CR LF or CR; a line that starts with '!' is a comment anywhere.
// Errors are texts for the user that name the line concerned.

#include <cstdio>
#include <string>

#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

// The frequency of middle C in 12-tone equal temperament with A at 440 Hz:
// where a Scala scale's degree 0 sounds without a mapping.
extern const double ScalaDefaultPitch;

// Parses a .scl file into result: its description becomes the name
// (fallbackName when it is blank), degree 0 lies on key 60 at
// ScalaDefaultPitch. Returns an empty text on success, else the error.
std::string parseScalaScale(std::FILE* file, const std::string& fallbackName, Scale& result);

// Parses a .kbm file into result (inactive; its name left empty). Returns an
// empty text on success, else the error.
std::string parseKeyboardMapping(std::FILE* file, KeyboardMapping& result);

// Text read from a file in an unknown encoding, as UTF-8 of at most maxBytes:
// valid UTF-8 stays as it is, anything else is read as Latin-1. Never cuts a
// character in two.
std::string textAsUtf8(const std::string& bytes, size_t maxBytes);
