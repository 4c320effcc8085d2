#include <cstring>

#include <gtest/gtest.h>

#include "engine/device_names.h"
#include "engine/engine_lock.h"
#include "engine/port_opening.h"
#include "support/engine_fixture.h"
#include "support/fake_midi_system.h"

namespace {

class PortOpeningTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.midiPorts.midiOut = nullptr;
        engine.midiPorts.outputOpen = 0;
        engine.midiSystem = &system;
    }
    void TearDown() override
    {
        engine.closePorts();
        engine.midiSystem = nullptr;
        EngineTest::TearDown();
    }
    const std::vector<ShortMessage>& sentToDevice() const { return system.log.output.shortMessages; }

    FakeMidiSystem system;
    RecordingReporter reporter;
};

TEST_F(PortOpeningTest, OpensInputWithItsBufferThenOutputThenPreparesTheInstrument)
{
    useOnlyChannels({0, 1});
    engine.settings.pitchWheelRange = 12;
    engine.settings.initEventCount = 1;
    engine.settings.initMessage[0] = {0xC0, 16, 5, 0};
    engine.openPorts(reporter);
    const std::vector<std::string> order = {"open input 0", "prepare", "queue", "start", "open output -1"};
    EXPECT_EQ(system.log.events, order);
    EXPECT_TRUE(reporter.shown.empty());
    EXPECT_EQ(engine.midiPorts.inputOpen, 1);
    EXPECT_EQ(engine.midiPorts.outputOpen, 1);
    EXPECT_TRUE(engine.sysexInput.bufferReady);
    EXPECT_EQ(engine.sysexInput.header.data, engine.sysexInput.buffer);
    EXPECT_EQ(engine.sysexInput.header.bufferLength, 2048u);
    // The opening sequence itself is spelled out where it is made.
    const std::vector<ShortMessage> opened = sentToDevice();
    engine.midiPorts.midiOut = &output;
    engine.prepareOutputInstrument();
    EXPECT_EQ(opened, sent());
}

// Closing hands a queued buffer back without queueing it again, before the
// output closes; reopening then sends the opening sequence again.
TEST_F(PortOpeningTest, ReopeningClosesInputFirstAndSendsTheOpeningSequenceAgain)
{
    engine.settings.relay[RelaySystemExclusive] = 1;
    engine.openPorts(reporter);
    ASSERT_TRUE(system.lastInput->queued());
    const size_t firstOpening = sentToDevice().size();
    system.log.events.clear();
    engine.openPorts(reporter);
    const std::vector<std::string> order = {"reset", "unprepare", "close input", "close output",
                                            "open input 0", "prepare", "queue", "start", "open output -1"};
    EXPECT_EQ(system.log.events, order);
    EXPECT_FALSE(system.log.sysexReadyAtReset);
    EXPECT_EQ(sentToDevice().size(), 2 * firstOpening);
    engine.closePorts();
    EXPECT_EQ(engine.midiPorts.midiIn, nullptr);
    EXPECT_EQ(engine.midiPorts.midiOut, nullptr);
    EXPECT_FALSE(engine.sysexInput.bufferReady);
}

// Each failure is shown, the input's first; what did open still works.
TEST_F(PortOpeningTest, FailedOpeningsAreShownAndTheOtherDeviceStillOpens)
{
    const struct {
        int32_t input, output;
        bool service;
        std::vector<std::string> shown;
        size_t sent;
    } cases[] = {
        {5, 7, true, {"Could not open the specified\nmidi input device.", "Could not open the specified\nmidi output device."}, 0},
        {3, MidiMapperDevice, true, {InputDeviceError}, 15 * 7},  // All Notes Off and six range controllers
        {0, MidiMapperDevice, false, {InputDeviceError, OutputDeviceError}, 0},
    };
    for (const auto& c : cases) {
        engine.settings.inputDevice = c.input;
        engine.settings.outputDevice = c.output;
        engine.midiSystem = c.service ? &system : nullptr;
        system.log.output.clear();
        reporter.shown.clear();
        engine.openPorts(reporter);
        std::vector<std::string> texts;
        for (const ShownMessage& m : reporter.shown) {
            texts.push_back(m.text);
            EXPECT_EQ(m.title, "Error");
            EXPECT_EQ(m.icon, MessageIcon::Stop);
        }
        EXPECT_EQ(texts, c.shown);
        EXPECT_EQ(sentToDevice().size(), c.sent);
        EXPECT_EQ(engine.midiPorts.inputOpen, 0);
        EXPECT_EQ(engine.midiPorts.outputOpen, c.sent ? 1 : 0);
        EXPECT_FALSE(engine.sysexInput.bufferReady);
        engine.closePorts();
    }
}

