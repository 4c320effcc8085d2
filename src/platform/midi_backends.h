#pragma once
// The program's MIDI services: JACK through libjack whenever a JACK server
// answers (jackd, or PipeWire's JACK); otherwise RtMidi, on the ALSA
// sequencer (the system's own services on Windows and macOS).

#include "platform/jack_system.h"
#include "platform/rtmidi_system.h"

class PlatformMidiSystem : public MidiSystem {
public:
    // engine: see JackMidiSystem.
    explicit PlatformMidiSystem(Engine& engine) : jack_(engine) {}

    bool hasService() override { return current().hasService(); }
    DeviceLists deviceLists() override { return current().deviceLists(); }
    std::vector<std::string> inputDeviceNames() override { return current().inputDeviceNames(); }
    std::vector<std::string> outputDeviceNames() override { return current().outputDeviceNames(); }
    bool devicesChanged() override
    {
        const bool jackChanged = jack_.devicesChanged();
        return jack_.hasService() ? jackChanged : jackChanged || rtMidi_.devicesChanged();
    }
    uint64_t lostMessages() override { return jack_.lostMessages() + rtMidi_.lostMessages(); }
    std::optional<std::vector<std::string>> ownOutputListeners() override { return current().ownOutputListeners(); }
    std::optional<OtherRelay> otherRelayOn(int32_t inputDevice) override { return current().otherRelayOn(inputDevice); }
    std::unique_ptr<MidiInputDevice> openInput(int32_t device, MidiInputHandler& handler) override
    {
        return current().openInput(device, handler);
    }
    std::unique_ptr<MidiOutputDevice> openOutput(int32_t device) override { return current().openOutput(device); }

private:
    MidiSystem& current() { return jack_.hasService() ? static_cast<MidiSystem&>(jack_) : rtMidi_; }

    JackMidiSystem jack_;
    RtMidiSystem rtMidi_;
};
