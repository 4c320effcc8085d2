#pragma once
// What every input device of the platform layer shares: the one System
// Exclusive buffer lent by the engine, and handing received bytes to the
// engine's handler, a buffer at a time for System Exclusive.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/midi_system.h"

class BufferedInputDevice : public MidiInputDevice {
public:
    explicit BufferedInputDevice(MidiInputHandler handler) : handler_(handler) {}

    int prepareBuffer(SysexBuffer& buffer) override;
    int addBuffer(SysexBuffer& buffer) override;
    void start() override { started_ = true; }
    void unprepareBuffer(SysexBuffer& buffer) override;

protected:
    // One received message, or one piece of a System Exclusive message (a
    // piece begins with F0, F7 or a data byte). instance goes to the handler.
    void deliver(const uint8_t* bytes, size_t size, uintptr_t instance);
    // For reset, once no more input can arrive: a buffer still queued goes
    // back to the handler, empty.
    void handBackBuffer();
    void stopDelivering() { started_ = false; }

private:
    // The buffer comes back through addBuffer while the relay wants more;
    // once it stays out, the rest of this message and every later one are
    // dropped.
    void deliverSystemExclusive(const uint8_t* bytes, size_t size, uintptr_t instance);

    MidiInputHandler handler_;
    SysexBuffer* prepared_ = nullptr;
    std::atomic<bool> queued_{false};
    std::atomic<bool> started_{false};
};
