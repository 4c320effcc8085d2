#pragma once
// The small device interfaces the engine talks through. A platform layer
// (RtMidi, WinMM, CoreMIDI, or a recording double in the tests) implements
// them; the engine itself never sees a platform type.

#include <cstddef>
#include <cstdint>

constexpr uint32_t SysexBufferSize = 2048;

// A System Exclusive buffer filled by the input side, in the shape of a
// multimedia input buffer header: where the bytes are, how many fit, how many
// the device recorded, and flags for the platform's own use.
struct SysexBuffer {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;
    uint32_t bytesRecorded = 0;
    uint32_t flags = 0;
};

class MidiOutput {
public:
    virtual ~MidiOutput() = default;
    // A short message packed as status | data1 << 8 | data2 << 16.
    virtual void sendShortMessage(uint32_t message) = 0;
    // Sends count bytes of System Exclusive and returns once the device no
    // longer needs them, so the caller may reuse the buffer. False when the
    // device refused the message; nothing was sent then.
    virtual bool sendLongMessage(const uint8_t* data, size_t count) = 0;
};

class MidiInput {
public:
    virtual ~MidiInput() = default;
    // Hands a System Exclusive buffer (back) to the input so that the next
    // message can be recorded into it. 0 when queued.
    virtual int addBuffer(SysexBuffer& buffer) = 0;
};
