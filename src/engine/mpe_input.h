#pragma once
// What the engine knows of an MPE controller at its input: its zone, and
// each channel's expression, which belongs to the note held on that channel.

#include <cstdint>

constexpr uint8_t NoExpression = 0xFF;

struct ControllerZone {
    uint8_t manager;           // 0 (lower zone, channel 1) or 15 (upper zone, channel 16)
    uint8_t announcedMembers;  // what its configuration message announced; 0 = none has arrived
    uint8_t parameter[16][2];  // the registered parameter selected on each channel (101, 100)
    int32_t bend[16];          // each channel's last pitch bend, from the centre
    // Each channel's last channel pressure and controller 74; NoExpression
    // until one arrives.
    uint8_t pressure[16];
    uint8_t timbre[16];
};

ControllerZone initialControllerZone();

constexpr uint8_t TimbreController = 74;
