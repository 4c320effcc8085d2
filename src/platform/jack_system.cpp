#include "platform/jack_system.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/device_names.h"
#include "engine/engine_lock.h"
#include "engine/input_dispatch.h"
#include "platform/buffered_input.h"
#include "platform/library_messages.h"
#include "platform/message_ring.h"
#include "platform/midi_bytes.h"
#include "platform/port_names.h"

class JackInputDevice;

// The program's one JACK client and what its process cycle keeps.
//
// Threads: the window thread opens, connects and sends; libjack's
// notification thread only raises flags; the process thread reads the input
// port and writes the output port. The process thread never waits: it takes
// the engine lock by trying, keeps input events in `deferred` while it
// cannot, takes the window thread's messages from `fromWindow`, and keeps
// what does not fit in this cycle's output buffer in `backlog`. Whatever
// none of them can hold is counted in `lost`.
struct JackClient {
    static constexpr size_t WindowQueueBytes = 64 * 1024;
    static constexpr size_t DeferredBytes = 128 * 1024;
    static constexpr size_t BacklogBytes = 256 * 1024;

    ~JackClient();
    static std::shared_ptr<JackClient> open(Engine& engine);

    std::vector<std::string> foreignPorts(unsigned long flags) const;
    bool connect(const std::string& source, const std::string& destination);
    void disconnect(const std::string& source, const std::string& destination);
    // Whether our port ownPort is connected to port now; false once the
    // server has gone.
    bool isConnected(const std::string& ownPort, const std::string& port) const;
    bool connectOwnDestination(const std::string& destination);
    // Waits a little for the next cycles to take what the window thread sent,
    // so that a connection about to go still carries it.
    void waitForWindowMessages();

    // From any thread but the notification thread: written now in the
    // process cycle, queued for the next cycle elsewhere.
    bool send(const uint8_t* bytes, size_t size);
    void startReceiving(JackInputDevice* device) { receiver.store(device); }
    // Returns once no cycle can hand device an event any more.
    void stopReceiving(JackInputDevice* device);

    jack_client_t* handle = nullptr;
    jack_port_t* input = nullptr;
    jack_port_t* output = nullptr;
    // Full names, kept: the port handles are dead once the server has gone.
    std::string inputName;
    std::string outputName;
    bool active = false;
    Engine* engine = nullptr;

    std::atomic<bool> gone{false};
    std::atomic<bool> changed{true};
    std::atomic<bool> listenerJoined{false};
    std::atomic<bool> inCycle{false};
    std::atomic<JackInputDevice*> receiver{nullptr};
    std::atomic<uint64_t> lost{0};
    std::atomic<uint64_t> deferredCycles{0};

    MessageRing fromWindow{WindowQueueBytes};
    std::mutex windowPushMutex;  // senders outside the cycle may be several threads
    MessageRing deferred{DeferredBytes};
    MessageRing backlog{BacklogBytes};

    std::mutex connectionMutex;
    std::string ownDestination;  // the device port connected by the program itself

private:
    static int process(jack_nframes_t frames, void* self);
    static void portRegistered(jack_port_id_t, int, void* self);
    static void portConnected(jack_port_id_t a, jack_port_id_t b, int connect, void* self);
    static void serverGone(jack_status_t, const char*, void* self);

    void beginCycle(jack_nframes_t frames);
    void writeWaiting(MessageRing& ring);
    bool writeEvent(const uint8_t* bytes, size_t size);
    void writeInCycle(const uint8_t* bytes, size_t size);
    void handleInput(void* inBuffer);
    void deferEvents(void* inBuffer, uint32_t count);
    void handleEvents(void* inBuffer, uint32_t count, JackInputDevice* device);

    // The cycle under way: the process thread's alone.
    void* outBuffer_ = nullptr;
    jack_nframes_t frame_ = 0;
    jack_nframes_t lastFrame_ = 0;
    bool wroteThisCycle_ = false;
};

namespace {

// The client whose process cycle this thread is running, if any.
thread_local JackClient* cycleOwner = nullptr;

}  // namespace

class JackInputDevice : public BufferedInputDevice {
public:
    JackInputDevice(std::shared_ptr<JackClient> client, std::string source, MidiInputHandler& handler)
        : BufferedInputDevice(handler), client_(std::move(client)), source_(std::move(source))
    {
        if (!client_->connect(source_, client_->inputName))
            source_.clear();
    }
    ~JackInputDevice() override
    {
        reset();
        close();
    }
    bool connected() const { return !source_.empty(); }
    bool alive() const override { return connected() && client_->isConnected(client_->inputName, source_); }

