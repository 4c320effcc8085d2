#pragma once
// How the used channels are picked in rotation, and NoChannel: what a
// choice of channel gives when there is none, in every output mode.

#include "engine/engine.h"

inline constexpr int NoChannel = -1;

// The used channels from the one after the last retuned one, wrapping
// round to it.
template <typename Accept>
int Engine::firstInRotation(Accept accept) const
{
    const int last = noteAllocation.lastTunedChannel % ChannelCount;
    for (int i = 1; i <= ChannelCount; ++i) {
        const int c = (last + i) % ChannelCount;
        if (isUsed(c) && accept(c))
            return c;
    }
    return NoChannel;
}

// Of the used channels that accept, the one released longest ago; the
// rotation order breaks ties.
template <typename Accept>
int Engine::longestReleased(Accept accept, uint32_t now) const
{
    int best = NoChannel;
    firstInRotation([&](int c) NEEDS_ENGINE_LOCK {
        if (accept(c) && (best == NoChannel || sinceRelease(c, now) > sinceRelease(best, now)))
            best = c;
        return false;
    });
    return best;
}
