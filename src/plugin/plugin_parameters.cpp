#include "plugin/plugin_parameters.h"

#include <algorithm>
#include <cmath>

namespace {

// One of the settings' on/off arrays (useChannel, relay) by its index.
template <auto Switches, int Index>
double switchOf(const Settings& s)
{
    return (s.*Switches)[Index] != 0;
}

template <auto Switches, int Index>
void setSwitch(Settings& s, double value)
{
    (s.*Switches)[Index] = value != 0 ? 1 : 0;
}

template <uint8_t Settings::*Key>
double keyOf(const Settings& s)
{
    return s.*Key;
}

template <uint8_t Settings::*Key>
void setKey(Settings& s, double value)
{
    s.*Key = static_cast<uint8_t>(value);
}

#define VANTO_CHANNEL(n) \
    {"useChannel" #n, "Use Channel " #n, ParameterType::Bool, 0, 1, switchOf<&Settings::useChannel, n - 1>, \
     setSwitch<&Settings::useChannel, n - 1>, true}
#define VANTO_RELAY(key, label, index) \
    {key, label, ParameterType::Bool, 0, 1, switchOf<&Settings::relay, index>, \
     setSwitch<&Settings::relay, index>, false}

}  // namespace

// Input Channel 0 stands for "All"; 1..16 for a channel.
const PluginParameter PluginParameters[] = {
    {"pitchWheelRange", "Pitch Wheel Range", ParameterType::Int, 0, MaxPitchWheelRange,
     [](const Settings& s) -> double { return s.pitchWheelRange; },
     [](Settings& s, double v) { s.pitchWheelRange = static_cast<uint8_t>(v); }, true},
    {"referenceFrequency", "Reference Frequency", ParameterType::Float, 1, 100000,
     [](const Settings& s) { return s.referenceFrequency; }, [](Settings& s, double v) { s.referenceFrequency = v; },
     true},
    {"referenceKey", "Reference Key", ParameterType::Int, 0, 127, keyOf<&Settings::referenceKey>,
     setKey<&Settings::referenceKey>, true},
    {"inputChannel", "Input Channel", ParameterType::Int, 0, 16,
     [](const Settings& s) -> double { return s.inputChannel == AllChannels ? 0 : s.inputChannel + 1; },
     [](Settings& s, double v) { s.inputChannel = v == 0 ? AllChannels : static_cast<uint8_t>(v - 1); }, false},
    {"outputMode", "Output Mode", ParameterType::Int, 0, OutputModeCount - 1,
     [](const Settings& s) -> double { return s.outputMode; },
     [](Settings& s, double v) { s.outputMode = static_cast<int32_t>(v); }, true},
    {"mpeBendRange", "MPE Bend Range", ParameterType::Int, 1, MaxMpeBendRange,
     [](const Settings& s) -> double { return s.mpeBendRange; },
     [](Settings& s, double v) { s.mpeBendRange = static_cast<int32_t>(v); }, true},
    {"tuningDeviceId", "Device ID", ParameterType::Int, 0, 127,
     [](const Settings& s) -> double { return s.tuningDeviceId; },
     [](Settings& s, double v) { s.tuningDeviceId = static_cast<int32_t>(v); }, false},
    {"tuningProgram", "Tuning Program", ParameterType::Int, 0, 127,
     [](const Settings& s) -> double { return s.tuningProgram; },
     [](Settings& s, double v) { s.tuningProgram = static_cast<int32_t>(v); }, true},
    {"pitchWheelUse", "Pitch Wheel Bends Notes", ParameterType::Bool, 0, 1,
     [](const Settings& s) -> double { return s.pitchWheelUse; },
     [](Settings& s, double v) { s.pitchWheelUse = static_cast<int32_t>(v); }, true},
    {"playerBendRange", "Player Bend Range", ParameterType::Int, 1, MaxMpeBendRange,
     [](const Settings& s) -> double { return s.playerBendRange; },
     [](Settings& s, double v) { s.playerBendRange = static_cast<int32_t>(v); }, true},
    {"mpeController", "MPE Controller", ParameterType::Bool, 0, 1,
     [](const Settings& s) -> double { return s.mpeController; },
     [](Settings& s, double v) { s.mpeController = static_cast<int32_t>(v); }, true},
    {"inputBendRange", "Input Bend Range", ParameterType::Int, 1, MaxMpeBendRange,
     [](const Settings& s) -> double { return s.inputBendRange; },
     [](Settings& s, double v) { s.inputBendRange = static_cast<int32_t>(v); }, false},
    {"keyLayout", "Key Layout Channel Offset", ParameterType::Bool, 0, 1,
     [](const Settings& s) -> double { return s.keyLayout; },
     [](Settings& s, double v) { s.keyLayout = static_cast<int32_t>(v); }, true},
    {"keysPerChannel", "Keys per Channel", ParameterType::Int, 1, MaxKeysPerChannel,
     [](const Settings& s) -> double { return s.keysPerChannel; },
     [](Settings& s, double v) { s.keysPerChannel = static_cast<int32_t>(v); }, true},
    {"releaseTime", "Release Time", ParameterType::Int, 0, MaxReleaseTime,
     [](const Settings& s) -> double { return s.releaseTime; },
     [](Settings& s, double v) { s.releaseTime = static_cast<int32_t>(v); }, false},
    {"commandKey", "Command / Modulate Key", ParameterType::Int, 0, NoKey, keyOf<&Settings::commandKey>,
     setKey<&Settings::commandKey>, false},
    {"demodulateKey", "Demodulate Key", ParameterType::Int, 0, NoKey, keyOf<&Settings::demodulateKey>,
     setKey<&Settings::demodulateKey>, false},
    {"resetPitchKey", "Reset Pitch Key", ParameterType::Int, 0, NoKey, keyOf<&Settings::resetPitchKey>,
     setKey<&Settings::resetPitchKey>, false},
    {"initMessageKey", "Send Init Message Key", ParameterType::Int, 0, NoKey, keyOf<&Settings::initMessageKey>,
     setKey<&Settings::initMessageKey>, false},
    VANTO_RELAY("relayAftertouch", "Relay Aftertouch", RelayAftertouch),
    VANTO_RELAY("relayControl", "Relay Control", RelayControl),
    VANTO_RELAY("relayProgramChange", "Relay Program Change", RelayProgramChange),
    VANTO_RELAY("relayChannelPressure", "Relay Channel Pressure", RelayChannelPressure),
    VANTO_RELAY("relaySystemExclusive", "Relay System Exclusive", RelaySystemExclusive),
    VANTO_RELAY("relaySequencing", "Relay Sequencing", RelaySequencing),
    VANTO_RELAY("relayTuneRequest", "Relay Tune Request", RelayTuneRequest),
    VANTO_RELAY("relayActiveSense", "Relay Active Sense", RelayActiveSense),
    VANTO_RELAY("relayReset", "Relay Reset", RelayReset),
    VANTO_CHANNEL(1), VANTO_CHANNEL(2), VANTO_CHANNEL(3), VANTO_CHANNEL(4),
    VANTO_CHANNEL(5), VANTO_CHANNEL(6), VANTO_CHANNEL(7), VANTO_CHANNEL(8),
    VANTO_CHANNEL(9), VANTO_CHANNEL(10), VANTO_CHANNEL(11), VANTO_CHANNEL(12),
    VANTO_CHANNEL(13), VANTO_CHANNEL(14), VANTO_CHANNEL(15), VANTO_CHANNEL(16),
};

constexpr int ParameterCount = sizeof PluginParameters / sizeof PluginParameters[0];
static_assert(ParameterCount <= MaxPluginParameters);
const int PluginParameterCount = ParameterCount;

double limitedValue(const PluginParameter& p, double value)
{
    if (!std::isfinite(value))
        value = p.minimum;
    value = std::clamp(value, p.minimum, p.maximum);
    return p.type == ParameterType::Float ? value : std::round(value);
}
