// The note path runs inside the MIDI callback and must never touch the heap.
// Every operator new made on the JACK process thread is counted.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "engine/engine_lock.h"
#include "engine/input_dispatch.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "engine/scale_in_force.h"
#include "platform/jack_system.h"
#include "support/allocation_counter.h"
#include "support/engine_fixture.h"
#include "support/fake_midi_system.h"
#include "support/jack_probe.h"
#include "support/jack_server.h"
#include "support/scale_builder.h"

namespace {

class NotePathAllocationTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.midiPorts.midiOut = nullptr;
        engine.midiPorts.outputOpen = 0;
        engine.settings.commandKey = 36;
        engine.settings.demodulateKey = 37;
        engine.settings.resetPitchKey = 38;
        engine.settings.relay[RelaySystemExclusive] = 1;
    }
};

// The process cycle takes the player's notes, pedals, command gestures and
// System Exclusive, and the window thread's messages, without a single
// allocation, in every output mode.
TEST_F(NotePathAllocationTest, TheJackProcessCycleAllocatesNothing)
{
    JackServer server;
    ASSERT_TRUE(server.running());
    engine.installScale(equalScale(13, 3.0));
    engine.buildTuningTable();
    JackMidiSystem system(engine);
    engine.midiSystem = &system;
    JackProbe player("Player");
    JackProbe listener("Listener");
    engine.settings.inputDevice = 0;
    engine.settings.outputDevice = MidiMapperDevice;
    RecordingReporter reporter;
    engine.openPorts(reporter);
    ASSERT_TRUE(listener.connect("Vanto:Vanto Out", listener.inName()));
    listener.settle();
    listener.clear();
    watchedThread = system.processThread();
    ASSERT_FALSE(pthread_equal(watchedThread.load(), pthread_t{})) << "no process thread to watch";
    ASSERT_EQ(pthread_kill(watchedThread.load(), 0), 0) << "the watched thread does not run";
    MidiBytes sysex(3000, 0x11);
    sysex.front() = 0xF0;
    sysex.back() = 0xF7;
    for (const int32_t mode : {OutputPitchBend, OutputMpe, OutputMidiTuning}) {
        {
            EngineLock lock(engine.engineMutex);
            engine.settings.outputMode = mode;
            engine.buildTuningTable();
            engine.prepareOutputInstrument();
        }
        for (unsigned char k = 40; k < 80; ++k) {
            player.send({0x90, k, 100});
            player.send({0xB0, 64, static_cast<unsigned char>(k % 2 ? 127 : 0)});
            player.send({0x80, k, 0});
            {
                EngineLock lock(engine.engineMutex);
                engine.sendController(7, k);
            }
        }
        for (const unsigned char key : {36, 37, 70, 38})  // modulate, demodulate and reset
            player.send({0x90, key, 100});
        player.send({0x80, 36, 0});
        player.send(sysex);
        EXPECT_GT(listener.settle().size(), 40u * 4) << "mode " << mode;
    }
    EXPECT_EQ(watchedThreadAllocations.load(), 0);
    watchedThread = pthread_t{};
    engine.closePorts();
    engine.midiSystem = nullptr;
}

}  // namespace
