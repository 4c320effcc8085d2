// The RtMidi layer on a private JACK server: a separate client plays into the
// relay's input and listens on "Vanto Out".

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "engine/engine_lock.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "platform/rtmidi_system.h"
#include "support/engine_fixture.h"
#include "support/fake_midi_system.h"
#include "support/jack_server.h"
#include "support/midi_listener.h"
#include "support/scale_builder.h"

namespace {

using namespace std::chrono_literals;

class RtMidiJackTest : public EngineTest {
protected:
    static void SetUpTestSuite() { server = new JackServer(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(server->running()) << "jackd did not start";
        EngineTest::SetUp();
        midiPorts.midiOut = nullptr;
        midiPorts.outputOpen = 0;
        system = std::make_unique<RtMidiSystem>(true);
        midiSystem = system.get();
        keyboard = std::make_unique<MidiKeyboard>();
        listener = std::make_unique<MidiListener>();
        settings.inputDevice = keyboardDevice();
        settings.outputDevice = MidiMapperDevice;
    }
    void TearDown() override
    {
        closePorts();
        listener.reset();
        keyboard.reset();
        midiSystem = nullptr;
        system.reset();
        EngineTest::TearDown();
    }

    int32_t keyboardDevice()
    {
        const std::vector<std::string> names = system->inputDeviceNames();
        const auto it = std::find(names.begin(), names.end(), "Tester:keys");
        return it == names.end() ? -1 : static_cast<int32_t>(it - names.begin());
    }
    // Opens the ports, connects the listener to "Vanto Out", then opens them
    // again and forgets everything up to a marker sent after that opening:
    // what is still on its way from either opening comes before it.
    void openAndListen()
    {
        openPorts(reporter);
        ASSERT_EQ(midiPorts.outputOpen, 1);
        ASSERT_TRUE(listener->connect("Vanto:Vanto Out"));
        reopenAndForget();
    }
    void reopenAndForget()
    {
        openPorts(reporter);
        {
            EngineLock lock(engineMutex);
            sendToChannel(0xB0, 15, Marker[1], Marker[2]);
        }
        ASSERT_TRUE(listener->waitForAndForget(Marker));
    }

    static inline const MidiBytes Marker{0xBF, 119, 77};

    void play(const MidiBytes& bytes) { keyboard->send(bytes); }

    static JackServer* server;
    std::unique_ptr<RtMidiSystem> system;
    std::unique_ptr<MidiKeyboard> keyboard;
    std::unique_ptr<MidiListener> listener;
    RecordingReporter reporter;
};

JackServer* RtMidiJackTest::server = nullptr;

MidiBytes sysexOf(size_t length, unsigned char fill)
{
    MidiBytes bytes(length, fill);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    for (size_t i = 1; i + 1 < length; ++i)
        bytes[i] = static_cast<unsigned char>((fill + i) & 0x7F);
    return bytes;
}

TEST_F(RtMidiJackTest, DeviceListsShowOtherClientsButNeverOurOwnPorts)
{
    EXPECT_GE(keyboardDevice(), 0);
    openPorts(reporter);
    EXPECT_TRUE(reporter.shown.empty());
    for (const std::string& name : system->inputDeviceNames())
        EXPECT_EQ(name.find("Vanto"), std::string::npos) << name;
    for (const std::string& name : system->outputDeviceNames())
        EXPECT_EQ(name.find("Vanto"), std::string::npos) << name;
    EXPECT_TRUE(isOwnPortName("Vanto:Vanto Out"));
    EXPECT_TRUE(isOwnPortName("Vanto In-01:Vanto In"));
    EXPECT_TRUE(isOwnPortName("Vanto:Vanto Out 129:0"));
    EXPECT_FALSE(isOwnPortName("Vantongo:out"));
    EXPECT_FALSE(isOwnPortName("Tester:keys"));
}

TEST_F(RtMidiJackTest, NoteIsRetunedEndToEnd)
{
    installScale(makeScale({1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 3.0 / 2, 1.0, 1.0, 1.0, 1.0, 2.0}));
    buildTuningTable();
    openAndListen();
    play({0x90, 67, 100});
    play({0x80, 67, 40});
    const std::vector<MidiBytes> out = listener->waitFor(3);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], (MidiBytes{0xE7, 8272 & 0x7F, 8272 >> 7}));
    EXPECT_EQ(out[1], (MidiBytes{0x97, 67, 100}));
    EXPECT_EQ(out[2], (MidiBytes{0x87, 67, 40}));
}

