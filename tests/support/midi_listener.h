#pragma once
// A separate JACK client for the tests: a keyboard port that plays into the
// relay, and a listener on "Vanto Out" that collects what comes out.

#include <RtMidi.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using MidiBytes = std::vector<unsigned char>;

class MidiListener {
public:
    MidiListener() : in_(RtMidi::UNIX_JACK, "Tester Listener")
    {
        in_.ignoreTypes(false, false, false);
        in_.setCallback(&MidiListener::receive, this);
    }

    // Connects to the first port whose name contains part; false if none.
    bool connect(const std::string& part)
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            for (unsigned i = 0; i < in_.getPortCount(); ++i) {
                if (in_.getPortName(i).find(part) != std::string::npos) {
                    in_.openPort(i, "listen");
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void disconnect() { in_.closePort(); }

    // Waits until count messages have arrived, or timeout passes.
    std::vector<MidiBytes> waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
        return received_;
    }
    // Waits until message has arrived, then forgets it and all before it.
    bool waitForAndForget(const MidiBytes& message, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        auto has = [&] { return std::find(received_.begin(), received_.end(), message) != received_.end(); };
        if (!arrived_.wait_for(lock, timeout, has))
            return false;
        received_.erase(received_.begin(), std::find(received_.begin(), received_.end(), message) + 1);
        return true;
    }
    // Everything that arrives within quiet of the last message.
    std::vector<MidiBytes> settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(150))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        size_t seen = received_.size();
        for (;;) {
            arrived_.wait_for(lock, quiet, [&] { return received_.size() > seen; });
            if (received_.size() == seen)
                return received_;
            seen = received_.size();
        }
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.clear();
    }

private:
    static void receive(double, MidiBytes* message, void* self)
    {
        auto* listener = static_cast<MidiListener*>(self);
        {
            std::lock_guard<std::mutex> lock(listener->mutex_);
            listener->received_.push_back(*message);
        }
        listener->arrived_.notify_all();
    }

    RtMidiIn in_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<MidiBytes> received_;
};

class MidiKeyboard {
public:
    explicit MidiKeyboard(const std::string& port = "keys", const std::string& client = "Tester")
        : out_(RtMidi::UNIX_JACK, client)
    {
        out_.openVirtualPort(port);
    }
    // RtMidi's JACK output may free its buffer under a running cycle unless
    // the port is closed a cycle before it goes.
    ~MidiKeyboard()
    {
        out_.closePort();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    void send(const MidiBytes& bytes) { out_.sendMessage(&bytes); }

private:
    RtMidiOut out_;
};
