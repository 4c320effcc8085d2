// The JACK backend on a private server: what only JACK can show. A player
// client plays into "Vanto In", a listener client hears "Vanto Out", and
// both note every event's frame on the server's clock.

#include <random>

#include "engine/scale_in_force.h"
#include "platform/jack_system.h"
#include "platform/port_names.h"
#include "support/jack_fixture.h"
#include "support/scale_builder.h"

namespace {

using namespace std::chrono_literals;

class JackSystemTest : public JackFixture {
protected:
    std::unique_ptr<MidiSystem> makeSystem() override { return std::make_unique<JackMidiSystem>(engine); }
    JackMidiSystem& jack() { return static_cast<JackMidiSystem&>(*system); }

    // The bytes of every event heard, one after the other.
    static MidiBytes joined(const std::vector<TimedEvent>& events)
    {
        MidiBytes all;
        for (const TimedEvent& event : events)
            all.insert(all.end(), event.bytes.begin(), event.bytes.end());
        return all;
    }
};

TEST_F(JackSystemTest, ListsOtherClientsPortsAndConnectsOnlyTheChosenOnes)
{
    ASSERT_GE(engine.settings.inputDevice, 0);
    const std::vector<std::string> outputs = system->outputDeviceNames();
    for (const auto& names : {system->inputDeviceNames(), outputs}) {
        for (const std::string& name : names)
            EXPECT_EQ(name.find("Vanto"), std::string::npos) << name;
    }
    EXPECT_TRUE(isOwnPortName("Vanto-01:Vanto Out"));
    EXPECT_TRUE(isOwnPortName("Vanto In:Vanto In 129:0"));  // as RtMidi names its ALSA ports
    EXPECT_FALSE(isOwnPortName("Vantongo:out"));
    engine.settings.outputDevice = devicePosition(outputs, "Listener:in");
    engine.openPorts(reporter);
    EXPECT_TRUE(reporter.shown.empty());
    player->send({0x90, 60, 100});
    EXPECT_EQ(listener->settle().size(), 15u * 7 + 2) << "the opening sequence, a bend and the note";
    listener->clear();
    {
        EngineLock lock(engine.engineMutex);
        engine.sendController(7, 99);  // from this thread: queued for a cycle, which closing waits for
    }
    engine.closePorts();
    const std::vector<TimedEvent> last = listener->settle();
    ASSERT_EQ(last.size(), 16u) << "what was queued left before the connection went";
    EXPECT_EQ(last.back().bytes, (MidiBytes{0x80, 60, 0})) << "the key still held ends";
    listener->clear();
    player->send({0x90, 62, 100});
    EXPECT_TRUE(listener->settle().empty()) << "both connections went with the devices";
}

TEST_F(JackSystemTest, AnswersLeaveAtTheFrameTheirEventArrived)
{
    engine.installScale(makeScale({1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 3.0 / 2, 1.0, 1.0, 1.0, 1.0, 2.0}));
    engine.buildTuningTable();
    openAndListen();
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) {
        const auto key = static_cast<unsigned char>(i % 2 ? 67 : 60);
        player->send({0x90, key, 100}, random() % player->period());
        player->send({0x80, key, 0}, random() % player->period());
    }
    const std::vector<TimedEvent> heard = listener->waitFor(40 * 3);
    const std::vector<uint64_t> sent = player->sentFrames();
    ASSERT_EQ(heard.size(), 120u);
    ASSERT_EQ(sent.size(), 80u);
    for (size_t i = 0, out = 0; i < sent.size(); ++i) {
        const size_t answers = i % 2 == 0 ? 2 : 1;  // bend and note on; note off
        for (size_t a = 0; a < answers; ++a, ++out)
            EXPECT_EQ(heard[out].frame, sent[i]) << "event " << i;
    }
    const MidiBytes& bend = heard[3].bytes;
    EXPECT_EQ((bend[0] & 0xF0) | bend[1] | bend[2] << 7, 0xE0 | 8272) << "3/2 above 60, retuned";
    EXPECT_EQ(heard[4].bytes[1], 67);
    EXPECT_EQ(system->lostMessages(), 0u);
}

