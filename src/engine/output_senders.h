#pragma once
// Every short message the program sends goes out through these. With no
// output open the messages are lost without harm.

#include <cstdint>

#include "engine/engine_lock.h"
#include "engine/settings.h"

// Packs status kind + channel, data1 and data2 into one short-message word.
constexpr uint32_t packShortMessage(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2)
{
    return (uint32_t{data2} << 16) + (uint32_t{data1} << 8) + ((kind + channel) & 0xFFu);
}
