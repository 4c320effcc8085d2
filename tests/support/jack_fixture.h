#pragma once
// A MIDI system of the platform layer on a private JACK server, with a
// player client plugged into the relay's input and a listener client that
// hears "Vanto Out". The server is shared by a suite's tests.

#include <algorithm>
#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include "engine/engine_lock.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "support/engine_fixture.h"
#include "support/fake_midi_system.h"
#include "support/jack_probe.h"
#include "support/jack_server.h"

class JackFixture : public EngineTest {
protected:
    static void SetUpTestSuite()
    {
        std::signal(SIGPIPE, SIG_IGN);  // a server that goes away must not take the test with it
        server = new JackServer();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    virtual std::unique_ptr<MidiSystem> makeSystem() = 0;

    void SetUp() override
    {
        ASSERT_TRUE(server->running()) << "jackd did not start";
        EngineTest::SetUp();
        engine.midiPorts.midiOut = nullptr;
        engine.midiPorts.outputOpen = 0;
        system = makeSystem();
        engine.midiSystem = system.get();
        player = std::make_unique<JackProbe>("Player");
        listener = std::make_unique<JackProbe>("Listener");
        ASSERT_TRUE(player->ok() && listener->ok());
        engine.settings.inputDevice = devicePosition(system->inputDeviceNames(), "Player:out");
        engine.settings.outputDevice = MidiMapperDevice;
    }
    void TearDown() override
    {
        engine.closePorts();
        listener.reset();
        player.reset();
        engine.midiSystem = nullptr;
        system.reset();
        EngineTest::TearDown();
    }

    static int32_t devicePosition(const std::vector<std::string>& names, const std::string& name)
    {
        const auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : static_cast<int32_t>(it - names.begin());
    }
    // Opens the ports, lets the listener join "Vanto Out", and forgets
    // everything up to a marker sent after that.
    void openAndListen()
    {
        engine.openPorts(reporter);
        ASSERT_EQ(engine.midiPorts.outputOpen, 1);
        ASSERT_TRUE(listener->connect("Vanto:Vanto Out", listener->inName()));
        forgetUpToMarker();
    }
    // What the opening and the listener's joining sent comes before the
    // marker or within a cycle of it.
    void forgetUpToMarker()
    {
        {
            EngineLock lock(engine.engineMutex);
            engine.sendToChannel(0xB0, 15, Marker[1], Marker[2]);
        }
        for (int attempt = 0; attempt < 250; ++attempt) {
            const std::vector<TimedEvent> heard = listener->waitFor(0);
            if (std::any_of(heard.begin(), heard.end(), [](const TimedEvent& e) { return e.bytes == Marker; })) {
                listener->settle();
                listener->clear();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FAIL() << "the marker never arrived";
    }
    // The bytes of the events heard, as messages.
    std::vector<MidiBytes> heardMessages(size_t count)
    {
        std::vector<MidiBytes> messages;
        for (TimedEvent& event : listener->waitFor(count))
            messages.push_back(std::move(event.bytes));
        return messages;
    }

    static inline const MidiBytes Marker{0xBF, 119, 77};
    static inline JackServer* server = nullptr;
    std::unique_ptr<MidiSystem> system;
    std::unique_ptr<JackProbe> player;
    std::unique_ptr<JackProbe> listener;
    RecordingReporter reporter;
};

inline MidiBytes sysexOf(size_t length, unsigned char seed)
{
    MidiBytes bytes{0xF0};
    for (size_t i = 2; i < length; ++i)
        bytes.push_back(static_cast<unsigned char>((seed + i) & 0x7F));
    bytes.push_back(0xF7);
    return bytes;
}
