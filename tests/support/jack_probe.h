#pragma once
// A plain libjack client for the tests and benchmarks: it writes events at
// chosen frames of its cycles and notes, on the server's frame clock, when
// each event was written and when each event arrived.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using MidiBytes = std::vector<unsigned char>;

struct TimedEvent {
    uint64_t frame;  // on the server's frame clock
    MidiBytes bytes;
};

class JackProbe {
public:
    explicit JackProbe(const std::string& name, const char* outPort = "out")
    {
        client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
        if (!client_)
            return;
        out_ = jack_port_register(client_, outPort, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackProbe::process, this);
        jack_set_xrun_callback(client_, &JackProbe::xrun, this);
        jack_on_shutdown(client_, &JackProbe::serverGone, this);
        jack_activate(client_);
    }
    // After the server has gone, the handle is libjack's to free.
    ~JackProbe()
    {
        if (client_ && !gone_) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }
    JackProbe(const JackProbe&) = delete;
    JackProbe& operator=(const JackProbe&) = delete;

    bool ok() const { return client_ && out_ && in_; }
    std::string outName() const { return jack_port_name(out_); }
    std::string inName() const { return jack_port_name(in_); }
    jack_nframes_t period() const { return jack_get_buffer_size(client_); }
    // Waits up to ten seconds for this client's output to be connected to port.
    bool waitUntilConnectedTo(const std::string& port) const
    {
        for (int i = 0; i < 200 && !jack_port_connected_to(out_, port.c_str()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return jack_port_connected_to(out_, port.c_str());
    }
    bool connect(const std::string& from, const std::string& to)
    {
        const int result = jack_connect(client_, from.c_str(), to.c_str());
        return result == 0 || result == EEXIST;
    }

    // Leaves the graph and joins it again, as a device client may: every
    // connection of its ports is gone.
    void reactivate()
    {
        jack_deactivate(client_);
        jack_activate(client_);
    }

    // At most this many events written a cycle (0: as many as fit).
    void limitEventsPerCycle(size_t limit) { perCycle_ = limit; }
    int xruns() const { return xruns_; }

    // Written in a later cycle at offset frames into it; events queued
    // together go out in order, as many a cycle as fit.
    void send(const MidiBytes& bytes, jack_nframes_t offset = 0)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back({offset, bytes});
    }
    // Waits until count events have arrived or timeout passes; all arrived.
    std::vector<TimedEvent> waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (received_.size() >= count || std::chrono::steady_clock::now() > end)
                    return received_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // Everything that arrives until nothing has for quiet.
    std::vector<TimedEvent> settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(200))
    {
        size_t seen = SIZE_MAX;
        for (;;) {
            std::vector<TimedEvent> now = waitFor(SIZE_MAX, quiet);
            if (now.size() == seen)
                return now;
            seen = now.size();
        }
    }
    std::vector<uint64_t> sentFrames()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    bool allSent()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return pending_.empty();
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.clear();
        sent_.clear();
    }

private:
    struct Pending {
        jack_nframes_t offset;
        MidiBytes bytes;
    };

    // Never waits for the test thread: a cycle that cannot take the lock
    // sends nothing and keeps what it heard for the next cycle.
    static int process(jack_nframes_t frames, void* self)
    {
        auto& probe = *static_cast<JackProbe*>(self);
        const uint64_t cycleStart = jack_last_frame_time(probe.client_);
        void* out = jack_port_get_buffer(probe.out_, frames);
        void* in = jack_port_get_buffer(probe.in_, frames);
        jack_midi_clear_buffer(out);
        const uint32_t count = jack_midi_get_event_count(in);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) == 0)
                probe.heldBack_.push_back({cycleStart + event.time, MidiBytes(event.buffer, event.buffer + event.size)});
        }
        std::unique_lock<std::mutex> lock(probe.mutex_, std::try_to_lock);
        if (!lock.owns_lock())
            return 0;
        probe.received_.insert(probe.received_.end(), probe.heldBack_.begin(), probe.heldBack_.end());
        probe.heldBack_.clear();
        jack_nframes_t last = 0;
        for (size_t written = 0; !probe.pending_.empty() && (probe.perCycle_ == 0 || written < probe.perCycle_); ++written) {
            const Pending& next = probe.pending_.front();
            const jack_nframes_t at = std::max(last, std::min(next.offset, frames - 1));
            if (jack_midi_event_write(out, at, next.bytes.data(), next.bytes.size()) != 0)
                break;
            probe.sent_.push_back(cycleStart + at);
            probe.pending_.pop_front();
            last = at;
        }
        return 0;
    }

    static void serverGone(void* self) { static_cast<JackProbe*>(self)->gone_ = true; }

    static int xrun(void* self)
    {
        ++static_cast<JackProbe*>(self)->xruns_;
        return 0;
    }

    jack_client_t* client_ = nullptr;
    std::atomic<size_t> perCycle_{0};
    std::atomic<int> xruns_{0};
    std::atomic<bool> gone_{false};
    jack_port_t* out_ = nullptr;
    jack_port_t* in_ = nullptr;
    std::mutex mutex_;
    std::deque<Pending> pending_;
    std::vector<uint64_t> sent_;
    std::vector<TimedEvent> received_;
    std::vector<TimedEvent> heldBack_;  // the process thread's own
};

// Plays phrase on keys until listener hears count messages other than
// controllers (an opening's), playing it again from the start every second:
// a JACK server on a busy machine may drop an event.
inline std::vector<MidiBytes> playUntilHeard(JackProbe& keys, JackProbe& listener, const std::vector<MidiBytes>& phrase,
                                             size_t count)
{
    std::vector<MidiBytes> heard;
    for (int attempt = 0; attempt < 100 && heard.size() < count; ++attempt) {
        if (attempt % 20 == 0) {
            heard.clear();
            listener.clear();
            for (const MidiBytes& message : phrase)
                keys.send(message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (const TimedEvent& event : listener.waitFor(0, std::chrono::milliseconds(0)))
            if ((event.bytes[0] & 0xF0) != 0xB0)
                heard.push_back(event.bytes);
        listener.clear();
    }
    return heard;
}
