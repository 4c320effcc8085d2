#pragma once
// Test doubles for the device interfaces: they record what the engine sends.

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <vector>

#include "engine/midi_device.h"

struct ShortMessage {
    uint8_t status;
    uint8_t data1;
    uint8_t data2;

    static ShortMessage fromWord(uint32_t word)
    {
        return {static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>((word >> 8) & 0xFF),
                static_cast<uint8_t>((word >> 16) & 0xFF)};
    }
    uint8_t kind() const { return status & 0xF0; }
    uint8_t channel() const { return status & 0x0F; }
    bool operator==(const ShortMessage&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ShortMessage& m)
{
    char text[12];
    std::snprintf(text, sizeof text, "%02X %02X %02X", m.status, m.data1, m.data2);
    return out << text;
}

class RecordingOutput : public MidiOutput {
public:
    void sendShortMessage(uint32_t message) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shortMessages.push_back(ShortMessage::fromWord(message));
        order += 's';
        // The top byte of a packed word must stay clear.
        if (message >> 24)
            ++malformedWords;
    }
    bool sendLongMessage(const uint8_t* data, size_t count) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        longMessages.emplace_back(data, data + count);
        order += 'l';
        return acceptLong;
    }
    void clear()
    {
        shortMessages.clear();
        longMessages.clear();
        order.clear();
    }

    std::vector<ShortMessage> shortMessages;
    std::vector<std::vector<uint8_t>> longMessages;
    std::string order;  // 's' for each short message, 'l' for each long one, as sent
    int malformedWords = 0;
    bool acceptLong = true;

private:
    std::mutex mutex_;
};

class DiscardingOutput : public MidiOutput {
public:
    void sendShortMessage(uint32_t message) override { last = message; }
    bool sendLongMessage(const uint8_t*, size_t) override { return true; }
    uint32_t last = 0;
};

class RecordingInput : public MidiInput {
public:
    int addBuffer(SysexBuffer& buffer) override
    {
        requeued.push_back(&buffer);
        return 0;
    }
    std::vector<SysexBuffer*> requeued;
};
