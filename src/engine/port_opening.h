#pragma once
// Opening and closing the one input and one output device, and finding them
// again by name when they come and go.

#include <memory>
#include <string>

#include "engine/midi_system.h"

inline constexpr const char* InputDeviceError = "Could not open the specified\nmidi input device.";
inline constexpr const char* OutputDeviceError = "Could not open the specified\nmidi output device.";
inline constexpr const char* DeviceErrorTitle = "Error";
inline constexpr const char* ServiceLostText = "The MIDI service has gone away";
inline constexpr const char* NoServiceText = "Waiting for a MIDI service";

// What an engine knows of its devices beyond the handles in its MidiPorts.
// The window thread alone reads and writes it.
struct PortOpening {
    std::unique_ptr<MidiInputDevice> inputDevice;
    std::unique_ptr<MidiOutputDevice> outputDevice;
    // The devices remembered by name that are not there: awaited.
    std::string awaitedInput;
    std::string awaitedOutput;
    // The MIDI service stopped answering while devices were open or
    // awaited: everything is opened again once it answers.
    bool serviceLost = false;
    // Whether a MIDI service has answered since the start: one that never
    // did has not gone away.
    bool serviceAnswered = false;
    // A listed device failed to open: it is tried again on every look until
    // it opens or goes, without a box each time.
    bool retryOpening = false;
    // The names the open devices bear in the system's list: a look-alike
    // opened for want of the remembered device gives way to it when it comes.
    std::string openedInputName;
    std::string openedOutputName;
    // The awaited input was left to another Vanto that plays it; asked once,
    // it is opened again only once that one has let it go.
    bool inputLeftToAnother = false;
    bool reopening = false;
};
