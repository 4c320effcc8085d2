#pragma once
// A ring of MIDI messages of any length up to half its size, in one block
// allocated when it is made. One thread pushes and one thread takes, without
// locks or allocation on either side: the window thread hands messages to
// the real-time cycle through it, and the cycle keeps what did not fit in
// its output port for the next cycle.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class MessageRing {
public:
    explicit MessageRing(size_t capacity);

    // False when the message does not fit now (or ever: over half the
    // capacity, or empty); nothing is stored then.
    bool push(const uint8_t* data, size_t size);
    // The oldest message, or null when there is none. It stays valid until
    // pop().
    const uint8_t* front(size_t& size);
    void pop();
    bool empty() const { return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire); }
    void clear() { tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release); }

private:
    static constexpr uint32_t WrapMark = 0xFFFFFFFF;
    static constexpr size_t HeaderSize = sizeof(uint32_t);

    static size_t recordSize(size_t size) { return (HeaderSize + size + 3) & ~size_t{3}; }
    uint32_t headerAt(size_t position) const;

    size_t capacity_;
    std::unique_ptr<uint8_t[]> bytes_;
    std::atomic<size_t> head_{0};  // written by the pushing thread only
    std::atomic<size_t> tail_{0};  // written by the taking thread only
};
