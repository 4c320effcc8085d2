#include <algorithm>

#include <gtest/gtest.h>

#include "engine/input_dispatch.h"
#include "engine/output_senders.h"
#include "support/engine_fixture.h"

namespace {

class InputDispatchTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.resetChannels();
        output.clear();
        engine.midiPorts.midiIn = &input;
    }
    void receive(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0)
    {
        engine.handleMidiInput(&input, MimData, 0, packShortMessage(status, 0, data1, data2), 0);
    }
    // Fills the port's buffer as a device would and delivers it.
    void receiveSysex(const std::vector<uint8_t>& bytes)
    {
        SysexBuffer& header = engine.sysexInput.header;
        header.data = engine.sysexInput.buffer;
        header.bufferLength = SysexBufferSize;
        header.bytesRecorded = static_cast<uint32_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), header.data);
        engine.handleMidiInput(&input, MimLongData, 0, reinterpret_cast<uintptr_t>(&header), 0);
    }

    RecordingInput input;
};

TEST_F(InputDispatchTest, RelayTableFollowsTheSwitches)
{
    struct Case {
        uint8_t status;
        int relaySwitch;  // -1: never relayed
        size_t copies;    // messages sent when relayed
    };
    const Case cases[] = {
        {0xB3, RelayControl, 15},       {0xC3, RelayProgramChange, 15},
        {0xD3, RelayChannelPressure, 15}, {0xE3, -1, 0},                  {0xF0, RelaySystemExclusive, 1},
        {0xF7, RelaySystemExclusive, 1}, {0xF1, RelaySequencing, 1},      {0xF2, RelaySequencing, 1},
        {0xF3, RelaySequencing, 1},      {0xF8, RelaySequencing, 1},      {0xF9, RelaySequencing, 1},
        {0xFA, RelaySequencing, 1},      {0xFB, RelaySequencing, 1},      {0xFC, RelaySequencing, 1},
        {0xF6, RelayTuneRequest, 1},     {0xFE, RelayActiveSense, 1},     {0xFF, RelayReset, 1},
        {0xF4, -1, 0},                   {0xF5, -1, 0},                   {0xFD, -1, 0},
        {0x40, -1, 0},
    };
    // Each message with only its own switch on, then with every switch but its own.
    for (const Case& c : cases) {
        for (int32_t on : {0, 1}) {
            for (int32_t& r : engine.settings.relay)
                r = 1 - on;
            if (c.relaySwitch >= 0)
                engine.settings.relay[c.relaySwitch] = on;
            output.clear();
            receive(c.status, 0x12, 0x34);
            const size_t expected = on && c.relaySwitch >= 0 ? c.copies : 0;
            ASSERT_EQ(sent().size(), expected) << std::hex << int(c.status) << " switch " << on;
            for (size_t i = 0; i < sent().size(); ++i) {
                const ShortMessage& m = sent()[i];
                EXPECT_EQ(m.data1, 0x12);
                EXPECT_EQ(m.data2, 0x34);
                // A channel message goes to every used channel, 10 left out; a system message once, as it came.
                EXPECT_EQ(m.status, c.copies == 1 ? c.status : (c.status & 0xF0) | (i < 9 ? i : i + 1));
            }
        }
    }
}

TEST_F(InputDispatchTest, InputChannelFilterPassesSystemMessages)
{
    engine.settings.inputChannel = 0;
    engine.settings.relay[RelaySequencing] = 1;
    receive(0x91, 60, 100);
    EXPECT_TRUE(sent().empty());
    receive(0xB1, 7, 100);
    EXPECT_TRUE(sent().empty());
    receive(0xF8);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0], (ShortMessage{0xF8, 0, 0}));
    receive(0x90, 60, 100);
    EXPECT_EQ(sent().size(), 3u);
    engine.settings.inputChannel = AllChannels;  // every channel's keys share one allocation
    receive(0x93, 60, 100);
    EXPECT_EQ(sent().size(), 3u);
    receive(0x83, 60, 0);
    EXPECT_EQ(sent().size(), 4u);
    EXPECT_EQ(engine.noteAllocation.keyChannel[60], 0);
}

TEST_F(InputDispatchTest, OtherCallbackCodesAreIgnored)
{
    engine.handleMidiInput(&input, 961, 0, 0x643C90, 0);  // open
    engine.handleMidiInput(&input, 965, 0, 0x643C90, 0);  // error
    EXPECT_TRUE(sent().empty());
}

// The buffer goes back to the device after every message, relayed or not,
// unless the relay is off or the input is closing.
TEST_F(InputDispatchTest, SysexIsRelayedFromTheInputBufferAndTheBufferRequeued)
{
    const std::vector<uint8_t> message = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7};
    const struct {
        bool relay, ready, outputAccepts, outputOpen;
        size_t relayed, requeued;
    } cases[] = {
        {true, true, true, true, 1, 1},    // relayed
        {false, true, true, true, 0, 0},   // switched off: the device keeps the buffer
        {true, false, true, true, 1, 0},   // closing: not queued again
        {true, true, false, true, 1, 1},   // refused by the output
        {true, true, true, false, 0, 1},   // no output
    };
    for (const auto& c : cases) {
        engine.settings.relay[RelaySystemExclusive] = c.relay;
        engine.sysexInput.bufferReady = c.ready;
        output.acceptLong = c.outputAccepts;
        engine.midiPorts.midiOut = c.outputOpen ? &output : nullptr;
        output.clear();
        input.requeued.clear();
        receiveSysex(message);
        ASSERT_EQ(output.longMessages.size(), c.relayed);
        EXPECT_TRUE(!c.relayed || output.longMessages[0] == message);
        EXPECT_EQ(input.requeued.size(), c.requeued);
        EXPECT_TRUE(!c.requeued || input.requeued[0] == &engine.sysexInput.header);
    }
    engine.midiPorts.midiOut = &output;
    output.clear();
    SysexBuffer header{engine.sysexInput.buffer, 16, 5000, 0};  // more recorded than the buffer holds
    engine.handleMidiInput(&input, MimLongData, 0, reinterpret_cast<uintptr_t>(&header), 0);
    ASSERT_EQ(output.longMessages.size(), 1u);
    EXPECT_EQ(output.longMessages[0].size(), 16u);
    receiveSysex({});  // as a closing input hands its buffer back
    EXPECT_EQ(output.longMessages.size(), 1u);
}

}  // namespace
