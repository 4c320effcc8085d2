// Fuzzes the configuration reader: the event count always fits the array,
// and whatever was read saves and loads back to the same bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/config_file.h"
#include "app/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static uint8_t empty = 0;
    std::FILE* file = fmemopen(size ? const_cast<uint8_t*>(data) : &empty, size ? size : 1, "rb");
    if (!file)
        return 0;
    if (size == 0)
        std::fgetc(file);
    Settings loaded = defaultSettings();
    const bool read = readConfig(file, loaded);
    std::fclose(file);
    if (!read)
        return 0;
    if (loaded.initEventCount < 0 || loaded.initEventCount > MaxInitEvents)
        std::abort();

    uint8_t first[MaxConfigFileSize];
    const int length = encodeConfig(loaded, first);
    Settings again = defaultSettings();
    decodeConfig(first, length, again);
    uint8_t second[MaxConfigFileSize];
    if (encodeConfig(again, second) != length || std::memcmp(first, second, static_cast<size_t>(length)) != 0)
        std::abort();
    return 0;
}
