#include "platform/message_ring.h"

#include <cstring>

MessageRing::MessageRing(size_t capacity) : capacity_(capacity & ~size_t{3}), bytes_(new uint8_t[capacity_]) {}

uint32_t MessageRing::headerAt(size_t position) const
{
    uint32_t header;
    std::memcpy(&header, bytes_.get() + position % capacity_, HeaderSize);
    return header;
}

bool MessageRing::push(const uint8_t* data, size_t size)
{
    const size_t record = recordSize(size);
    if (size == 0 || record > capacity_ / 2)
        return false;
    const size_t head = head_.load(std::memory_order_relaxed);
    const size_t tail = tail_.load(std::memory_order_acquire);
    const size_t position = head % capacity_;
    // A record never wraps: the rest of the block is skipped instead.
    const size_t skipped = capacity_ - position < record ? capacity_ - position : 0;
    if (capacity_ - (head - tail) < skipped + record)
        return false;
    uint8_t* at = bytes_.get() + position;
    if (skipped > 0) {
        std::memcpy(at, &WrapMark, HeaderSize);
        at = bytes_.get();
    }
    const auto length = static_cast<uint32_t>(size);
    std::memcpy(at, &length, HeaderSize);
    std::memcpy(at + HeaderSize, data, size);
    head_.store(head + skipped + record, std::memory_order_release);
    return true;
}

const uint8_t* MessageRing::front(size_t& size)
{
    const size_t head = head_.load(std::memory_order_acquire);
    size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == head)
        return nullptr;
    uint32_t header = headerAt(tail);
    if (header == WrapMark) {
        // The record after a wrap mark starts the block, and was published
        // with it: head is past both.
        tail += capacity_ - tail % capacity_;
        tail_.store(tail, std::memory_order_release);
        header = headerAt(tail);
    }
    size = header;
    return bytes_.get() + tail % capacity_ + HeaderSize;
}

void MessageRing::pop()
{
    size_t size;
    if (front(size))
        tail_.store(tail_.load(std::memory_order_relaxed) + recordSize(size), std::memory_order_release);
}
