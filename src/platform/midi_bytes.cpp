#include "platform/midi_bytes.h"

namespace {

size_t shortMessageLength(uint8_t status)
{
    if (status < 0x80)
        return 0;
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    switch (status) {
    case 0xF0:  // System Exclusive only travels as a long message
    case 0xF7:
        return 0;
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    default:
        return 1;
    }
}

}  // namespace

size_t unpackShortMessage(uint32_t message, uint8_t (&bytes)[3])
{
    bytes[0] = message & 0xFF;
    bytes[1] = (message >> 8) & 0x7F;
    bytes[2] = (message >> 16) & 0x7F;
    return shortMessageLength(bytes[0]);
}
