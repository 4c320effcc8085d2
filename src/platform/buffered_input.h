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
    explicit BufferedInputDevice(MidiInputHandler& handler) : handler_(handler) {}

    int prepareBuffer(SysexBuffer& buffer) override;
    int addBuffer(SysexBuffer& buffer) override;
    void start() override { started_ = true; }
    void unprepareBuffer(SysexBuffer& buffer) override;

protected:
    // One event as a transport delivers it: one or more messages (running
    // status within the event is understood), or a piece of a System
    // Exclusive message, which may end in F7 and carry real-time bytes.
    // Each message goes to the handler on its own, real-time bytes inside
    // System Exclusive too, in order. What is no whole message (a status
    // short of its data bytes, data bytes with no status, System Exclusive
    // broken by a status byte) goes to the handler as an error, never as a
    // message. instance goes to the handler.
    void deliver(const uint8_t* bytes, size_t size, uintptr_t instance);
    // For reset, once no more input can arrive: a buffer still queued goes
    // back to the handler, empty.
    void handBackBuffer();
    void stopDelivering() { started_ = false; }

private:
    // Returns where the System Exclusive piece at bytes[from] ends, having
    // handed its parts on; size when a status byte broke it.
    size_t deliverSysexPiece(const uint8_t* bytes, size_t from, size_t size, uintptr_t instance);
    // Returns where the message at bytes[from] ends; running is the event's
    // running status.
    size_t deliverMessage(const uint8_t* bytes, size_t from, size_t size, uint8_t& running, uintptr_t instance);
    void reportMalformed(const uint8_t* bytes, size_t size, uintptr_t instance);

    // The buffer comes back through addBuffer while the relay wants more;
    // once it stays out, the rest of this message and every later one are
    // dropped.
    void deliverSystemExclusive(const uint8_t* bytes, size_t size, uintptr_t instance);

    MidiInputHandler& handler_;
    SysexBuffer* prepared_ = nullptr;
    std::atomic<bool> queued_{false};
    std::atomic<bool> started_{false};
    bool inSysex_ = false;  // the input thread's: an F0 came, its F7 not yet
};