    void start() override
    {
        BufferedInputDevice::start();
        client_->startReceiving(this);
    }
    void reset() override
    {
        stopDelivering();
        client_->stopReceiving(this);
        handBackBuffer();
    }
    void close() override
    {
        if (!source_.empty())
            client_->disconnect(source_, client_->inputName);
        source_.clear();
    }
    // In the process cycle, with the engine lock held.
    void receiveInCycle(const uint8_t* bytes, size_t size) { deliver(bytes, size, MimEngineLocked); }

private:
    std::shared_ptr<JackClient> client_;
    std::string source_;
};

namespace {

class JackOutputDevice : public MidiOutputDevice {
public:
    // destination: "" for "Vanto Out" left to the user.
    JackOutputDevice(std::shared_ptr<JackClient> client, std::string destination)
        : client_(std::move(client)), destination_(std::move(destination))
    {
        if (!destination_.empty() && !client_->connectOwnDestination(destination_))
            destination_.clear();
    }
    ~JackOutputDevice() override { close(); }
    bool connected() const { return !destination_.empty(); }
    // "Vanto Out" left to the user lives as long as the client does.
    bool alive() const override
    {
        return destination_.empty() ? !client_->gone : client_->isConnected(client_->outputName, destination_);
    }

    void sendShortMessage(uint32_t message) override
    {
        uint8_t bytes[3];
        if (const size_t length = unpackShortMessage(message, bytes))
            client_->send(bytes, length);
    }
    // Each piece goes out as it comes, as one event of its own.
    bool sendLongMessage(const uint8_t* data, size_t count) override
    {
        return data && count > 0 && client_->send(data, count);
    }
    // What was sent last (a reset, say) still goes out before the
    // connection does.
    void close() override
    {
        client_->waitForWindowMessages();
        if (!destination_.empty())
            client_->disconnect(client_->outputName, destination_);
        destination_.clear();
    }

private:
    std::shared_ptr<JackClient> client_;
    std::string destination_;
};

}  // namespace

