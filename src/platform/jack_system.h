#pragma once
// The MIDI device services on libjack, for jackd and PipeWire's JACK: one
// client "Vanto" with one input port "Vanto In" and one output port "Vanto
// Out". Opening a device connects its port to ours; "Midi Mapper" is "Vanto
// Out" left for the user to connect. Every message the engine sends in
// answer to an input event leaves in the same cycle at the same frame as
// that event.

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/midi_system.h"

struct JackClient;

class JackMidiSystem : public MidiSystem {
public:
    // engine: the engine whose lock the process cycle takes (by trying)
    // for its events, and whose greetNewListener an instrument that joins
    // "Vanto Out" is sent.
    explicit JackMidiSystem(Engine& engine);
    ~JackMidiSystem() override;

    // True while a JACK server answers; the client is made on the first
    // question and again after the server has come back.
    bool hasService() override;
    DeviceLists deviceLists() override;
    std::vector<std::string> inputDeviceNames() override;
    std::vector<std::string> outputDeviceNames() override;
    // Told of every port that comes or goes, and of the server going away.
    bool devicesChanged() override;
    uint64_t lostMessages() override;
    std::optional<std::vector<std::string>> ownOutputListeners() override;
    std::optional<OtherRelay> otherRelayOn(int32_t inputDevice) override;
    std::unique_ptr<MidiInputDevice> openInput(int32_t device, MidiInputHandler& handler) override;
    std::unique_ptr<MidiOutputDevice> openOutput(int32_t device) override;

    // Cycles whose input waited a cycle because the engine lock was busy.
    uint64_t deferredCycles() const;
    // The thread that runs the process cycle, for checks that watch it; 0
    // when no client runs.
    pthread_t processThread() const;

private:
    // The client of a server that answers; null when none does.
    std::shared_ptr<JackClient> liveClient();

    static constexpr std::chrono::milliseconds RetryInterval{500};

    Engine& engine_;
    std::chrono::steady_clock::time_point lastFailedOpen_{};
    std::shared_ptr<JackClient> client_;
    uint64_t lostBefore_ = 0;  // what clients gone before this one lost
};
