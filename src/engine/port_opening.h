#pragma once
// Opening and closing the one input and one output device, and finding them
// again by name when they come and go.

#include <string>

#include "engine/message_reporter.h"
#include "engine/engine_lock.h"

inline constexpr const char* InputDeviceError = "Could not open the specified\nmidi input device.";
inline constexpr const char* OutputDeviceError = "Could not open the specified\nmidi output device.";
inline constexpr const char* DeviceErrorTitle = "Error";
inline constexpr const char* ServiceLostText = "The MIDI service has gone away";
inline constexpr const char* NoServiceText = "Waiting for a MIDI service";

// Closes both devices, then opens the input (with the System Exclusive
// buffer queued) and the output, and prepares the instrument: channel reset,
// pitch-wheel range, and the init message with "Send on Open". A device
// remembered by name is found by it wherever it now stands; when it is not
// there, nothing is opened in its place and it is awaited (see
// deviceWaitText). A device remembered by position only gets its name
// remembered once it opens. Failures are shown through owner. Call without
// holding the engine lock.
void openPorts(MessageReporter& owner) TAKES_ENGINE_LOCK;

// Closes whatever is open, input first. Call without holding the engine lock:
// closing the input waits for the input thread.
void closePorts() TAKES_ENGINE_LOCK;

// For the window thread, about once a second: when an awaited device has
// appeared, one that went away has come back, or the MIDI service answers
// again after it went away, reopens the devices and returns true. Notices a
// device or the service going away as well.
bool reopenWhenDevicesReturn(MessageReporter& owner) TAKES_ENGINE_LOCK;

// Where notes go, in a line: "Keyboard → Vanto → FluidSynth" (the devices'
// client names), "Vanto Out is not connected" when nothing listens to the
// program's own output, or what deviceWaitText says while something is
// awaited or the service has gone.
std::string routeText();

// Whether both devices are open and nothing is awaited.
bool isRouteComplete();

// Whether the MIDI service went away while devices were open or awaited,
// and has not come back.
bool serviceHasGone();

// For the status line: that the MIDI service has gone away, or "Waiting for
// <name>" for each device awaited; then how many messages the platform lost,
// when any. "" when all is well.
std::string deviceWaitText();
