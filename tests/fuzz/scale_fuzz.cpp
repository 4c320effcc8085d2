// Fuzzes the scale parser; every accepted scale must be one the tuning table
// can be built from, and every build must stay within MIDI's ranges.

#include "engine/scale_in_force.h"
#include "fuzz_checks.h"
#include "scale/scale.h"
#include "scale/scale_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Engine& engine = fuzzEngine();
    EngineLock lock(engine.engineMutex);
    engine.setDefaultScale();
    std::FILE* file = openBytes(data, size);
    if (!file)
        return 0;
    Scale parsed;
    const char* error = parseScale(file, parsed);
    std::fclose(file);
    if (!error)
        engine.installScale(parsed);
    requireUsableScale(engine.scale);
    require(engine.buildTuningTable());
    requireTableInRange(engine);
    require(engine.moveCentre(static_cast<uint8_t>(size % 128), MoveModulate, static_cast<int32_t>(size & 1)));
    require(engine.moveCentre(0, MoveReset, 0));
    requireTableInRange(engine);
    return 0;
}
