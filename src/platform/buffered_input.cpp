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

bool isStatus(uint8_t byte)
{
    return byte >= 0x80;
}

bool isRealTime(uint8_t byte)
{
    return byte >= 0xF8;
}

// Data bytes a status takes.
size_t dataBytesOf(uint8_t status)
{
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 1 : 2;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    default:
        return 0;
    }
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
    uint8_t running = 0;  // running status holds within one event only
    size_t at = 0;
    while (at < size) {
        if (inSysex_ || bytes[at] == 0xF0) {
            at = deliverSysexPiece(bytes, at, size, instance);
        } else if (isRealTime(bytes[at])) {
            handler_.handleMidiInput(this, MimData, instance, bytes[at], 0);
            ++at;
        } else if (bytes[at] != 0xF7 && (isStatus(bytes[at]) || running != 0)) {
            at = deliverMessage(bytes, at, size, running, instance);  // a status, or data under running status
        } else {
            // A stray F7 or data with no status: up to the next status byte.
            size_t end = at + 1;
            while (end < size && !isStatus(bytes[end]))
                ++end;
            reportMalformed(bytes + at, end - at, instance);
            at = end;
        }
    }
}

size_t BufferedInputDevice::deliverSysexPiece(const uint8_t* bytes, size_t from, size_t size, uintptr_t instance)
{
    if (inSysex_ && isStatus(bytes[from]) && !isRealTime(bytes[from]) && bytes[from] != 0xF7) {
        // The message before never ended; this event begins anew.
        static constexpr uint8_t unended[] = {0xF0};
        inSysex_ = false;
        reportMalformed(unended, 1, instance);
        return from;
    }
    inSysex_ = true;
    size_t start = from;
    for (size_t at = from; at < size; ++at) {
        const uint8_t byte = bytes[at];
        if (byte == 0xF7) {
            inSysex_ = false;
            deliverSystemExclusive(bytes + start, at + 1 - start, instance);
            return at + 1;
        }
        if (isRealTime(byte)) {
            if (at > start)
                deliverSystemExclusive(bytes + start, at - start, instance);
            handler_.handleMidiInput(this, MimData, instance, byte, 0);
            start = at + 1;
        } else if (isStatus(byte) && at > from) {
            // Broken within the piece: what came before it is gone out, the
            // rest of the event is dropped.
            inSysex_ = false;
            reportMalformed(bytes + start, size - start, instance);
            return size;
        }
    }
    if (size > start)
        deliverSystemExclusive(bytes + start, size - start, instance);
    return size;
}

size_t BufferedInputDevice::deliverMessage(const uint8_t* bytes, size_t from, size_t size, uint8_t& running,
                                           uintptr_t instance)
{
    const bool hasStatus = isStatus(bytes[from]);
    const uint8_t status = hasStatus ? bytes[from] : running;
    running = status < 0xF0 ? status : 0;
    uint8_t message[3] = {status, 0, 0};
    size_t count = 1;
    const size_t wanted = 1 + dataBytesOf(status);
    size_t at = hasStatus ? from + 1 : from;
    for (; count < wanted && at < size; ++at) {
        if (isRealTime(bytes[at])) {
            handler_.handleMidiInput(this, MimData, instance, bytes[at], 0);
        } else if (isStatus(bytes[at])) {
            break;
        } else {
            message[count++] = bytes[at];
        }
    }
    if (count < wanted)
        reportMalformed(message, count, instance);
    else
        handler_.handleMidiInput(this, MimData, instance, packBytes(message, count), 0);
    return at;
}

void BufferedInputDevice::reportMalformed(const uint8_t* bytes, size_t size, uintptr_t instance)
{
    handler_.handleMidiInput(this, MimError, instance, packBytes(bytes, size), 0);
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
        handler_.handleMidiInput(this, MimLongData, instance, reinterpret_cast<uintptr_t>(buffer), 0);
    }
}

void BufferedInputDevice::handBackBuffer()
{
    if (queued_.exchange(false) && prepared_) {
        prepared_->bytesRecorded = 0;
        handler_.handleMidiInput(this, MimLongData, 0, reinterpret_cast<uintptr_t>(prepared_), 0);
    }
}