TEST_F(PortOpeningTest, BufferThatCannotBeQueuedLeavesInputRunningWithoutSysex)
{
    system.failQueue = true;
    engine.openPorts(reporter);
    EXPECT_EQ(engine.midiPorts.inputOpen, 1);
    EXPECT_FALSE(engine.sysexInput.bufferReady);
    engine.closePorts();
    system.failQueue = false;
    system.failPrepare = true;
    system.log.events.clear();
    engine.openPorts(reporter);
    EXPECT_EQ(system.log.events, (std::vector<std::string>{"open input 0", "prepare", "start", "open output -1"}));
    EXPECT_FALSE(engine.sysexInput.bufferReady);
}

TEST_F(PortOpeningTest, ARememberedDeviceIsAwaitedAndReopenedWhenItComesBack)
{
    system.inputs = {"Keyboard"};
    engine.openPorts(reporter);  // by position: the name is learnt
    EXPECT_STREQ(engine.settings.inputDeviceName, "Keyboard");
    std::strcpy(engine.settings.inputDeviceName, "Late Keyboard");
    system.inputs = {"Other"};
    engine.openPorts(reporter);
    EXPECT_EQ(engine.midiPorts.inputOpen, 0);
    EXPECT_EQ(engine.midiPorts.outputOpen, 1);
    EXPECT_TRUE(reporter.shown.empty()) << "awaited, not an error";
    EXPECT_EQ(engine.deviceWaitText(), "Waiting for Late Keyboard");
    EXPECT_FALSE(engine.reopenWhenDevicesReturn(reporter));
    system.inputs = {"Other", "Late Keyboard"};
    EXPECT_TRUE(engine.reopenWhenDevicesReturn(reporter));
    EXPECT_EQ(engine.midiPorts.inputOpen, 1);
    EXPECT_EQ(engine.settings.inputDevice, 1);
    EXPECT_EQ(engine.deviceWaitText(), "");
    system.inputs = {"Other"};  // unplugged while playing
    EXPECT_FALSE(engine.reopenWhenDevicesReturn(reporter));
    EXPECT_EQ(engine.deviceWaitText(), "Waiting for Late Keyboard");
    system.inputs = {"Late Keyboard"};
    EXPECT_TRUE(engine.reopenWhenDevicesReturn(reporter));
    EXPECT_EQ(engine.settings.inputDevice, 0);
    EXPECT_EQ(engine.midiPorts.inputOpen, 1);
}

TEST_F(PortOpeningTest, TheServiceGoingAwayIsShownAndEverythingReopensWhenItReturns)
{
    engine.openPorts(reporter);
    system.service = false;
    system.lost = 3;
    EXPECT_FALSE(engine.reopenWhenDevicesReturn(reporter));
    EXPECT_EQ(engine.deviceWaitText(), std::string(ServiceLostText) + ", 3 MIDI messages lost");
    system.log.events.clear();
    system.service = true;
    EXPECT_TRUE(engine.reopenWhenDevicesReturn(reporter));
    EXPECT_EQ(system.log.events.front(), "reset") << "the old devices are closed first";
    EXPECT_EQ(engine.midiPorts.inputOpen, 1);
    EXPECT_EQ(engine.midiPorts.outputOpen, 1);
    EXPECT_EQ(engine.deviceWaitText(), "3 MIDI messages lost");
}

