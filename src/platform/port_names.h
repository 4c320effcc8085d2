#pragma once
// The names the program shows in the system's patchbay, whichever backend
// made its ports.

#include <string>

inline constexpr const char* OutputClientName = "Vanto";
inline constexpr const char* InputClientName = "Vanto In";
inline constexpr const char* OutputPortName = "Vanto Out";
inline constexpr const char* InputPortName = "Vanto In";

// True for a port of this program (or another instance of it), so that its
// own ports never show in its device lists.
bool isOwnPortName(const std::string& portName);
