// Fuzzes the Scala readers: the same bytes are read as a .scl scale and as a
// .kbm mapping. Whatever either accepts must install, build a table within
// MIDI's ranges and survive every command-key move.

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "engine/scale_in_force.h"
#include "engine/tuning_table.h"
#include "fuzz_checks.h"
#include "scale/keyboard_mapping.h"
#include "scale/scala_files.h"
#include "scale/scale.h"

namespace {

template <typename Parse>
bool parseBytes(const uint8_t* data, size_t size, Parse parse)
{
    std::FILE* file = openBytes(data, size);
    if (!file)
        return false;
    const bool accepted = parse(file).empty();
    std::fclose(file);
    return accepted;
}

void checkMapping(const KeyboardMapping& m)
{
    require(m.size >= 0 && m.size <= MaxMapSize);
    require(m.firstKey <= MaxKeyIndex && m.lastKey <= MaxKeyIndex && m.middleKey <= MaxKeyIndex && m.referenceKey <= MaxKeyIndex);
    require(m.referenceFrequency > 0.0 && std::isfinite(m.referenceFrequency));
    int64_t degree = 0;
    require(patternDegree(m, 12, m.middleKey, m.referenceKey, degree));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Engine& engine = fuzzEngine();
    EngineLock lock(engine.engineMutex);
    static Scale parsed;
    static KeyboardMapping mapping;
    engine.clearKeyboardMapping();
    engine.setDefaultScale();
    if (parseBytes(data, size, [](std::FILE* f) { return parseScalaScale(f, "fallback", parsed); })) {
        requireUsableScale(parsed);
        engine.installScale(parsed);
    }
    if (parseBytes(data, size, [](std::FILE* f) { return parseKeyboardMapping(f, mapping); })) {
        checkMapping(mapping);
        engine.installKeyboardMapping(mapping);
    }
    require(engine.buildTuningTable());
    requireTableInRange(engine);
    const auto key = static_cast<uint8_t>(size % 128);
    engine.moveCentre(key, MoveModulate, static_cast<int32_t>(size & 1));
    engine.moveCentre(key, MoveDemodulate, 0);
    require(engine.moveCentre(0, MoveReset, 0));
    requireTableInRange(engine);
    return 0;
}