TEST_F(RtMidiJackTest, SysexArrivesIntactOnlyWithTheRelayOn)
{
    settings.relay[RelaySystemExclusive] = 1;
    openAndListen();
    const MidiBytes small = sysexOf(10, 3);
    const MidiBytes large = sysexOf(5000, 9);
    play(small);
    play(large);
    std::vector<MidiBytes> out = listener->waitFor(2);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], small);
    EXPECT_EQ(out[1], large);

    settings.relay[RelaySystemExclusive] = 0;
    reopenAndForget();
    play(small);
    play(large);
    play({0x90, 60, 1});
    out = listener->waitFor(2);
    ASSERT_EQ(out.size(), 2u) << "only the note's bend and note on";
    EXPECT_EQ(out[1], (MidiBytes{0x90, 60, 1}));
    // Switched on again without reopening: the buffer stayed with the relay.
    {
        EngineLock lock(engineMutex);
        settings.relay[RelaySystemExclusive] = 1;
    }
    play(small);
    EXPECT_EQ(listener->settle().size(), 2u);
    reopenAndForget();
    play(small);
    out = listener->waitFor(1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], small);
}

// Parts are gathered up to 1 MiB; a longer message is counted as lost.
TEST_F(RtMidiJackTest, SysexLongerThanTheOutputGathersIsCounted)
{
    openPorts(reporter);
    MidiBytes part(SysexBufferSize, 0x11);
    part.front() = 0xF0;
    for (size_t sent = 0; sent <= (size_t{1} << 20); sent += part.size()) {
        midiPorts.midiOut->sendLongMessage(part.data(), part.size());
        part.front() = 0x11;
    }
    EXPECT_EQ(system->lostMessages(), 1u);
    const uint8_t whole[] = {0xF0, 1, 0xF7};
    EXPECT_TRUE(midiPorts.midiOut->sendLongMessage(whole, sizeof whole)) << "the next message starts afresh";
    EXPECT_EQ(system->lostMessages(), 1u);
}

TEST_F(RtMidiJackTest, PortsAreReleasedOnClose)
{
    openPorts(reporter);
    auto portNames = [] {
        RtMidiOut probe(RtMidi::UNIX_JACK, "Port Check");
        std::vector<std::string> names;
        for (unsigned i = 0; i < probe.getPortCount(); ++i)
            names.push_back(probe.getPortName(i));
        return names;
    };
    auto hasPort = [](const std::vector<std::string>& names, const std::string& part) {
        return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return n.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(hasPort(portNames(), "Vanto In"));
    closePorts();
    EXPECT_FALSE(hasPort(portNames(), "Vanto In"));
    EXPECT_EQ(midiPorts.inputOpen, 0);
    EXPECT_EQ(midiPorts.outputOpen, 0);
}

TEST_F(RtMidiJackTest, WithoutAnyMidiServiceListsAreEmptyAndOpeningFails)
{
    ::setenv("JACK_DEFAULT_SERVER", "vanto-no-such-server", 1);
    RtMidiSystem none(true);
    midiSystem = &none;
    EXPECT_TRUE(none.inputDeviceNames().empty());
    EXPECT_TRUE(none.outputDeviceNames().empty());
    openPorts(reporter);
    midiSystem = system.get();
    ::setenv("JACK_DEFAULT_SERVER", server->name().c_str(), 1);
    ASSERT_EQ(reporter.shown.size(), 2u);
    EXPECT_EQ(reporter.shown[0].text, InputDeviceError);
    EXPECT_EQ(reporter.shown[1].text, OutputDeviceError);
    EXPECT_EQ(midiPorts.inputOpen, 0);
    EXPECT_EQ(midiPorts.outputOpen, 0);
}

}  // namespace
