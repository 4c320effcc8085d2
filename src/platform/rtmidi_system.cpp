#include "platform/rtmidi_system.h"

#include <RtMidi.h>

#ifdef __linux__
#include <alsa/asoundlib.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/device_names.h"
#include "engine/input_dispatch.h"
#include "platform/buffered_input.h"
#include "platform/library_messages.h"
#include "platform/midi_bytes.h"

namespace {

// RtMidi's JACK backend releases what its process cycle uses (the output's
// ring buffer, the port) before it stops its JACK client, so a cycle still
// running may touch freed memory. With the port closed first, a new cycle
// leaves everything alone; waiting longer than any cycle lets one already
// under way finish.
constexpr auto JackCycleBound = std::chrono::milliseconds(100);

template <typename Client>
void retire(std::unique_ptr<Client>& client, RtMidi::Api api)
{
    if (!client)
        return;
    try {
        client->closePort();
    } catch (const RtMidiError&) {
    }
    if (api == RtMidi::UNIX_JACK)
        std::this_thread::sleep_for(JackCycleBound);
    client.reset();
}

// What one look at a MIDI system finds: its ports in each direction, the
// program's own left out, and how many there are in all.
struct PortLists {
    std::vector<std::string> sources;
    std::vector<std::string> destinations;
    size_t allPorts = 0;
};

// The ports of a probe other than this program's own, as port numbers.
std::vector<unsigned> foreignPorts(RtMidi& probe, std::vector<std::string>* names)
{
    std::vector<unsigned> ports;
    const unsigned count = probe.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        const std::string name = probe.getPortName(i);
        if (name.empty() || isOwnPortName(name))
            continue;
        ports.push_back(i);
        if (names)
            names->push_back(name);
    }
    return ports;
}

void listProbePorts(RtMidi& probe, std::vector<std::string>& names, size_t& allPorts)
{
    allPorts += probe.getPortCount();
    foreignPorts(probe, &names);
}

// False when the system's service does not answer.
bool listPorts(RtMidi::Api api, PortLists& lists)
{
    try {
        RtMidiIn in(api, "Vanto Probe");
        RtMidiOut out(api, "Vanto Probe");
        listProbePorts(in, lists.sources, lists.allPorts);
        listProbePorts(out, lists.destinations, lists.allPorts);
        return true;
    } catch (const RtMidiError&) {
        return false;
    }
}

// The first compiled API that has ports; failing that, the first whose
// service answers at all. A missing service (no ALSA sequencer) is passed
// over; JACK is used only when it alone is asked for. Its ports go to lists, when given.
bool chooseApi(bool jackOnly, RtMidi::Api& chosen, PortLists* lists = nullptr)
{
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    bool found = false;
    for (RtMidi::Api api : apis) {
        if ((api == RtMidi::UNIX_JACK) != jackOnly)
            continue;
        PortLists tried;
        if (!listPorts(api, tried))
            continue;
        const bool hasPorts = tried.allPorts > 0;
        if (hasPorts || !found) {
            chosen = api;
            found = true;
            if (lists)
                *lists = std::move(tried);
        }
        if (hasPorts)
            return true;
    }
    return found;
}

// Finds the port number behind a device position of the filtered list.
bool portForDevice(RtMidi& rtmidi, int32_t device, unsigned& port)
{
    const std::vector<unsigned> ports = foreignPorts(rtmidi, nullptr);
    if (device < 0 || static_cast<size_t>(device) >= ports.size())
        return false;
    port = ports[static_cast<size_t>(device)];
    return true;
}

class RtMidiInputDevice : public BufferedInputDevice {
public:
    RtMidiInputDevice(RtMidi::Api api, int32_t device, MidiInputHandler& handler)
        : BufferedInputDevice(handler), api_(api)
    {
        in_ = std::make_unique<RtMidiIn>(api, InputClientName);
        unsigned port = 0;
        if (!portForDevice(*in_, device, port))
            throw RtMidiError("no such input device", RtMidiError::INVALID_DEVICE);
        // Every kind is received; the relay switches decide what goes on.
        in_->ignoreTypes(false, false, false);
        in_->setCallback(&RtMidiInputDevice::receive, this);
        in_->openPort(port, InputPortName);
    }
    ~RtMidiInputDevice() override { close(); }