std::shared_ptr<JackClient> JackClient::open(Engine& engine)
{
    auto client = std::make_shared<JackClient>();
    client->engine = &engine;
    client->handle = jack_client_open(OutputClientName, JackNoStartServer, nullptr);
    if (!client->handle)
        return nullptr;
    jack_client_t* handle = client->handle;
    client->input = jack_port_register(handle, InputPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    client->output = jack_port_register(handle, OutputPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!client->input || !client->output)
        return nullptr;
    client->inputName = jack_port_name(client->input);
    client->outputName = jack_port_name(client->output);
    jack_set_process_callback(handle, process, client.get());
    jack_set_port_registration_callback(handle, portRegistered, client.get());
    jack_set_port_connect_callback(handle, portConnected, client.get());
    jack_on_info_shutdown(handle, serverGone, client.get());
    if (jack_activate(handle) != 0)
        return nullptr;
    client->active = true;
    return client;
}

// After the server has gone, the handle is libjack's: the next client
// opened in this process frees it, so closing it could free it twice.
JackClient::~JackClient()
{
    if (!handle || gone)
        return;
    if (active)
        jack_deactivate(handle);
    jack_client_close(handle);
}

std::vector<std::string> JackClient::foreignPorts(unsigned long flags) const
{
    std::vector<std::string> names;
    const char** ports = gone ? nullptr : jack_get_ports(handle, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    for (size_t i = 0; ports && ports[i]; ++i) {
        if (!isOwnPortName(ports[i]))
            names.emplace_back(ports[i]);
    }
    jack_free(ports);
    return names;
}

bool JackClient::connect(const std::string& source, const std::string& destination)
{
    if (gone)
        return false;
    const int result = jack_connect(handle, source.c_str(), destination.c_str());
    return result == 0 || result == EEXIST;
}

bool JackClient::isConnected(const std::string& ownPort, const std::string& port) const
{
    if (gone)
        return false;
    jack_port_t* own = jack_port_by_name(handle, ownPort.c_str());
    return own && jack_port_connected_to(own, port.c_str());
}

void JackClient::disconnect(const std::string& source, const std::string& destination)
{
    if (!gone)
        jack_disconnect(handle, source.c_str(), destination.c_str());
}

bool JackClient::connectOwnDestination(const std::string& destination)
{
    {
        std::lock_guard<std::mutex> lock(connectionMutex);
        ownDestination = destination;
    }
    if (connect(outputName, destination))
        return true;
    std::lock_guard<std::mutex> lock(connectionMutex);
    ownDestination.clear();
    return false;
}

void JackClient::waitForWindowMessages()
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (!fromWindow.empty() && !gone && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool JackClient::send(const uint8_t* bytes, size_t size)
{
    if (gone)
        return false;
    if (cycleOwner == this) {
        writeInCycle(bytes, size);
        return true;
    }
    std::lock_guard<std::mutex> lock(windowPushMutex);
    if (fromWindow.push(bytes, size))
        return true;
    ++lost;
    return false;
}

void JackClient::stopReceiving(JackInputDevice* device)
{
    JackInputDevice* expected = device;
    receiver.compare_exchange_strong(expected, nullptr);
    // The cycle never waits, so this wait is short: at most the rest of one
    // cycle.
    while (inCycle.load() && !gone)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

int JackClient::process(jack_nframes_t frames, void* self)
{
    auto& client = *static_cast<JackClient*>(self);
    client.inCycle.store(true);
    cycleOwner = &client;
    client.beginCycle(frames);
    client.handleInput(jack_port_get_buffer(client.input, frames));
    cycleOwner = nullptr;
    client.inCycle.store(false);
    return 0;
}

void JackClient::beginCycle(jack_nframes_t frames)
{
    outBuffer_ = jack_port_get_buffer(output, frames);
    jack_midi_clear_buffer(outBuffer_);
    frame_ = 0;
    lastFrame_ = 0;
    wroteThisCycle_ = false;
    writeWaiting(backlog);
    if (backlog.empty())
        writeWaiting(fromWindow);
}

// Oldest first, as many as fit; the rest wait for the next cycle.
void JackClient::writeWaiting(MessageRing& ring)
{
    size_t size = 0;
    while (const uint8_t* bytes = ring.front(size)) {
        if (!writeEvent(bytes, size)) {
            if (wroteThisCycle_)
                return;
            ++lost;  // too long for even an empty buffer: it never fits
        }
        ring.pop();
    }
}

bool JackClient::writeEvent(const uint8_t* bytes, size_t size)
{
    const jack_nframes_t at = frame_ > lastFrame_ ? frame_ : lastFrame_;
    if (jack_midi_event_write(outBuffer_, at, bytes, size) != 0)
        return false;
    lastFrame_ = at;
    wroteThisCycle_ = true;
    return true;
}

// Behind anything already waiting, so that the order holds.
void JackClient::writeInCycle(const uint8_t* bytes, size_t size)
{
    if (backlog.empty() && writeEvent(bytes, size))
        return;
    if (!backlog.push(bytes, size))
        ++lost;
}

void JackClient::handleInput(void* inBuffer)
{
    JackInputDevice* device = receiver.load();
    const uint32_t count = jack_midi_get_event_count(inBuffer);
    if (!device)
        deferred.clear();
    if (count == 0 && deferred.empty() && !listenerJoined.load())
        return;
    if (!engine->engineMutex.try_lock()) {
        if (device && count > 0)
            deferEvents(inBuffer, count);
        return;
    }
    if (listenerJoined.exchange(false))
        engine->greetNewListener();
    handleEvents(inBuffer, count, device);
    engine->engineMutex.unlock();
}

void JackClient::deferEvents(void* inBuffer, uint32_t count)
{
    ++deferredCycles;
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, inBuffer, i) == 0 && !deferred.push(event.buffer, event.size))
            ++lost;
    }
}

// Events that waited for the lock go first, at the start of the cycle; then
// this cycle's, each at its own frame.
void JackClient::handleEvents(void* inBuffer, uint32_t count, JackInputDevice* device)
{
    if (!device)
        return;
    size_t size = 0;
    while (const uint8_t* bytes = deferred.front(size)) {
        device->receiveInCycle(bytes, size);
        deferred.pop();
    }
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, inBuffer, i) != 0)
            continue;
        frame_ = event.time;
        device->receiveInCycle(event.buffer, event.size);
    }
}

void JackClient::portRegistered(jack_port_id_t, int, void* self)
{
    static_cast<JackClient*>(self)->changed = true;
}

// A destination that joins "Vanto Out" gets the greeting in the next cycle;
// the device the program connected itself gets the whole opening sequence
// from the engine instead.
void JackClient::portConnected(jack_port_id_t a, jack_port_id_t b, int connect, void* self)
{
    auto& client = *static_cast<JackClient*>(self);
    if (!connect)
        return;
    jack_port_t* from = jack_port_by_id(client.handle, a);
    jack_port_t* to = jack_port_by_id(client.handle, b);
    if (from != client.output || !to)
        return;
    std::lock_guard<std::mutex> lock(client.connectionMutex);
    if (client.ownDestination != jack_port_name(to))
        client.listenerJoined = true;
}

void JackClient::serverGone(jack_status_t, const char*, void* self)
{
    auto& client = *static_cast<JackClient*>(self);
    client.gone = true;
    client.changed = true;
}

