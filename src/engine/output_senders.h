#pragma once
// Every short message the program sends goes out through these. With no
// output open the messages are lost without harm.

#include <cstdint>

#include "engine/settings.h"

// Packs status kind + channel, data1 and data2 into one short-message word.
constexpr uint32_t packShortMessage(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2)
{
    return (uint32_t{data2} << 16) + (uint32_t{data1} << 8) + ((kind + channel) & 0xFFu);
}

void sendToChannel(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2);
void sendPitchBend(uint8_t channel, int32_t value);
// One message per used channel, channel 1 first.
void sendToUsedChannels(uint8_t kind, uint8_t data1, uint8_t data2);
void sendController(uint8_t controller, uint8_t value);
void sendInitEvent(const InitEvent& event);
void sendInitMessage();
// Registered parameter 0 (pitch-bend sensitivity) on every used channel.
void sendPitchWheelRange();
// What an instrument that joins the open output late needs: the pitch-wheel
// range and, with "Send on Open", the init message. No All Notes Off: other
// instruments on the same output may be playing.
void greetNewListener();
