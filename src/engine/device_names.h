#pragma once
// Devices remembered by name. The system numbers its clients and ports and
// changes the numbers when a device is plugged in again (ALSA's "24:0" after
// a port name, JACK's "-01" after a client name taken twice); names are
// compared without them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/settings.h"

// name without the numbers the system adds.
std::string deviceKey(const std::string& name);

// The position in names of the device that name stands for: the device of
// exactly that name, else the one device whose name differs only in those
// numbers; nothing when none is there or several could be meant.
std::optional<int32_t> findDeviceNamed(const std::string& name, const std::vector<std::string>& names);

// The name of the device at position in names; null when none stands there.
const std::string* deviceNameAt(int32_t position, const std::vector<std::string>& names);

// Stores in out the name of the device at position in names, or "" when
// none stands there.
void copyDeviceName(char (&out)[MaxDeviceNameLength + 1], int32_t position, const std::vector<std::string>& names);