TEST_F(JackSystemTest, SystemExclusiveOfAnyLengthArrivesIntactInOrder)
{
    engine.settings.relay[RelaySystemExclusive] = 1;
    openAndListen();
    MidiBytes expected;
    for (size_t length : {size_t{10}, size_t{16379}, size_t{16380}, size_t{100000}, size_t{1} << 20}) {
        const MidiBytes message = sysexOf(length, static_cast<unsigned char>(length));
        // JACK carries a long message as several events.
        for (size_t at = 0; at < message.size(); at += 8000)
            player->send(MidiBytes(message.begin() + static_cast<long>(at), message.begin() + static_cast<long>(std::min(at + 8000, message.size()))));
        expected.insert(expected.end(), message.begin(), message.end());
    }
    MidiBytes heard;
    for (int attempt = 0; attempt < 500 && heard.size() < expected.size(); ++attempt) {
        std::this_thread::sleep_for(20ms);
        heard = joined(listener->waitFor(0));
    }
    EXPECT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected) << "the bytes differ";
    EXPECT_EQ(system->lostMessages(), 0u);
}

TEST_F(JackSystemTest, AListenerJoiningLaterHearsTheRangeAndInitMessage)
{
    engine.settings.sendInitOnOpen = 1;
    engine.settings.initEventCount = 1;
    engine.settings.initMessage[0] = {0xC0, 16, 5, 0};  // program 5 on every used channel
    engine.openPorts(reporter);
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(listener->connect("Vanto:Vanto Out", listener->inName()));
    // The greeting follows the connection's notice, which a loaded machine
    // may be slow to deliver: wait for it, then for anything more.
    listener->waitFor(15u * 6 + 15, 10s);
    const std::vector<TimedEvent> heard = listener->settle(300ms);
    ASSERT_EQ(heard.size(), 15u * 6 + 15);
    EXPECT_EQ(heard[0].bytes, (MidiBytes{0xB0, 101, 0}));
    EXPECT_EQ(heard[30].bytes, (MidiBytes{0xB0, 6, 2}));
    EXPECT_EQ(heard[60].bytes, (MidiBytes{0xB0, 101, 127}));
    EXPECT_EQ(heard[90].bytes, (MidiBytes{0xC0, 5}));
    for (const TimedEvent& event : heard)
        EXPECT_NE(event.bytes[1], 123) << "no All Notes Off for a late listener";
}

TEST_F(JackSystemTest, EventsWaitWhileTheEngineIsBusyThenFollowInOrder)
{
    openAndListen();
    {
        EngineLock busy(engine.engineMutex);
        for (unsigned char key = 60; key < 70; ++key)
            player->send({0x90, key, 100});
        for (int i = 0; i < 100 && !player->allSent(); ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(listener->waitFor(0).empty());
    }
    const std::vector<TimedEvent> heard = listener->waitFor(20);
    ASSERT_EQ(heard.size(), 20u) << "a bend and a note on each";
    for (unsigned char i = 0; i < 10; ++i)
        EXPECT_EQ(heard[2 * i + 1].bytes[1], 60 + i);
    EXPECT_GT(jack().deferredCycles(), 0u);
}

// Plays a note every tenth of a second, looking at the devices as the
// window's timer does, until the listener hears it.
bool playsOnceRecovered(Engine& engine, JackProbe& player, JackProbe& listener, RecordingReporter& reporter)
{
    for (int attempt = 0; attempt < 80; ++attempt) {
        engine.reopenWhenDevicesReturn(reporter);
        listener.clear();
        player.send({0x90, 60, 100});
        player.send({0x80, 60, 0});
        std::this_thread::sleep_for(100ms);
        for (const TimedEvent& event : listener.waitFor(0))
            if (event.bytes[0] == 0x90)
                return true;
    }
    return false;
}

// Faster than any look at the devices: the server dies and is back, the
// listener goes and comes back, or leaves the graph and joins it again.
TEST_F(JackSystemTest, FastRestartsAndReplugsEndConnectedToTheRightDevices)
{
    engine.settings.outputDevice = devicePosition(system->outputDeviceNames(), "Listener:in");
    engine.openPorts(reporter);
    ASSERT_TRUE(playsOnceRecovered(engine, *player, *listener, reporter));
    for (int round = 0; round < 10; ++round) {
        server->stop(SIGKILL);
        player.reset();
        listener.reset();
        std::this_thread::sleep_for(50ms);
        server->start();
        player = std::make_unique<JackProbe>("Player");
        listener = std::make_unique<JackProbe>("Listener");
        ASSERT_TRUE(server->running() && player->ok() && listener->ok());
        EXPECT_TRUE(playsOnceRecovered(engine, *player, *listener, reporter)) << "restart " << round;
    }
    for (int round = 0; round < 20; ++round) {
        if (round % 2) {
            listener->reactivate();
        } else {
            listener.reset();
            std::this_thread::sleep_for(50ms);
            listener = std::make_unique<JackProbe>("Listener");
        }
        EXPECT_TRUE(playsOnceRecovered(engine, *player, *listener, reporter)) << "replug " << round;
    }
    EXPECT_TRUE(reporter.shown.empty());
}

}  // namespace
