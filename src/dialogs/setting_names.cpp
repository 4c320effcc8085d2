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

namespace {

const char* standardControllerName(uint8_t controller)
{
    static const struct {
        uint8_t number;
        const char* name;
    } names[] = {{0, "Bank Select"},   {1, "Modulation"},    {2, "Breath"},         {4, "Foot"},
                 {5, "Portamento Time"}, {6, "Data Entry"},  {7, "Volume"},         {8, "Balance"},
                 {10, "Pan"},           {11, "Expression"},  {12, "Effect 1"},      {13, "Effect 2"},
                 {64, "Sustain"},       {65, "Portamento"},  {66, "Sostenuto"},     {67, "Soft Pedal"},
                 {68, "Legato"},        {69, "Hold 2"},      {71, "Resonance"},     {72, "Release"},
                 {73, "Attack"},        {74, "Brightness"},  {84, "Portamento Control"}, {91, "Reverb"},
                 {92, "Tremolo"},       {93, "Chorus"},      {94, "Detune"},        {95, "Phaser"},
                 {96, "Data Increment"}, {97, "Data Decrement"}, {98, "NRPN LSB"},  {99, "NRPN MSB"},
                 {100, "RPN LSB"},      {101, "RPN MSB"},    {120, "All Sound Off"}, {121, "Reset Controllers"},
                 {122, "Local Control"}, {123, "All Notes Off"}, {124, "Omni Off"}, {125, "Omni On"},
                 {126, "Mono On"},      {127, "Poly On"}};
    for (const auto& entry : names) {
        if (entry.number == controller)
            return entry.name;
    }
    return nullptr;
}

}  // namespace

std::string controllerName(uint8_t controller)
{
    const std::string number = std::to_string(controller);
    if (const char* name = standardControllerName(controller))
        return number + " " + name;
    // 32..63 carry the low byte of 0..31.
    const char* coarse = controller >= 32 && controller < 64 ? standardControllerName(controller - 32) : nullptr;
    return number + (coarse ? std::string(" ") + coarse + " LSB" : " Controller");
}
