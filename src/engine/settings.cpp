#include "engine/settings.h"

#include "engine/engine.h"

Settings defaultSettings()
{
    Settings s{};
    s.inputDevice = 0;
    s.outputDevice = -1;
    s.pitchWheelRange = 2;
    s.inputChannel = AllChannels;
    s.referenceKey = 69;
    s.referenceFrequency = 440.0;
    for (int32_t& used : s.useChannel)
        used = 1;
    s.useChannel[9] = 0;
    const int32_t relayDefaults[RelaySwitchCount] = {1, 1, 1, 1, 0, 0, 0, 0, 0};
    for (int i = 0; i < RelaySwitchCount; ++i)
        s.relay[i] = relayDefaults[i];
    const uint8_t controllerDefaults[ControlBarCount] = {1, 10, 91, 92, 93, 95, 64, 7};
    for (int i = 0; i < ControlBarCount; ++i)
        s.controlBarController[i] = controllerDefaults[i];
    s.commandKey = NoKey;
    s.demodulateKey = NoKey;
    s.resetPitchKey = NoKey;
    s.initMessageKey = NoKey;
    s.shiftCentre = 0;
    s.sendInitOnOpen = 1;
    s.initEventCount = 0;
    s.releaseTime = 0;
    s.outputMode = OutputPitchBend;
    s.mpeBendRange = 48;
    s.tuningDeviceId = 127;
    s.tuningProgram = 0;
    s.pitchWheelUse = PitchWheelIgnore;
    s.playerBendRange = 2;
    s.mpeController = 0;
    s.inputBendRange = 48;
    s.keyLayout = KeyLayoutOneChannel;
    s.keysPerChannel = MaxKeysPerChannel;
    s.windowWidth = 0;
    s.windowHeight = 0;
    return s;
}


bool parseKeyLayout(const std::string& text, int32_t& keysPerChannel)
{
    const std::string digits = text.starts_with("offset:") ? text.substr(7) : "";
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int32_t number = std::stoi(digits);
    if (number < 1 || number > MaxKeysPerChannel)
        return false;
    keysPerChannel = number;
    return true;
}

std::string outputModeSuffix(const Settings& s)
{
    std::string text;
    if (s.outputMode != OutputPitchBend && s.outputMode >= 0 && s.outputMode < OutputModeCount)
        text = std::string("  |  ") + OutputModeNames[s.outputMode] + " output";
    return text;
}

Settings Engine::currentSettings() const
{
    EngineLock lock(engineMutex);
    return settings;
}
