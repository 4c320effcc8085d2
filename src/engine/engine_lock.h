#pragma once
// Each engine has one mutex, its member engineMutex, that guards every record
// it keeps: the settings, the scale and keyboard mapping in force with the
// working centre, the tuning table, the note allocation and the port handles.
// Each record is declared GUARDED_BY_ENGINE_LOCK, so that clang's
// -Wthread-safety flags code that touches one without the lock of its own
// engine (an error where warnings are).
//
// Who takes it:
// - Whoever starts work on the records from outside the engine: the input
//   handler, for one message (the JACK cycle holds it for a whole cycle and
//   says so with MimEngineLocked); the window thread, around whatever it
//   reads, writes or calls.
// - The operations that read files or open and close devices (loadScale,
//   loadKeyboardMapping, loadConfig, openPorts, closePorts,
//   reopenWhenDevicesReturn, initialiseSystem) take it themselves, only
//   around the moment they install what they read, and must be called
//   without it: they are marked TAKES_ENGINE_LOCK.
// - Every other engine operation expects its caller to hold it: they are
//   marked NEEDS_ENGINE_LOCK, and nest freely.
//
// Never hold it while closing an input device: closing waits for the input
// thread, which may be waiting for this lock.

#include <mutex>

#if defined(__clang__)
#define VANTO_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VANTO_THREAD_ATTRIBUTE(x)
#endif

class VANTO_THREAD_ATTRIBUTE(capability("mutex")) EngineMutex {
public:
    void lock() VANTO_THREAD_ATTRIBUTE(acquire_capability()) { mutex_.lock(); }
    void unlock() VANTO_THREAD_ATTRIBUTE(release_capability()) { mutex_.unlock(); }
    bool try_lock() VANTO_THREAD_ATTRIBUTE(try_acquire_capability(true)) { return mutex_.try_lock(); }
    // Tells the analysis what a caller has promised: that it holds the lock
    // (a real-time cycle that took it by trying, for the whole cycle).
    void assumeHeld() const VANTO_THREAD_ATTRIBUTE(assert_capability(this)) {}

private:
    std::mutex mutex_;
};

// In the engine's members, engineMutex is the engine's own; elsewhere
// ENGINE_LOCK_OF(engine) names the lock of that engine.
#define GUARDED_BY_ENGINE_LOCK VANTO_THREAD_ATTRIBUTE(guarded_by(engineMutex))
#define NEEDS_ENGINE_LOCK VANTO_THREAD_ATTRIBUTE(requires_capability(engineMutex))
#define TAKES_ENGINE_LOCK VANTO_THREAD_ATTRIBUTE(locks_excluded(engineMutex))
#define NEEDS_ENGINE_LOCK_OF(engine) VANTO_THREAD_ATTRIBUTE(requires_capability((engine).engineMutex))
#define TAKES_ENGINE_LOCK_OF(engine) VANTO_THREAD_ATTRIBUTE(locks_excluded((engine).engineMutex))

// Holds the engine lock for its lifetime.
class VANTO_THREAD_ATTRIBUTE(scoped_lockable) EngineLock {
public:
    explicit EngineLock(EngineMutex& mutex) VANTO_THREAD_ATTRIBUTE(acquire_capability(mutex)) : mutex_(mutex)
    {
        mutex_.lock();
    }
    ~EngineLock() VANTO_THREAD_ATTRIBUTE(release_capability()) { mutex_.unlock(); }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;

private:
    EngineMutex& mutex_;
};