    void reset() override
    {
        stopDelivering();
        close();  // destroying the client waits for its callback to return
        handBackBuffer();
    }
    void close() override { retire(in_, api_); }

private:
    static void receive(double, std::vector<unsigned char>* message, void* self)
    {
        if (message)
            static_cast<RtMidiInputDevice*>(self)->deliver(message->data(), message->size(), 0);
    }

    RtMidi::Api api_;
    std::unique_ptr<RtMidiIn> in_;
};

}  // namespace

// An output client and its port. The virtual "Vanto Out" port outlives the
// devices opened on it, so that the connections a user made to it in the
// patchbay survive every reopening of the devices.
struct OutputPort {
    ~OutputPort() { retire(out, api); }

    std::mutex mutex;
    std::unique_ptr<RtMidiOut> out;
    RtMidi::Api api = RtMidi::UNSPECIFIED;
};

namespace {

class RtMidiOutputDevice : public MidiOutputDevice {
public:
    // The longest System Exclusive message held while its parts arrive.
    static constexpr size_t MaxSysexMessage = 1 << 20;

    RtMidiOutputDevice(std::shared_ptr<OutputPort> port, bool keepPortOnClose, std::atomic<uint64_t>& lost)
        : port_(std::move(port)), keepPortOnClose_(keepPortOnClose), lost_(lost)
    {
        pending_.reserve(4 * SysexBufferSize);
    }
    ~RtMidiOutputDevice() override { close(); }

    void sendShortMessage(uint32_t message) override
    {
        uint8_t bytes[3];
        const size_t length = unpackShortMessage(message, bytes);
        if (length == 0)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        send(bytes, length);
    }

    // A message longer than the input buffer arrives in parts; message APIs
    // want it whole, so the parts are gathered until its F7 arrives.
    bool sendLongMessage(const uint8_t* data, size_t count) override
    {
        if (!data || count == 0)
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (data[0] == 0xF0) {
            pending_.clear();
            discarding_ = false;
        } else if (pending_.empty()) {
            return false;  // the rest of a message whose start was not sent
        }
        if (discarding_ || pending_.size() + count > MaxSysexMessage) {
            if (!discarding_)
                ++lost_;  // counted once, however many parts follow
            discarding_ = true;
            pending_.clear();
            return false;
        }
        pending_.insert(pending_.end(), data, data + count);
        if (pending_.back() == 0xF7) {
            send(pending_.data(), pending_.size());
            pending_.clear();
        }
        return true;
    }

    void close() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!port_)
            return;
        if (!keepPortOnClose_) {
            std::lock_guard<std::mutex> portLock(port_->mutex);
            retire(port_->out, port_->api);
        }
        port_.reset();
    }

private:
    void send(const unsigned char* bytes, size_t length)
    {
        if (!port_)
            return;
        std::lock_guard<std::mutex> portLock(port_->mutex);
        if (!port_->out)
            return;
        try {
            port_->out->sendMessage(bytes, length);
        } catch (const RtMidiError&) {
        }
    }

    std::mutex mutex_;
    std::shared_ptr<OutputPort> port_;
    bool keepPortOnClose_;
    std::atomic<uint64_t>& lost_;
    std::vector<unsigned char> pending_;
    bool discarding_ = false;
};

