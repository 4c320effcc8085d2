#pragma once
// One mutex guards every shared engine record (settings, scale, keyboard
// mapping, tuning table, note allocation, port handles).
//
// Who takes it: the input handler, for one message; and window-thread code
// around whatever it writes or calls. The engine's operations on the records
// (table builds, moves, note allocation, the senders, installing a scale or
// mapping) never take it: their callers hold it, so they nest freely. The
// operations that read files or open devices (loadScale,
// loadKeyboardMapping, loadConfig, openPorts, closePorts,
// reopenWhenDevicesReturn, initialiseSystem) take it themselves, only around
// the moment they install what they read, and are called without it.
//
// Never hold it while closing an input device: closing waits for the input
// thread, which may be waiting for this lock.

#include <mutex>

extern std::mutex engineMutex;

using EngineLock = std::lock_guard<std::mutex>;
