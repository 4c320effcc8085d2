#pragma once
// The MIDI device services on RtMidi: ALSA sequencer or JACK on Linux,
// CoreMIDI on macOS, the multimedia services on Windows.

#include <memory>
#include <string>
#include <vector>

#include "engine/midi_system.h"

// The client and port names the program shows in the system's patchbay.
inline constexpr const char* OutputClientName = "Vanto";
inline constexpr const char* InputClientName = "Vanto In";
inline constexpr const char* OutputPortName = "Vanto Out";
inline constexpr const char* InputPortName = "Vanto In";

// True for a port of this program (or another instance of it), so that its
// own ports never show in its device lists.
bool isOwnPortName(const std::string& portName);

struct OutputPort;

class RtMidiSystem : public MidiSystem {
public:
    RtMidiSystem();
    ~RtMidiSystem() override;
    bool hasService() override;
    DeviceLists deviceLists() override;
    std::vector<std::string> inputDeviceNames() override;
    std::vector<std::string> outputDeviceNames() override;
    std::unique_ptr<MidiInputDevice> openInput(int32_t device, MidiInputHandler handler) override;
    std::unique_ptr<MidiOutputDevice> openOutput(int32_t device) override;

    // Told of every port that comes or goes, by JACK's notifications or the
    // ALSA sequencer's announcements; where neither can be had, true at
    // each call.
    bool devicesChanged() override;

private:
    struct Watcher;
    struct Announcements;

    bool alsaDevicesChanged();

    // "Vanto Out", kept from its first opening until the system goes.
    std::shared_ptr<OutputPort> mapperPort_;
    std::unique_ptr<Watcher> watcher_;
    std::unique_ptr<Announcements> announcements_;
    int lastApi_ = 0;  // the RtMidi::Api of the last lists
};
