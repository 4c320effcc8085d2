#include "engine/device_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

bool allDigits(const std::string& text, size_t from, size_t to)
{
    return from < to && std::all_of(text.begin() + static_cast<long>(from), text.begin() + static_cast<long>(to),
                                    [](unsigned char c) { return std::isdigit(c); });
}

// " 24:0" at the end, as ALSA's port names carry it.
std::string withoutAlsaNumbers(std::string name)
{
    const size_t colon = name.rfind(':');
    const size_t space = name.rfind(' ', colon == std::string::npos ? 0 : colon);
    if (colon != std::string::npos && space != std::string::npos && space < colon &&
        allDigits(name, space + 1, colon) && allDigits(name, colon + 1, name.size()))
        name.erase(space);
    return name;
}

// "-01" at the end of the client name, before the first colon: JACK numbers
// a second client of a taken name with a dash and two digits. "Synth-2" is a
// name of its own.
std::string withoutJackSuffix(std::string name)
{
    const size_t colon = name.find(':');
    const size_t end = colon == std::string::npos ? name.size() : colon;
    const size_t dash = end >= 3 ? end - 3 : std::string::npos;
    if (dash != std::string::npos && name[dash] == '-' && allDigits(name, dash + 1, end))
        name.erase(dash, end - dash);
    return name;
}

}  // namespace

std::string deviceKey(const std::string& name)
{
    return withoutJackSuffix(withoutAlsaNumbers(name));
}

std::optional<int32_t> findDeviceNamed(const std::string& name, const std::vector<std::string>& names)
{
    const auto exact = std::find(names.begin(), names.end(), name);
    if (exact != names.end())
        return static_cast<int32_t>(exact - names.begin());
    // Numbered differently: only when exactly one device could be meant.
    const std::string wanted = deviceKey(name);
    std::optional<int32_t> found;
    for (size_t i = 0; i < names.size(); ++i) {
        if (deviceKey(names[i]) != wanted)
            continue;
        if (found)
            return std::nullopt;
        found = static_cast<int32_t>(i);
    }
    return found;
}

const std::string* deviceNameAt(int32_t position, const std::vector<std::string>& names)
{
    const bool listed = position >= 0 && static_cast<size_t>(position) < names.size();
    return listed ? &names[static_cast<size_t>(position)] : nullptr;
}

void copyDeviceName(char (&out)[MaxDeviceNameLength + 1], int32_t position, const std::vector<std::string>& names)
{
    const std::string* name = deviceNameAt(position, names);
    std::snprintf(out, sizeof out, "%s", name ? name->c_str() : "");
}