// Runs open with the API in use; null when there is none or RtMidi throws
// (RtMidiError is a std::exception).
template <typename Device, typename Open>
std::unique_ptr<Device> openWithChosenApi(bool jackOnly, Open open)
{
    try {
        RtMidi::Api api;
        if (!chooseApi(jackOnly, api))
            return nullptr;
        return open(api);
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::shared_ptr<OutputPort> openOutputPort(RtMidi::Api api, int32_t device)
{
    auto port = std::make_shared<OutputPort>();
    port->api = api;
    port->out = std::make_unique<RtMidiOut>(api, OutputClientName);
    if (device == MidiMapperDevice) {
        port->out->openVirtualPort(OutputPortName);
        return port;
    }
    unsigned number = 0;
    if (!portForDevice(*port->out, device, number))
        return nullptr;
    port->out->openPort(number, OutputPortName);
    return port;
}

}  // namespace

// The ALSA sequencer's announcement port, read without waiting: every
// client and port that comes or goes is announced there.
struct RtMidiSystem::Announcements {
#ifdef __linux__
    snd_seq_t* sequencer = nullptr;

    bool open()
    {
        if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
            sequencer = nullptr;
            return false;
        }
        snd_seq_set_client_name(sequencer, "Vanto Watch");
        const int port = snd_seq_create_simple_port(sequencer, "announcements",
                                                    SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                    SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0 || snd_seq_connect_from(sequencer, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
            snd_seq_close(sequencer);
            sequencer = nullptr;
            return false;
        }
        return true;
    }
    // True when anything was announced since the last call (or too much to
    // hold, which the sequencer reports as an overflow).
    bool drain()
    {
        bool announced = false;
        snd_seq_event_t* event = nullptr;
        for (int i = 0; i < 4096; ++i) {
            const int read = snd_seq_event_input(sequencer, &event);
            if (read < 0 && read != -ENOSPC)
                break;
            announced = true;
        }
        return announced;
    }
    ~Announcements()
    {
        if (sequencer)
            snd_seq_close(sequencer);
    }
#else
    bool open() { return false; }
    bool drain() { return true; }
#endif
};

RtMidiSystem::RtMidiSystem(bool jackOnly) : jackOnly_(jackOnly)
{
    routeLibraryMessages();
}

RtMidiSystem::~RtMidiSystem() = default;

bool RtMidiSystem::devicesChanged()
{
    return lastApi_ != RtMidi::LINUX_ALSA || alsaDevicesChanged();
}

bool RtMidiSystem::hasService()
{
    return deviceLists().service;
}

bool RtMidiSystem::alsaDevicesChanged()
{
    if (!announcements_) {
        announcements_ = std::make_unique<Announcements>();
        if (!announcements_->open()) {
            announcements_.reset();
            return true;  // no announcements to be had: the lists are asked for each time
        }
        return true;
    }
    return announcements_->drain();
}

MidiSystem::DeviceLists RtMidiSystem::deviceLists()
{
    LibraryOutputCapture capture;
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    PortLists lists;
    const bool service = chooseApi(jackOnly_, api, &lists);
    lastApi_ = service ? api : RtMidi::UNSPECIFIED;
    return {std::move(lists.sources), std::move(lists.destinations), service};
}

std::vector<std::string> RtMidiSystem::inputDeviceNames()
{
    return deviceLists().inputs;
}

std::vector<std::string> RtMidiSystem::outputDeviceNames()
{
    return deviceLists().outputs;
}

std::unique_ptr<MidiInputDevice> RtMidiSystem::openInput(int32_t device, MidiInputHandler& handler)
{
    LibraryOutputCapture capture;
    return openWithChosenApi<MidiInputDevice>(jackOnly_,
        [device, &handler](RtMidi::Api api) { return std::make_unique<RtMidiInputDevice>(api, device, handler); });
}

std::unique_ptr<MidiOutputDevice> RtMidiSystem::openOutput(int32_t device)
{
    LibraryOutputCapture capture;
    return openWithChosenApi<MidiOutputDevice>(jackOnly_, [this, device](RtMidi::Api api) -> std::unique_ptr<MidiOutputDevice> {
        if (device == MidiMapperDevice) {
            if (!mapperPort_ || mapperPort_->api != api)
                mapperPort_ = openOutputPort(api, device);
            return std::make_unique<RtMidiOutputDevice>(mapperPort_, true, lost_);
        }
        std::shared_ptr<OutputPort> port = openOutputPort(api, device);
        if (!port)
            return nullptr;
        return std::make_unique<RtMidiOutputDevice>(port, false, lost_);
    });
}
