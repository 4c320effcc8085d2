#pragma once
// The platform's MIDI device services: the device lists, and opening one
// input and one output device. RtMidi provides them on Linux and macOS, the
// multimedia services on Windows; tests provide doubles.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/midi_device.h"

// What an input device calls, on its own thread, with each short message
// and each filled System Exclusive buffer: the engine the device was opened
// for.
class MidiInputHandler {
public:
    virtual void handleMidiInput(MidiInput* port, uint32_t code, uintptr_t instance, uintptr_t param1,
                                 uintptr_t param2) = 0;

protected:
    ~MidiInputHandler() = default;
};

// An open input device. Once started it calls its handler.
class MidiInputDevice : public MidiInput {
public:
    // Makes buffer the one System Exclusive buffer; 0 when accepted.
    virtual int prepareBuffer(SysexBuffer& buffer) = 0;
    virtual void start() = 0;
    // Stops input and waits until no call into the handler is running. A
    // buffer still queued is handed back to the handler as a long-data event.
    virtual void reset() = 0;
    virtual void unprepareBuffer(SysexBuffer& buffer) = 0;
    virtual void close() = 0;
    // False once the connection to the device is gone for good (the service
    // restarted under it, the device was unplugged and came back): it must
    // be opened again.
    virtual bool alive() const { return true; }
};

class MidiOutputDevice : public MidiOutput {
public:
    virtual void close() = 0;
    // As MidiInputDevice::alive.
    virtual bool alive() const { return true; }
};

// Stands for the system's MIDI mapper as an output device position.
constexpr int32_t MidiMapperDevice = -1;

class MidiSystem {
public:
    virtual ~MidiSystem() = default;
    // False when no MIDI service (sequencer, server) answers at all.
    virtual bool hasService() { return true; }
    // Product names, in device-position order; the program's own ports are
    // never listed.
    virtual std::vector<std::string> inputDeviceNames() = 0;
    virtual std::vector<std::string> outputDeviceNames() = 0;
    // Both lists and whether a service answers, in one question to the
    // system: what a settings dialog asks for when it opens.
    struct DeviceLists {
        std::vector<std::string> inputs;
        std::vector<std::string> outputs;
        bool service = false;
    };
    virtual DeviceLists deviceLists() { return {inputDeviceNames(), outputDeviceNames(), hasService()}; }
    // True when the device lists may have changed since the last call, so
    // that the window thread need not ask for them every second. A system
    // that is not told of changes always says true.
    virtual bool devicesChanged() { return true; }
    // Messages that a full queue or buffer of the platform could not hold,
    // since the system was made: counted so that the user can be told.
    virtual uint64_t lostMessages() { return 0; }
    // The ports that listen to the program's own output now, where the
    // system can tell; nothing where it cannot.
    virtual std::optional<std::vector<std::string>> ownOutputListeners() { return std::nullopt; }
    // Another relay of this program that the input device already plays
    // into: its client and the ports its output plays into. Nothing when
    // none does, or the system cannot tell.
    struct OtherRelay {
        std::string client;
        std::vector<std::string> listeners;
    };
    virtual std::optional<OtherRelay> otherRelayOn(int32_t /*inputDevice*/) { return std::nullopt; }
    // Null when the device cannot be opened.
    virtual std::unique_ptr<MidiInputDevice> openInput(int32_t device, MidiInputHandler& handler) = 0;
    virtual std::unique_ptr<MidiOutputDevice> openOutput(int32_t device) = 0;
};

