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

void sendToChannel(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
void sendPitchBend(uint8_t channel, int32_t value) NEEDS_ENGINE_LOCK;
// One message per used channel, channel 1 first.
void sendToUsedChannels(uint8_t kind, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
void sendController(uint8_t controller, uint8_t value) NEEDS_ENGINE_LOCK;
void sendInitEvent(const InitEvent& event) NEEDS_ENGINE_LOCK;
void sendInitMessage() NEEDS_ENGINE_LOCK;
// Registered parameter 0 (pitch-bend sensitivity) on every used channel,
// then the null parameter, so that none stays selected.
void sendPitchWheelRange() NEEDS_ENGINE_LOCK;
// What an instrument that joins the open output late needs: the pitch-wheel
// range and, with "Send on Open", the init message. No All Notes Off: other
// instruments on the same output may be playing.
void greetNewListener() NEEDS_ENGINE_LOCK;
// On all 16 channels: sustain off, All Sound Off, All Notes Off, and a Note
// Off for every key a Note On has gone out for since the last panic.
void sendPanic() NEEDS_ENGINE_LOCK;
