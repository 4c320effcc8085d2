#include "engine/tuning_dump.h"

#include <cstring>

#include "engine/config_file.h"
#include "engine/engine.h"

void encodeTuningDump(const TuningTable& table, const char* name, uint8_t device, uint8_t program,
                      uint8_t (&dump)[TuningDumpSize])
{
    const uint8_t head[] = {0xF0, 0x7E, static_cast<uint8_t>(device & 0x7F), 0x08, 0x01,
                            static_cast<uint8_t>(program & 0x7F)};
    std::memcpy(dump, head, sizeof head);
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < 16; ++i) {
        const auto c = static_cast<unsigned char>(i < length ? name[i] : ' ');
        dump[6 + i] = c >= 0x20 && c < 0x7F ? c : '?';
    }
    for (int key = 0; key < KeyCount; ++key) {
        uint8_t bytes[3] = {0x7F, 0x7F, 0x7F};
        if (!table.unmapped[key])
            tuningFrequencyBytes(table.targetFrequency[key], bytes);
        std::memcpy(dump + 22 + 3 * key, bytes, 3);
    }
    uint8_t checksum = 0;
    for (int i = 1; i < TuningDumpSize - 2; ++i)
        checksum ^= dump[i];
    dump[TuningDumpSize - 2] = checksum & 0x7F;
    dump[TuningDumpSize - 1] = 0xF7;
}

int Engine::exportTuningDump(const char* path, std::string* reason) const
{
    uint8_t dump[TuningDumpSize];
    {
        EngineLock lock(engineMutex);
        encodeTuningDumpInForce(dump);
    }
    return writeWholeFile(path, dump, TuningDumpSize, reason);
}

void Engine::encodeTuningDumpInForce(uint8_t (&dump)[TuningDumpSize]) const
{
    encodeTuningDump(tuningTable, scale.name, static_cast<uint8_t>(settings.tuningDeviceId),
                     static_cast<uint8_t>(settings.tuningProgram), dump);
}
