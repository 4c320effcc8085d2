#pragma once
// A MidiSystem double that logs every device operation in order and records
// what is sent to its output.

#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/input_dispatch.h"
#include "engine/message_reporter.h"
#include "engine/midi_ports.h"
#include "engine/midi_system.h"
#include "support/recording_midi.h"

struct FakeMidiLog {
    std::vector<std::string> events;
    RecordingOutput output;
    bool sysexReadyAtReset = true;
    bool outputAlive = true;
};

class FakeInputDevice : public MidiInputDevice {
public:
    FakeInputDevice(FakeMidiLog& log, bool failPrepare, bool failQueue, MidiInputHandler& handler)
        : log_(log), failPrepare_(failPrepare), failQueue_(failQueue), handler_(handler) {}
    int prepareBuffer(SysexBuffer& buffer) override
    {
        log_.events.push_back("prepare");
        buffer_ = &buffer;
        return failPrepare_ ? 1 : 0;
    }
    int addBuffer(SysexBuffer&) override
    {
        log_.events.push_back("queue");
        if (failQueue_)
            return 1;
        queued_ = true;
        return 0;
    }
    void start() override { log_.events.push_back("start"); }
    void reset() override
    {
        log_.events.push_back("reset");
        const auto* engine = dynamic_cast<const Engine*>(&handler_);
        log_.sysexReadyAtReset = engine && engine->sysexInput.bufferReady;
        if (queued_ && buffer_) {
            queued_ = false;
            buffer_->bytesRecorded = 0;
            handler_.handleMidiInput(this, MimLongData, 0, reinterpret_cast<uintptr_t>(buffer_), 0);
        }
    }
    void unprepareBuffer(SysexBuffer&) override { log_.events.push_back("unprepare"); }
    void close() override { log_.events.push_back("close input"); }
    bool queued() const { return queued_; }

private:
    FakeMidiLog& log_;
    bool failPrepare_;
    bool failQueue_;
    MidiInputHandler& handler_;
    SysexBuffer* buffer_ = nullptr;
    bool queued_ = false;
};

class FakeOutputDevice : public MidiOutputDevice {
public:
    explicit FakeOutputDevice(FakeMidiLog& log) : log_(log) {}
    void sendShortMessage(uint32_t message) override { log_.output.sendShortMessage(message); }
    bool sendLongMessage(const uint8_t* data, size_t count) override { return log_.output.sendLongMessage(data, count); }
    void close() override { log_.events.push_back("close output"); }
    bool alive() const override { return log_.outputAlive; }

private:
    FakeMidiLog& log_;
};

class FakeMidiSystem : public MidiSystem {
public:
    bool hasService() override { return service; }
    uint64_t lostMessages() override { return lost; }
    std::vector<std::string> inputDeviceNames() override { return inputs; }
    std::vector<std::string> outputDeviceNames() override { return outputs; }
    std::unique_ptr<MidiInputDevice> openInput(int32_t device, MidiInputHandler& handler) override
    {
        log.events.push_back("open input " + std::to_string(device));
        if (device < 0 || device >= static_cast<int32_t>(inputs.size()))
            return nullptr;
        auto input = std::make_unique<FakeInputDevice>(log, failPrepare, failQueue, handler);
        lastInput = input.get();
        return input;
    }
    std::unique_ptr<MidiOutputDevice> openOutput(int32_t device) override
    {
        log.events.push_back("open output " + std::to_string(device));
        if (device < MidiMapperDevice || device >= static_cast<int32_t>(outputs.size()) || failedOutputOpens-- > 0)
            return nullptr;
        return std::make_unique<FakeOutputDevice>(log);
    }

    FakeMidiLog log;
    std::vector<std::string> inputs = {"Keyboard"};
    std::vector<std::string> outputs = {"Synth"};
    bool failPrepare = false;
    bool failQueue = false;
    int failedOutputOpens = 0;  // how many openings of the output fail from now
    bool service = true;
    uint64_t lost = 0;
    FakeInputDevice* lastInput = nullptr;
};

struct ShownMessage {
    std::string title;
    std::string text;
    MessageIcon icon;
};

class RecordingReporter : public MessageReporter {
public:
    void showMessage(const char* title, const char* text, MessageIcon icon) override
    {
        shown.push_back({title, text, icon});
    }
    std::vector<ShownMessage> shown;
};
