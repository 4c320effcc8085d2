#pragma once
// One mutex guards every shared engine record (settings, scale, tuning table,
// note allocation, port handles). The input handler holds it for one message;
// window-thread code holds it while it writes any of those records or calls
// an engine operation. Engine operations never take it themselves, so they
// nest freely inside either holder.
//
// Never hold it while closing an input device: closing waits for the input
// thread, which may be waiting for this lock.

#include <mutex>

extern std::mutex engineMutex;

using EngineLock = std::lock_guard<std::mutex>;
