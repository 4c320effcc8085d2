// End-to-end latency and throughput of the relay over a private JACK server,
// beside a plain forwarding client that does no retuning.
//
// Latency: 1000 Note Ons, one at a time, through each path; send-to-receive
// times in the same run. Throughput: 20,000 messages from a raw JACK client
// writing as many events per cycle as it may.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/message_reporter.h"
#include "engine/midi_ports.h"
#include "engine/port_opening.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "platform/rtmidi_system.h"
#include "scale/scale.h"
#include "support/jack_server.h"
#include "support/midi_listener.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class PrintingReporter : public MessageReporter {
public:
    void showMessage(const char* title, const char* text, MessageIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", title, text);
    }
};

// RtMidi in, RtMidi out, nothing in between: the same path minus the engine.
class PlainForwarder {
public:
    PlainForwarder() : in_(RtMidi::UNIX_JACK, "Forwarder In"), out_(RtMidi::UNIX_JACK, "Forwarder")
    {
        in_.ignoreTypes(false, false, false);
        in_.setCallback(&PlainForwarder::forward, this);
        out_.openVirtualPort("out");
    }
    ~PlainForwarder()
    {
        in_.closePort();
        out_.closePort();
        std::this_thread::sleep_for(100ms);
    }
    bool connect(const std::string& source)
    {
        for (unsigned i = 0; i < in_.getPortCount(); ++i) {
            if (in_.getPortName(i) == source) {
                in_.openPort(i, "in");
                return true;
            }
        }
        return false;
    }

private:
    static void forward(double, MidiBytes* message, void* self)
    {
        static_cast<PlainForwarder*>(self)->out_.sendMessage(message);
    }
    RtMidiIn in_;
    RtMidiOut out_;
};

// Notes the arrival time of every Note On by key.
class ArrivalClock {
public:
    ArrivalClock(const char* name) : in_(RtMidi::UNIX_JACK, name)
    {
        in_.setCallback(&ArrivalClock::receive, this);
    }
    bool connect(const std::string& source)
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            for (unsigned i = 0; i < in_.getPortCount(); ++i) {
                if (in_.getPortName(i) == source) {
                    in_.openPort(i, "in");
                    return true;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    void expect(int key)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waitingKey_ = key;
        arrived_ = false;
    }
    bool waitArrival(Clock::time_point& when)
    {
        for (int i = 0; i < 20000; ++i) {  // up to a second
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (arrived_) {
                    when = arrival_;
                    return true;
                }
            }
            std::this_thread::sleep_for(50us);
        }
        return false;
    }
    long count() const { return received_; }

private:
    static void receive(double, MidiBytes* message, void* self)
    {
        const auto now = Clock::now();
        auto* clock = static_cast<ArrivalClock*>(self);
        ++clock->received_;
        if (message->size() == 3 && ((*message)[0] & 0xF0) == 0x90 && (*message)[2] != 0) {
            std::lock_guard<std::mutex> lock(clock->mutex_);
            if ((*message)[1] == clock->waitingKey_) {
                clock->arrival_ = now;
                clock->arrived_ = true;
            }
        }
    }
    RtMidiIn in_;
    std::mutex mutex_;
    int waitingKey_ = -1;
    bool arrived_ = false;
    Clock::time_point arrival_;
    std::atomic<long> received_{0};
};

struct Stats {
    double median;
    double p99;
    int lost;
};

Stats summarise(std::vector<double> micros, int lost)
{
    std::sort(micros.begin(), micros.end());
    if (micros.empty())
        return {0, 0, lost};
    return {micros[micros.size() / 2], micros[std::min(micros.size() - 1, micros.size() * 99 / 100)], lost};
}

void measureLatency(MidiKeyboard& relayKeys, ArrivalClock& relayOut, MidiKeyboard& plainKeys, ArrivalClock& plainOut)
{
    std::vector<double> relay, plain;
    int relayLost = 0, plainLost = 0;
    auto once = [](MidiKeyboard& keys, ArrivalClock& out, int key, std::vector<double>& times, int& lost) {
        out.expect(key);
        const auto sent = Clock::now();
        keys.send({0x90, static_cast<unsigned char>(key), 100});
        Clock::time_point arrived;
        if (out.waitArrival(arrived))
            times.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
        else
            ++lost;
        keys.send({0x80, static_cast<unsigned char>(key), 0});
        std::this_thread::sleep_for(1ms);
    };
    for (int i = 0; i < 1000; ++i) {
        const int key = 36 + i % 48;
        once(relayKeys, relayOut, key, relay, relayLost);
        once(plainKeys, plainOut, key, plain, plainLost);
    }
    const Stats r = summarise(relay, relayLost);
    const Stats p = summarise(plain, plainLost);
    std::printf("latency of 1000 Note Ons, send to receive (microseconds)\n");
    std::printf("  %-18s median %8.1f   p99 %8.1f   lost %d\n", "relay (retuning)", r.median, r.p99, r.lost);
    std::printf("  %-18s median %8.1f   p99 %8.1f   lost %d\n", "plain forwarder", p.median, p.p99, p.lost);
    std::printf("  ratio relay/plain: median %.3f   p99 %.3f\n", r.median / p.median, r.p99 / p.p99);
}

