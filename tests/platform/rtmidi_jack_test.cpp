// The RtMidi layer, the program's backend for the ALSA sequencer, tried on
// JACK: a player client plays into its input and a listener hears its output.

#include <gtest/gtest.h>

#include "platform/rtmidi_system.h"
#include "support/jack_fixture.h"

namespace {

class RtMidiJackTest : public JackFixture {
protected:
    std::unique_ptr<MidiSystem> makeSystem() override { return std::make_unique<RtMidiSystem>(true); }
    void play(const MidiBytes& bytes) { player->send(bytes); }
};

TEST_F(RtMidiJackTest, SysexArrivesIntactOnlyWithTheRelayOn)
{
    engine.settings.relay[RelaySystemExclusive] = 1;
    openAndListen();
    const MidiBytes small = sysexOf(10, 3);
    const MidiBytes large = sysexOf(5000, 9);
    play(small);
    play(large);
    std::vector<MidiBytes> out = heardMessages(2);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], small);
    EXPECT_EQ(out[1], large);

    engine.settings.relay[RelaySystemExclusive] = 0;
    openAndListen();
    play(small);
    play(large);
    play({0x90, 60, 1});
    out = heardMessages(2);
    ASSERT_EQ(out.size(), 2u) << "only the note's bend and note on";
    EXPECT_EQ(out[1], (MidiBytes{0x90, 60, 1}));
    // Switched on again without reopening: the buffer stayed with the relay.
    {
        EngineLock lock(engine.engineMutex);
        engine.settings.relay[RelaySystemExclusive] = 1;
    }
    play(small);
    EXPECT_EQ(listener->settle().size(), 2u);
    openAndListen();
    play(small);
    out = heardMessages(1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], small);
}

// Parts are gathered up to 1 MiB; a longer message is counted as lost.
TEST_F(RtMidiJackTest, SysexLongerThanTheOutputGathersIsCounted)
{
    engine.openPorts(reporter);
    MidiBytes part(SysexBufferSize, 0x11);
    part.front() = 0xF0;
    for (size_t sent = 0; sent <= (size_t{1} << 20); sent += part.size()) {
        engine.midiPorts.midiOut->sendLongMessage(part.data(), part.size());
        part.front() = 0x11;
    }
    EXPECT_EQ(system->lostMessages(), 1u);
    const uint8_t whole[] = {0xF0, 1, 0xF7};
    EXPECT_TRUE(engine.midiPorts.midiOut->sendLongMessage(whole, sizeof whole)) << "the next message starts afresh";
    EXPECT_EQ(system->lostMessages(), 1u);
}

TEST_F(RtMidiJackTest, WithoutAnyMidiServiceListsAreEmptyAndOpeningFails)
{
    ::setenv("JACK_DEFAULT_SERVER", "vanto-no-such-server", 1);
    RtMidiSystem none(true);
    engine.midiSystem = &none;
    EXPECT_TRUE(none.inputDeviceNames().empty());
    EXPECT_TRUE(none.outputDeviceNames().empty());
    engine.openPorts(reporter);
    engine.midiSystem = system.get();
    ::setenv("JACK_DEFAULT_SERVER", server->name().c_str(), 1);
    ASSERT_EQ(reporter.shown.size(), 2u);
    EXPECT_EQ(reporter.shown[0].text, InputDeviceError);
    EXPECT_EQ(reporter.shown[1].text, OutputDeviceError);
    EXPECT_EQ(engine.midiPorts.inputOpen, 0);
    EXPECT_EQ(engine.midiPorts.outputOpen, 0);
}

}  // namespace
