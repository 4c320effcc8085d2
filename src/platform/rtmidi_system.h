#pragma once
// The MIDI device services on RtMidi: the ALSA sequencer on Linux, CoreMIDI
// on macOS, the multimedia services on Windows.

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/midi_system.h"
#include "platform/port_names.h"

struct OutputPort;

class RtMidiSystem : public MidiSystem {
public:
    // The ALSA sequencer (or the system's own services elsewhere); JACK is
    // served by JackMidiSystem, and by RtMidi's JACK layer only when asked
    // for, as the tests do.
    explicit RtMidiSystem(bool jackOnly = false);
    ~RtMidiSystem() override;
    bool hasService() override;
    DeviceLists deviceLists() override;
    std::vector<std::string> inputDeviceNames() override;
    std::vector<std::string> outputDeviceNames() override;
    std::unique_ptr<MidiInputDevice> openInput(int32_t device, MidiInputHandler& handler) override;
    std::unique_ptr<MidiOutputDevice> openOutput(int32_t device) override;

    // Told of every port that comes or goes by the ALSA sequencer's
    // announcements; where they cannot be had, true at each call.
    bool devicesChanged() override;
    // System Exclusive messages longer than the output gathers (1 MiB).
    uint64_t lostMessages() override { return lost_; }

private:
    struct Announcements;

    bool alsaDevicesChanged();

    // "Vanto Out", kept from its first opening until the system goes.
    std::shared_ptr<OutputPort> mapperPort_;
    std::unique_ptr<Announcements> announcements_;
    bool jackOnly_;
    std::atomic<uint64_t> lost_{0};
    int lastApi_ = 0;  // the RtMidi::Api of the last lists
};