// A raw JACK client that writes a fixed number of events per cycle.
class BurstSender {
public:
    BurstSender(int total, int perCycle) : total_(total), perCycle_(perCycle)
    {
        client_ = jack_client_open("Burst", JackNoStartServer, nullptr);
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &BurstSender::process, this);
        jack_activate(client_);
    }
    ~BurstSender()
    {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    void connect(const char* destination) { jack_connect(client_, "Burst:out", destination); }
    void start() { running_ = true; }
    bool done() const { return sent_ >= total_; }
    int sent() const { return sent_; }

private:
    static int process(jack_nframes_t frames, void* self)
    {
        auto* s = static_cast<BurstSender*>(self);
        void* buffer = jack_port_get_buffer(s->port_, frames);
        jack_midi_clear_buffer(buffer);
        if (!s->running_)
            return 0;
        for (int i = 0; i < s->perCycle_ && s->sent_ < s->total_; ++i) {
            const int n = s->sent_;
            // Note on and note off in turn over 48 keys: every message is one
            // the relay must act on.
            const unsigned char event[3] = {static_cast<unsigned char>(n % 2 ? 0x80 : 0x90),
                                            static_cast<unsigned char>(36 + (n / 2) % 48), 100};
            if (jack_midi_event_write(buffer, static_cast<jack_nframes_t>(i % frames), event, 3) != 0)
                break;
            ++s->sent_;
        }
        return 0;
    }
    jack_client_t* client_;
    jack_port_t* port_;
    int total_;
    int perCycle_;
    std::atomic<bool> running_{false};
    std::atomic<int> sent_{0};
};

void measureThroughput(ArrivalClock& relayOut, int perCycle)
{
    const long before = relayOut.count();
    BurstSender burst(20000, perCycle);
    burst.connect("Vanto In:Vanto In");
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    burst.start();
    while (!burst.done())
        std::this_thread::sleep_for(1ms);
    const auto sentAll = Clock::now();
    std::this_thread::sleep_for(500ms);
    // Each note on comes out as a bend and a note on, each note off as one message.
    const long expected = 20000 / 2 * 3;
    const long arrived = relayOut.count() - before;
    std::printf("throughput: 20000 messages at %d a cycle (%.0f messages/s) -> %ld of %ld output messages arrived\n",
                perCycle, 20000 / std::chrono::duration<double>(sentAll - start).count(), arrived, expected);
}

}  // namespace

int main()
{
    JackServer server(JackServer::Mode::Timed);
    if (!server.running()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    RtMidiSystem system;
    midiSystem = &system;
    MidiKeyboard relayKeys("keys", "Relay Player");
    MidiKeyboard plainKeys("keys", "Plain Player");

    settings = defaultSettings();
    const std::vector<std::string> inputs = system.inputDeviceNames();
    const auto it = std::find(inputs.begin(), inputs.end(), "Relay Player:keys");
    if (it == inputs.end())
        return 1;
    settings.inputDevice = static_cast<int32_t>(it - inputs.begin());
    settings.outputDevice = MidiMapperDevice;
    buildInstrumentFrequencies();
    setDefaultScale();
    buildTuningTable();
    PrintingReporter reporter;
    openPorts(reporter);

    PlainForwarder forwarder;
    ArrivalClock relayOut("Relay Clock");
    ArrivalClock plainOut("Plain Clock");
    if (!forwarder.connect("Plain Player:keys") || !relayOut.connect("Vanto:Vanto Out") ||
        !plainOut.connect("Forwarder:out")) {
        std::fprintf(stderr, "could not connect the clients\n");
        return 1;
    }
    std::this_thread::sleep_for(200ms);
    measureLatency(relayKeys, relayOut, plainKeys, plainOut);
    for (int perCycle : {16, 64, 256})
        measureThroughput(relayOut, perCycle);
    closePorts();
    return 0;
}
