#pragma once
// The names the dialogs show for settings, and the texts they make of values.

#include <array>
#include <cstdint>
#include <string>

#include "engine/settings.h"

extern const std::array<const char*, RelaySwitchCount> relayNames;
extern const std::array<const char*, 17> channelNames;

struct EventType {
    const char* name;
    uint8_t status;
};
extern const std::array<EventType, 17> eventTypes;

// The row of eventTypes whose status is status; 0 ("Note Off") when none is.
int eventTypeRow(uint8_t status);

// Three decimals, with no digit before the point below 1: 440.000, .500,
// -12.250. A value whose text would pass the 19 characters the frequency
// field holds is shown in exponent form instead, which reads back the same.
std::string formatFrequency(double value);

// "90 3C 64": status (or kind and channel, X for "All"), then both parameters.
std::string formatInitEvent(const InitEvent& event);

// 0..15 as an upper-case hexadecimal digit.
char hexDigit(unsigned value);

// "7 Volume": a controller's number and its name in the MIDI standard;
// "3 Controller" for one with no name of its own.
std::string controllerName(uint8_t controller);