JackMidiSystem::JackMidiSystem(Engine& engine) : engine_(engine)
{
    routeLibraryMessages();
}

JackMidiSystem::~JackMidiSystem() = default;

std::shared_ptr<JackClient> JackMidiSystem::liveClient()
{
    if (client_ && client_->gone) {
        // Devices still open on it keep it until they close.
        lostBefore_ += client_->lost;
        client_.reset();
    }
    // Asking a server that is not there costs milliseconds: once per look
    // at the devices is enough.
    const auto now = std::chrono::steady_clock::now();
    if (!client_ && now - lastFailedOpen_ >= RetryInterval) {
        client_ = JackClient::open(engine_);
        if (!client_)
            lastFailedOpen_ = now;
    }
    return client_;
}

bool JackMidiSystem::hasService()
{
    return liveClient() != nullptr;
}

MidiSystem::DeviceLists JackMidiSystem::deviceLists()
{
    const std::shared_ptr<JackClient> client = liveClient();
    if (!client)
        return {};
    return {client->foreignPorts(JackPortIsOutput), client->foreignPorts(JackPortIsInput), true};
}

std::vector<std::string> JackMidiSystem::inputDeviceNames()
{
    return deviceLists().inputs;
}

std::vector<std::string> JackMidiSystem::outputDeviceNames()
{
    return deviceLists().outputs;
}

bool JackMidiSystem::devicesChanged()
{
    const bool hadClient = client_ != nullptr;
    const std::shared_ptr<JackClient> client = liveClient();
    if (!client)
        return hadClient;
    return !hadClient || client->changed.exchange(false);
}

uint64_t JackMidiSystem::lostMessages()
{
    return lostBefore_ + (client_ ? client_->lost.load() : 0);
}

namespace {

std::vector<std::string> connectionsOf(jack_client_t* handle, const std::string& port)
{
    std::vector<std::string> names;
    jack_port_t* found = jack_port_by_name(handle, port.c_str());
    const char** ports = found ? jack_port_get_all_connections(handle, found) : nullptr;
    for (size_t i = 0; ports && ports[i]; ++i)
        names.emplace_back(ports[i]);
    jack_free(ports);
    return names;
}

}  // namespace

std::optional<std::vector<std::string>> JackMidiSystem::ownOutputListeners()
{
    if (!client_ || client_->gone)
        return std::vector<std::string>{};
    return connectionsOf(client_->handle, client_->outputName);
}

std::optional<MidiSystem::OtherRelay> JackMidiSystem::otherRelayOn(int32_t inputDevice)
{
    const std::shared_ptr<JackClient> client = liveClient();
    if (!client)
        return std::nullopt;
    const std::vector<std::string> sources = client->foreignPorts(JackPortIsOutput);
    const std::string* source = deviceNameAt(inputDevice, sources);
    if (!source)
        return std::nullopt;
    for (const std::string& port : connectionsOf(client->handle, *source)) {
        if (!isOwnPortName(port) || port == client->inputName)
            continue;
        const std::string other = port.substr(0, port.find(':'));
        return OtherRelay{other, connectionsOf(client->handle, other + ":" + OutputPortName)};
    }
    return std::nullopt;
}

uint64_t JackMidiSystem::deferredCycles() const
{
    return client_ ? client_->deferredCycles.load() : 0;
}

pthread_t JackMidiSystem::processThread() const
{
    return client_ && !client_->gone ? jack_client_thread_id(client_->handle) : pthread_t{};
}

std::unique_ptr<MidiInputDevice> JackMidiSystem::openInput(int32_t device, MidiInputHandler& handler)
{
    const std::shared_ptr<JackClient> client = liveClient();
    if (!client)
        return nullptr;
    const std::vector<std::string> sources = client->foreignPorts(JackPortIsOutput);
    const std::string* source = deviceNameAt(device, sources);
    if (!source)
        return nullptr;
    auto input = std::make_unique<JackInputDevice>(client, *source, handler);
    if (!input->connected())
        return nullptr;
    return input;
}

std::unique_ptr<MidiOutputDevice> JackMidiSystem::openOutput(int32_t device)
{
    const std::shared_ptr<JackClient> client = liveClient();
    if (!client)
        return nullptr;
    if (device == MidiMapperDevice)
        return std::make_unique<JackOutputDevice>(client, "");
    const std::vector<std::string> destinations = client->foreignPorts(JackPortIsInput);
    const std::string* destination = deviceNameAt(device, destinations);
    if (!destination)
        return nullptr;
    auto output = std::make_unique<JackOutputDevice>(client, *destination);
    if (!output->connected())
        return nullptr;
    return output;
}
