#include "dialogs/setting_names.h"

#include <cmath>
#include <cstdio>

const std::array<const char*, RelaySwitchCount> relayNames = {
    "Aftertouch", "Control", "Program Change", "Channel Pressure", "System Exclusive",
    "Sequencing", "Tune Request", "Active Sense", "Reset",
};

const std::array<const char*, 17> channelNames = {
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16", "All",
};

const std::array<EventType, 17> eventTypes = {{
    {"Note Off", 0x80},      {"Note On", 0x90},       {"Aftertouch", 0xA0},    {"Control Change", 0xB0},
    {"Program Change", 0xC0}, {"Channel Pressure", 0xD0}, {"Pitch Wheel", 0xE0}, {"Quarter Frame", 0xF1},
    {"Song Position", 0xF2}, {"Song Select", 0xF3},   {"Tune Request", 0xF6},  {"MIDI Clock", 0xF8},
    {"MIDI Tick", 0xF9},     {"MIDI Start", 0xFA},    {"MIDI Stop", 0xFC},     {"Active Sense", 0xFE},
    {"Reset", 0xFF},
}};

namespace {

constexpr size_t FrequencyFieldLength = 19;

}  // namespace

int eventTypeRow(uint8_t status)
{
    for (size_t row = 0; row < eventTypes.size(); ++row) {
        if (eventTypes[row].status == status)
            return static_cast<int>(row);
    }
    return 0;
}

char hexDigit(unsigned value)
{
    value &= 0xF;
    return static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
}

std::string formatFrequency(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", std::fabs(value));
    std::string digits = text;
    if (digits.rfind("0.", 0) == 0)
        digits.erase(0, 1);
    if (std::signbit(value) && value != 0.0)
        digits = "-" + digits;
    if (digits.size() <= FrequencyFieldLength)
        return digits;
    std::snprintf(text, sizeof text, "%.12g", value);
    return text;
}

std::string formatInitEvent(const InitEvent& event)
{
    std::string text(8, ' ');
    if (event.status & 0x0F) {
        text[0] = hexDigit(event.status >> 4);
        text[1] = hexDigit(event.status);
    } else {
        text[0] = hexDigit(event.status >> 4);
        text[1] = event.channel <= 15 ? hexDigit(event.channel) : 'X';
    }
    text[3] = hexDigit(event.param1 >> 4);
    text[4] = hexDigit(event.param1);
    text[6] = hexDigit(event.param2 >> 4);
    text[7] = hexDigit(event.param2);
    return text;
}
