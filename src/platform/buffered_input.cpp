#include "platform/buffered_input.h"

#include <algorithm>
#include <cstring>

#include "engine/input_dispatch.h"

namespace {

uint32_t packBytes(const uint8_t* bytes, size_t size)
{
    uint32_t word = 0;
    for (size_t i = 0; i < size && i < 3; ++i)
        word |= uint32_t{bytes[i]} << (8 * i);
    return word;
}

bool isSystemExclusivePiece(uint8_t first)
{
    return first == 0xF0 || first == 0xF7 || first < 0x80;
}

}  // namespace

int BufferedInputDevice::prepareBuffer(SysexBuffer& buffer)
{
    if (!buffer.data || buffer.bufferLength == 0)
        return 1;
    prepared_ = &buffer;
    return 0;
}

int BufferedInputDevice::addBuffer(SysexBuffer& buffer)
{
    if (&buffer != prepared_)
        return 1;
    queued_ = true;
    return 0;
}

void BufferedInputDevice::unprepareBuffer(SysexBuffer& buffer)
{
    if (&buffer == prepared_)
        prepared_ = nullptr;
}

void BufferedInputDevice::deliver(const uint8_t* bytes, size_t size, uintptr_t instance)
{
    if (size == 0 || !started_)
        return;
    if (isSystemExclusivePiece(bytes[0]))
        deliverSystemExclusive(bytes, size, instance);
    else
        handler_(this, MimData, instance, packBytes(bytes, size), 0);
}

void BufferedInputDevice::deliverSystemExclusive(const uint8_t* bytes, size_t size, uintptr_t instance)
{
    size_t offset = 0;
    while (offset < size) {
        SysexBuffer* buffer = prepared_;
        if (!buffer || !queued_.exchange(false))
            return;
        const size_t chunk = std::min<size_t>(buffer->bufferLength, size - offset);
        std::memcpy(buffer->data, bytes + offset, chunk);
        buffer->bytesRecorded = static_cast<uint32_t>(chunk);
        offset += chunk;
        handler_(this, MimLongData, instance, reinterpret_cast<uintptr_t>(buffer), 0);
    }
}

void BufferedInputDevice::handBackBuffer()
{
    if (queued_.exchange(false) && prepared_) {
        prepared_->bytesRecorded = 0;
        handler_(this, MimLongData, 0, reinterpret_cast<uintptr_t>(prepared_), 0);
    }
}