// A look-alike stands in only when it is the one device that can be meant,
// and gives way to the remembered device when that comes; a dead
// connection or a failed opening is tried again on the next look.
TEST_F(PortOpeningTest, ReopensForTheRightDeviceADeadConnectionAndAFailedOpening)
{
    engine.settings.outputDevice = 0;
    std::strcpy(engine.settings.outputDeviceName, "Synth:in");
    system.outputs = {"Synth-2:in", "Synth-01:in"};
    engine.openPorts(reporter);
    EXPECT_EQ(engine.settings.outputDevice, 1);
    system.outputs = {"Synth-2:in", "Synth-01:in", "Synth:in"};
    EXPECT_TRUE(engine.reopenWhenDevicesReturn(reporter));
    EXPECT_EQ(engine.settings.outputDevice, 2);
    system.outputs = {"Synth-2:in"};  // unplugged while playing
    EXPECT_FALSE(engine.reopenWhenDevicesReturn(reporter));
    EXPECT_EQ(engine.deviceWaitText(), "Waiting for Synth:in");

    system.outputs = {"Synth:in"};
    system.failedOutputOpens = 2;
    for (const int32_t open : {0, 0, 1}) {
        EXPECT_TRUE(engine.reopenWhenDevicesReturn(reporter));
        EXPECT_EQ(engine.midiPorts.outputOpen, open);
    }
    EXPECT_EQ(reporter.shown.size(), 1u) << "one box, not one a look";
    system.log.outputAlive = false;
    EXPECT_TRUE(engine.reopenWhenDevicesReturn(reporter));
    system.log.outputAlive = true;
    EXPECT_FALSE(engine.reopenWhenDevicesReturn(reporter));
}

TEST(DeviceNames, TheNumbersTheSystemAddsAreLeftOut)
{
    const std::vector<std::string> names = {"Synth-01:midi_in", "USB Keys:USB Keys MIDI 1 28:0", "Keys:out"};
    EXPECT_EQ(findDeviceNamed("Synth:midi_in", names), 0);
    EXPECT_EQ(findDeviceNamed("Synth-02:midi_in", names), 0);
    EXPECT_EQ(findDeviceNamed("USB Keys:USB Keys MIDI 1 20:0", names), 1);
    EXPECT_EQ(findDeviceNamed("Keys:out", names), 2);
    EXPECT_EQ(findDeviceNamed("Keys", names), std::nullopt);  // a whole name, not a part
    EXPECT_EQ(findDeviceNamed("USB Piano:out", {"USB Keys:out"}), std::nullopt);
    // Only JACK's two digits after a dash go, and only a number pair after a space: " 8:0", not " 2:in".
    EXPECT_EQ(findDeviceNamed("Synth:in", {"Synth-2:in", "Synth-x1:in", "Synth-01:in"}), 2);
    EXPECT_EQ(findDeviceNamed("Synth:in", {"Synth-01:in", "Synth:in"}), 1) << "the exact name first";
    EXPECT_EQ(findDeviceNamed("Synth:in", {"Synth-01:in", "Synth-02:in"}), std::nullopt) << "which one?";
    EXPECT_EQ(findDeviceNamed("Big-Synth:in", {"Big:in"}), std::nullopt);
    EXPECT_EQ(findDeviceNamed("Synth-:in", {"Synth:in"}), std::nullopt);
    EXPECT_EQ(findDeviceNamed("Keys:Keys MIDI 1 8:0", {"Keys:Keys MIDI 1 9:0"}), 0);
    EXPECT_EQ(findDeviceNamed("Mixer 3:in", {"Mixer 2:in"}), std::nullopt);
    EXPECT_EQ(deviceNameAt(3, names), nullptr);
}

}  // namespace
