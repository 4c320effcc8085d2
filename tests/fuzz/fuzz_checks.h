#pragma once
// What every fuzz target needs: bytes as a stream, a check that aborts, and
// the ranges every tuning table must keep.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/engine.h"
#include "engine/tuning_table.h"
#include "scale/scale.h"

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The input as a read-only stream; an empty input gives an empty stream.
inline std::FILE* openBytes(const uint8_t* data, size_t size)
{
    static uint8_t empty = 0;
    std::FILE* file = fmemopen(size ? const_cast<uint8_t*>(data) : &empty, size ? size : 1, "rb");
    if (file && size == 0)
        std::fgetc(file);  // consume the placeholder byte
    return file;
}

// The one engine a fuzzer plays on, its instrument frequencies built once.
inline Engine& fuzzEngine()
{
    static Engine engine;
    static const bool built = [] {
        EngineLock lock(engine.engineMutex);
        engine.buildInstrumentFrequencies();
        return true;
    }();
    (void)built;
    return engine;
}

inline void requireTableInRange(const Engine& engine) NEEDS_ENGINE_LOCK_OF(engine)
{
    for (int k = 0; k < KeyCount; ++k) {
        require(engine.tuningTable.outputKey[k] <= 127);
        require(engine.tuningTable.bendValue[k] >= 0 && engine.tuningTable.bendValue[k] <= BendMax);
    }
}

// Every degree's ratio finite and positive, the name and centre in range.
inline void requireUsableScale(const Scale& s)
{
    require(hasUsableDegrees(s) && std::strlen(s.name) <= MaxScaleNameLength && s.centre <= 127 && s.pitch > 0.0);
    for (int d = 0; d <= s.degrees; ++d)
        require(s.ratio[d] > 0.0 && std::isfinite(s.ratio[d]));
}
