// Fuzzes the configuration reader: the event count always fits the array,
// and whatever was read saves and loads back to the same bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/config_file.h"
#include "engine/settings.h"
#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::FILE* file = openBytes(data, size);
    if (!file)
        return 0;
    Settings loaded = defaultSettings();
    const bool read = readConfig(file, loaded);
    std::fclose(file);
    if (!read)
        return 0;
    require(loaded.initEventCount >= 0 && loaded.initEventCount <= MaxInitEvents);

    uint8_t first[MaxConfigFileSize];
    const int length = encodeConfig(loaded, first);
    Settings again = defaultSettings();
    decodeConfig(first, length, again);
    uint8_t second[MaxConfigFileSize];
    require(encodeConfig(again, second) == length && std::memcmp(first, second, static_cast<size_t>(length)) == 0);
    return 0;
}
