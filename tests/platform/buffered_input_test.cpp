// What an input device hands the engine from the bytes a transport
// delivers: whole messages only, each on its own and in order.

#include "platform/buffered_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/input_dispatch.h"
#include "engine/midi_system.h"

namespace {

std::vector<std::string> handed;  // "90" a message by its status, "error 90", "sysex F0 01"

std::string hex(const uint8_t* bytes, size_t size)
{
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += (i ? " " : "") + std::string(1, "0123456789ABCDEF"[bytes[i] >> 4]) + "0123456789ABCDEF"[bytes[i] & 15];
    return text;
}

class Recorder : public MidiInputHandler {
public:
    void handleMidiInput(MidiInput* port, uint32_t code, uintptr_t, uintptr_t param1, uintptr_t) override;
};

void Recorder::handleMidiInput(MidiInput* port, uint32_t code, uintptr_t, uintptr_t param1, uintptr_t)
{
    const uint8_t first = param1 & 0xFF;
    if (code != MimLongData) {
        handed.push_back((code == MimError ? "error " : "") + hex(&first, 1));
        return;
    }
    auto* buffer = reinterpret_cast<SysexBuffer*>(param1);
    handed.push_back("sysex " + hex(buffer->data, buffer->bytesRecorded));
    port->addBuffer(*buffer);
}

Recorder recorder;

class TestInput : public BufferedInputDevice {
public:
    TestInput() : BufferedInputDevice(recorder)
    {
        prepareBuffer(header_);
        addBuffer(header_);
        start();
    }
    void receive(const std::vector<uint8_t>& bytes) { deliver(bytes.data(), bytes.size(), 0); }
    void reset() override {}
    void close() override {}

private:
    uint8_t buffer_[16] = {};
    SysexBuffer header_{buffer_, sizeof buffer_, 0, 0};
};

TEST(BufferedInput, HandsOnWholeMessagesOnlyEachOnItsOwnInOrder)
{
    const struct {
        std::vector<std::vector<uint8_t>> events;
        std::vector<std::string> handed;
    } cases[] = {
        {{{0xB0, 0x07}}, {"error B0"}},
        {{{0xC0}}, {"error C0"}},
        {{{0x3C, 0x64, 0x90, 0x3C, 0x64}, {0xF7}, {0x3C, 0x90, 0x3C, 0x64}}, {"error 3C", "90", "error F7", "error 3C", "90"}},
        {{{0x90, 0x3C, 0x64, 0x3E, 0x64, 0xF7}}, {"90", "90", "error F7"}},
        {{{0xFE, 0x90, 0x3C, 0xF8, 0x64}}, {"FE", "F8", "90"}},
        {{{0x90, 0x3C, 0x80, 0x3C, 0x00}}, {"error 90", "80"}},
        {{{0xF0, 0x01, 0xF8, 0x02, 0xF7}}, {"sysex F0 01", "F8", "sysex 02 F7"}},
        {{{0xC0, 0x05, 0xF0, 0x01, 0xF0, 0x02, 0xF7}, {0x90, 0x3C, 0x64}}, {"C0", "error F0", "90"}},
        {{{0xC0, 0x05, 0xF0, 0x01, 0xF8, 0xF7}}, {"C0", "sysex F0 01", "F8", "sysex F7"}},
        {{{0xF0, 0x01}, {0x02}, {0x03, 0xF7, 0xC0, 0x05}}, {"sysex F0 01", "sysex 02", "sysex 03 F7", "C0"}},
        {{{0xC0, 0x05, 0xF0, 0x01}, {0x90, 0x3C, 0x64}}, {"C0", "sysex F0 01", "error F0", "90"}},
        {{{0xF1, 0x10, 0x20}}, {"F1", "error 20"}},
    };
    for (const auto& c : cases) {
        TestInput input;
        handed.clear();
        for (const std::vector<uint8_t>& event : c.events)
            input.receive(event);
        EXPECT_EQ(handed, c.handed) << hex(c.events[0].data(), c.events[0].size());
    }
}

}  // namespace
