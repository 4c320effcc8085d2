#pragma once
// Opening and closing the one input and one output device.

#include "app/message_reporter.h"

inline constexpr const char* InputDeviceError = "Could not open the specified\nmidi input device.";
inline constexpr const char* OutputDeviceError = "Could not open the specified\nmidi output device.";
inline constexpr const char* DeviceErrorTitle = "Error";

// Closes both devices, then opens the input (with the System Exclusive
// buffer queued) and the output, and prepares the instrument: channel reset,
// pitch-wheel range, and the init message with "Send on Open". Failures are
// shown through owner. Call without holding the engine lock.
void openPorts(MessageReporter& owner);

// Closes whatever is open, input first. Call without holding the engine lock:
// closing the input waits for the input thread.
void closePorts();
