#include "platform/rtmidi_system.h"

#include <RtMidi.h>
#include <jack/jack.h>

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
#include "platform/library_messages.h"

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

void keepForeign(const std::string& name, std::vector<std::string>& names)
{
    if (!name.empty() && !isOwnPortName(name))
        names.push_back(name);
}

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

// JACK through libjack itself: one client lists both directions, in the
// order RtMidi numbers them, and no client at all is made when no server
// answers. False then.
bool listJackPorts(PortLists& lists)
{
    jack_status_t status;
    jack_client_t* client = jack_client_open("Vanto Probe", JackNoStartServer, &status);
    if (!client)
        return false;
    for (const auto& [flags, names] : {std::pair{JackPortIsOutput, &lists.sources}, std::pair{JackPortIsInput, &lists.destinations}}) {
        const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        for (size_t i = 0; ports && ports[i]; ++i, ++lists.allPorts)
            keepForeign(ports[i], *names);
        jack_free(ports);
    }
    jack_client_close(client);
    return true;
}

void listProbePorts(RtMidi& probe, std::vector<std::string>& names, size_t& allPorts)
{
    allPorts += probe.getPortCount();
    foreignPorts(probe, &names);
}

// False when the system's service does not answer.
bool listPorts(RtMidi::Api api, PortLists& lists)
{
    if (api == RtMidi::UNIX_JACK)
        return listJackPorts(lists);
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
// service answers at all. A missing service (no ALSA sequencer, no JACK
// server) is passed over. Its ports go to lists, when given.
bool chooseApi(RtMidi::Api& chosen, PortLists* lists = nullptr)
{
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    bool found = false;
    for (RtMidi::Api api : apis) {
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

uint32_t packBytes(const std::vector<unsigned char>& bytes)
{
    uint32_t word = 0;
    for (size_t i = 0; i < bytes.size() && i < 3; ++i)
        word |= uint32_t{bytes[i]} << (8 * i);
    return word;
}

// The length of the short message a status byte begins; 0 for one that
// cannot be sent as a short message.
size_t shortMessageLength(uint8_t status)
{
    if (status < 0x80)
        return 0;
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    switch (status) {
    case 0xF0:  // System Exclusive only travels as a long message
    case 0xF7:
        return 0;
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    default:
        return 1;
    }
}

class RtMidiInputDevice : public MidiInputDevice {
public:
    RtMidiInputDevice(RtMidi::Api api, int32_t device, MidiInputHandler handler) : api_(api), handler_(handler)
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

    int prepareBuffer(SysexBuffer& buffer) override
    {
        if (!buffer.data || buffer.bufferLength == 0)
            return 1;
        prepared_ = &buffer;
        return 0;
    }
    int addBuffer(SysexBuffer& buffer) override
    {
        if (&buffer != prepared_)
            return 1;
        queued_ = true;
        return 0;
    }
    void start() override { started_ = true; }
    void reset() override
    {
        started_ = false;
        close();  // destroying the client waits for its callback to return
        if (queued_.exchange(false) && prepared_) {
            prepared_->bytesRecorded = 0;
            handler_(this, MimLongData, 0, reinterpret_cast<uintptr_t>(prepared_), 0);
        }
    }
    void unprepareBuffer(SysexBuffer& buffer) override
    {
        if (&buffer == prepared_)
            prepared_ = nullptr;
    }
    void close() override { retire(in_, api_); }

private:
    static void receive(double, std::vector<unsigned char>* message, void* self)
    {
        auto* device = static_cast<RtMidiInputDevice*>(self);
        if (!message || message->empty() || !device->started_)
            return;
        if ((*message)[0] == 0xF0)
            device->receiveSystemExclusive(*message);
        else
            device->handler_(device, MimData, 0, packBytes(*message), 0);
    }

    // Hands the message to the handler a buffer at a time. The buffer comes
    // back through addBuffer while the relay wants more; once it stays out,
    // the rest of this message and every later one are dropped.
    void receiveSystemExclusive(const std::vector<unsigned char>& message)
    {
        size_t offset = 0;
        while (offset < message.size()) {
            SysexBuffer* buffer = prepared_;
            if (!buffer || !queued_.exchange(false))
                return;
            const size_t chunk = std::min<size_t>(buffer->bufferLength, message.size() - offset);
            std::memcpy(buffer->data, message.data() + offset, chunk);
            buffer->bytesRecorded = static_cast<uint32_t>(chunk);
            offset += chunk;
            handler_(this, MimLongData, 0, reinterpret_cast<uintptr_t>(buffer), 0);
        }
    }

    RtMidi::Api api_;
    MidiInputHandler handler_;
    std::unique_ptr<RtMidiIn> in_;
    SysexBuffer* prepared_ = nullptr;
    std::atomic<bool> queued_{false};
    std::atomic<bool> started_{false};
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

    RtMidiOutputDevice(std::shared_ptr<OutputPort> port, bool keepPortOnClose)
        : port_(std::move(port)), keepPortOnClose_(keepPortOnClose)
    {
        pending_.reserve(4 * SysexBufferSize);
    }
    ~RtMidiOutputDevice() override { close(); }

    void sendShortMessage(uint32_t message) override
    {
        const uint8_t status = message & 0xFF;
        const size_t length = shortMessageLength(status);
        if (length == 0)
            return;
        const unsigned char bytes[3] = {status, static_cast<unsigned char>((message >> 8) & 0x7F),
                                        static_cast<unsigned char>((message >> 16) & 0x7F)};
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
    std::vector<unsigned char> pending_;
    bool discarding_ = false;
};

// Runs open with the API in use; null when there is none or RtMidi throws
// (RtMidiError is a std::exception).
template <typename Device, typename Open>
std::unique_ptr<Device> openWithChosenApi(Open open)
{
    try {
        RtMidi::Api api;
        if (!chooseApi(api))
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

bool isOwnPortName(const std::string& portName)
{
    // Without the numbers the system adds: JACK renames a second client of
    // the same name "Name-01".
    const std::string key = deviceKey(portName);
    const std::string client = key.substr(0, key.find(':'));
    return client == OutputClientName || client == InputClientName;
}

// A JACK client without ports that hears of every port registered or
// unregistered. Its callbacks run on a thread of libjack's and only raise flags.
struct RtMidiSystem::Watcher {
    jack_client_t* client = nullptr;
    std::atomic<bool> changed{true};
    std::atomic<bool> serverGone{false};

    static void portRegistered(jack_port_id_t, int, void* self) { static_cast<Watcher*>(self)->changed = true; }
    static void shutdown(jack_status_t, const char*, void* self)
    {
        auto* watcher = static_cast<Watcher*>(self);
        watcher->serverGone = true;
        watcher->changed = true;
    }
    // After the server has gone, closing is all a client may still do.
    void close()
    {
        if (client)
            jack_client_close(client);
        client = nullptr;
        serverGone = false;
    }
    void open()
    {
        client = jack_client_open("Vanto Watch", JackNoStartServer, nullptr);
        if (!client)
            return;
        jack_set_port_registration_callback(client, portRegistered, this);
        jack_on_info_shutdown(client, shutdown, this);
        jack_activate(client);
        changed = true;
    }
    ~Watcher() { close(); }
};

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

RtMidiSystem::RtMidiSystem()
{
    routeLibraryMessages();
}

RtMidiSystem::~RtMidiSystem() = default;

bool RtMidiSystem::devicesChanged()
{
    if (lastApi_ == RtMidi::LINUX_ALSA)
        return alsaDevicesChanged();
    if (lastApi_ != RtMidi::UNIX_JACK)
        return true;
    LibraryOutputCapture capture;
    if (!watcher_)
        watcher_ = std::make_unique<Watcher>();
    if (watcher_->serverGone)
        watcher_->close();
    if (!watcher_->client)
        watcher_->open();
    return !watcher_->client || watcher_->changed.exchange(false);
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
    const bool service = chooseApi(api, &lists);
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

std::unique_ptr<MidiInputDevice> RtMidiSystem::openInput(int32_t device, MidiInputHandler handler)
{
    LibraryOutputCapture capture;
    return openWithChosenApi<MidiInputDevice>(
        [device, handler](RtMidi::Api api) { return std::make_unique<RtMidiInputDevice>(api, device, handler); });
}

std::unique_ptr<MidiOutputDevice> RtMidiSystem::openOutput(int32_t device)
{
    LibraryOutputCapture capture;
    return openWithChosenApi<MidiOutputDevice>([this, device](RtMidi::Api api) -> std::unique_ptr<MidiOutputDevice> {
        if (device == MidiMapperDevice) {
            if (!mapperPort_ || mapperPort_->api != api)
                mapperPort_ = openOutputPort(api, device);
            return std::make_unique<RtMidiOutputDevice>(mapperPort_, true);
        }
        std::shared_ptr<OutputPort> port = openOutputPort(api, device);
        if (!port)
            return nullptr;
        return std::make_unique<RtMidiOutputDevice>(port, false);
    });
}
