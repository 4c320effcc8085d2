// Fuzzes the scale parser; every accepted scale must be one the tuning table
// can be built from, and every build must stay within MIDI's ranges.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/tuning_table.h"
#include "scale/scale.h"
#include "scale/scale_parser.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void checkTable()
{
    for (int k = 0; k < KeyCount; ++k) {
        require(tuningTable.outputKey[k] <= 127);
        require(tuningTable.bendValue[k] >= 0 && tuningTable.bendValue[k] <= BendMax);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = false;
    if (!ready) {
        buildInstrumentFrequencies();
        ready = true;
    }
    setDefaultScale();
    static uint8_t empty = 0;
    std::FILE* file = fmemopen(size ? const_cast<uint8_t*>(data) : &empty, size ? size : 1, "rb");
    if (!file)
        return 0;
    if (size == 0)
        std::fgetc(file);  // an empty stream: consume the placeholder byte
    Scale parsed;
    const char* error = parseScale(file, parsed);
    std::fclose(file);
    if (!error)
        installScale(parsed);
    require(hasUsableDegrees(scale));
    require(scale.centre <= 127 && scale.pitch > 0.0);
    require(buildTuningTable());
    checkTable();
    require(moveCentre(static_cast<uint8_t>(size % 128), MoveModulate, static_cast<int32_t>(size & 1)));
    require(moveCentre(0, MoveReset, 0));
    checkTable();
    return 0;
}
