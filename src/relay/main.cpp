// vanto-relay: the retuning relay without a window, for a rack or a board
// without a screen. It opens the devices as vanto does, relays until SIGTERM
// or SIGINT, and reloads everything on SIGHUP.

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/startup.h"
#include "engine/config_file.h"
#include "engine/device_names.h"
#include "engine/engine_lock.h"
#include "engine/midi_ports.h"
#include "engine/note_allocation.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "engine/scale_in_force.h"
#include "engine/scale_loading.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "platform/midi_backends.h"
#include "relay/relay_options.h"
#include "scale/keyboard_mapping.h"

namespace {

// A text of several lines, as one: "Negative just intervals do not exist. Line 1: 1 j0/5".
std::string oneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// Each box the window would show, as one line on standard error.
class ConsoleReporter : public MessageReporter {
public:
    void showMessage(const char* title, const char* text, MessageIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", title, oneLine(text).c_str());
    }
    // Nobody at a rack answers: the safer choice, said.
    bool askQuestion(const char*, const char* text, const char*, const char*) override
    {
        std::printf("vanto-relay: %s Waiting until it lets go.\n", oneLine(text).c_str());
        std::fflush(stdout);
        return false;
    }
};

enum class Start { Relaying, Awaiting, Failed };

// A DEVICE text that matches nothing yet: a name is awaited, a number fails.
Start absentDevice(const char* direction, const std::string& text)
{
    const bool number = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (number) {
        std::fprintf(stderr, "vanto-relay: no %s device %s (see vanto-relay --list)\n", direction, text.c_str());
        return Start::Failed;
    }
    std::printf("vanto-relay: Waiting for %s\n", text.c_str());
    std::fflush(stdout);
    return Start::Awaiting;
}

// Puts the devices --in and --out name into the settings, by position and
// by name, so that they win over the configuration's.
Start chooseDevices(Engine& engine, const RelayOptions& options, const MidiSystem::DeviceLists& lists)
{
    EngineLock lock(engine.engineMutex);
    if (options.input) {
        const auto device = findInputDevice(*options.input, lists.inputs);
        if (!device)
            return absentDevice("input", *options.input);
        engine.settings.inputDevice = *device;
        copyDeviceName(engine.settings.inputDeviceName, *device, lists.inputs);
    }
    if (options.output) {
        const auto device = findOutputDevice(*options.output, lists.outputs);
        if (!device)
            return absentDevice("output", *options.output);
        engine.settings.outputDevice = *device;
        copyDeviceName(engine.settings.outputDeviceName, *device, lists.outputs);
    }
    return Start::Relaying;
}

std::string deviceName(int32_t device, const std::vector<std::string>& names)
{
    if (device == MidiMapperDevice)
        return OutputPortName;
    const std::string* name = deviceNameAt(device, names);
    return name ? *name : "(none)";
}

void retuneWithMapping(Engine& engine, const std::string& path)
{
    const std::string error = engine.loadKeyboardMapping(path.c_str());
    if (!error.empty()) {
        std::fprintf(stderr, "vanto-relay: \"%s\" did not load: %s\n", path.c_str(), error.c_str());
        return;
    }
    EngineLock lock(engine.engineMutex);
    engine.buildTuningTable();
    engine.resetChannels();
}

void sayWhatIsAwaited(Engine& engine)
{
    const std::string waiting = engine.deviceWaitText();
    if (!waiting.empty())
        std::printf("vanto-relay: %s\n", waiting.c_str());
}

// Reads the configuration, the devices asked for, the scale and the mapping,
// and opens the devices as vanto does. Awaiting: a device --in or --out names
// is not there yet; Failed: a device could not be opened.
// Reloading keeps the scale and mapping in force where the files do not load.
Start start(Engine& engine, const RelayOptions& options, MidiSystem& system, ConsoleReporter& console,
            bool reloading = false)
{
    {
        EngineLock lock(engine.engineMutex);
        engine.settings = defaultSettings();
        if (!reloading)
            engine.clearKeyboardMapping();
    }
    std::string problem;
    std::string note;
    if (engine.loadConfig(options.configPath.c_str(), &problem, &note) == -2)
        std::fprintf(stderr, "vanto-relay: \"%s\" was ignored: %s\n", options.configPath.c_str(), problem.c_str());
    else if (!note.empty())
        std::fprintf(stderr, "vanto-relay: %s\n", note.c_str());
    const MidiSystem::DeviceLists lists = system.deviceLists();
    if (const Start chosen = chooseDevices(engine, options, lists); chosen != Start::Relaying)
        return chosen;
    {
        EngineLock lock(engine.engineMutex);
        if (options.outputMode)
            engine.settings.outputMode = *options.outputMode;
        engine.settings.pitchWheelUse = options.pitchWheelUse.value_or(engine.settings.pitchWheelUse);
        engine.settings.playerBendRange = options.playerBendRange.value_or(engine.settings.playerBendRange);
        engine.settings.mpeController = options.mpeInput ? 1 : engine.settings.mpeController;
        engine.settings.inputBendRange = options.inputBendRange.value_or(engine.settings.inputBendRange);
        if (options.keysPerChannel) {
            engine.settings.keyLayout = KeyLayoutChannelOffset;
            engine.settings.keysPerChannel = *options.keysPerChannel;
        }
        engine.buildInstrumentFrequencies();
    }
    scaleArgument = options.scalePath;
    StartReport report;
    initialiseSystem(engine, console, &report, reloading);
    if (!options.mappingPath.empty())
        retuneWithMapping(engine, options.mappingPath);
    std::string status;
    {
        EngineLock lock(engine.engineMutex);
        status = engine.tuningStatusText() + engine.modesText();
    }
    for (const LoadFailure& failure : report.failures)
        std::fprintf(stderr, "vanto-relay: \"%s\" did not load: %s (%s plays)\n", failure.path.c_str(),
                     oneLine(failure.error).c_str(), status.c_str());
    for (const std::string& warning : report.warnings)
        std::fprintf(stderr, "vanto-relay: %s\n", warning.c_str());
    const Settings chosen = engine.currentSettings();
    if (engine.isRouteComplete())
        std::printf("vanto-relay: %s -> %s, scale %s\n", deviceName(chosen.inputDevice, lists.inputs).c_str(),
                    deviceName(chosen.outputDevice, lists.outputs).c_str(), status.c_str());
    else
        std::printf("vanto-relay: scale %s\n", status.c_str());
    sayWhatIsAwaited(engine);
    std::fflush(stdout);
    // A device remembered by name may be awaited; one by position only cannot.
    EngineLock lock(engine.engineMutex);
    const bool inputReady = engine.midiPorts.inputOpen == 1 || chosen.inputDeviceName[0] != '\0';
    const bool outputReady = engine.midiPorts.outputOpen == 1 || chosen.outputDeviceName[0] != '\0';
    return inputReady && outputReady ? Start::Relaying : Start::Failed;
}

// Devices that come and go, looked for about once a second: those the
// command line names before anything opens, then those the settings remember.
// said: the route as last printed.
Start watchDevices(Engine& engine, Start state, const RelayOptions& options, MidiSystem& system,
                   ConsoleReporter& console, std::string& said)
{
    if (state == Start::Awaiting)
        return system.devicesChanged() && chooseDevices(engine, options, system.deviceLists()) == Start::Relaying
                   ? start(engine, options, system, console)
                   : Start::Awaiting;
    // One line for each change of state, true when it is printed.
    const bool wasGone = engine.serviceHasGone();
    const bool reopened = engine.reopenWhenDevicesReturn(console);
    if (wasGone && !engine.serviceHasGone())
        std::printf("vanto-relay: the MIDI service is back\n");
    const std::string now = engine.routeText();
    if (now != said || (reopened && engine.isRouteComplete()))
        std::printf("vanto-relay: %s\n", now.c_str());
    said = now;
    std::fflush(stdout);
    return state;
}

// SIGUSR1: the panic of the window's "All Notes Off".
void allNotesOff(Engine& engine)
{
    EngineLock lock(engine.engineMutex);
    engine.panic();
    std::printf("vanto-relay: all notes off\n");
    std::fflush(stdout);
}

// A reload that cannot open a device carries on without it, as vanto does.
Start reload(Engine& engine, const RelayOptions& options, MidiSystem& system, ConsoleReporter& console)
{
    const Start state = start(engine, options, system, console, true);
    if (state != Start::Failed)
        return state;
    std::fprintf(stderr, "vanto-relay: carrying on without the device that could not be opened\n");
    return Start::Relaying;
}

// The signals the relay answers reach it only through sigwait: blocked here,
// before any device thread exists, so that every thread inherits the block.
sigset_t answeredSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return signals;
}

}  // namespace

int main(int argc, char** argv)
{
    RelayOptions options;
    if (!parseRelayOptions(argc, argv, options)) {
        std::fputs(RelayUsage, stderr);
        return 2;
    }
    if (options.help || options.version) {
        std::fputs(options.help ? RelayUsage : "vanto-relay " VANTO_VERSION "\n", stdout);
        return 0;
    }
    const sigset_t signals = answeredSignals();
    Engine engine;
    PlatformMidiSystem system(engine);
    engine.midiSystem = &system;
    if (options.list) {
        const MidiSystem::DeviceLists lists = system.deviceLists();
        std::fputs(deviceListing(lists.inputs, lists.outputs).c_str(), stdout);
        return 0;
    }
    // A scale the command line names must load: nothing else would be played.
    if (!options.scalePath.empty()) {
        const std::string error = engine.loadScale(options.scalePath.c_str());
        if (!error.empty()) {
            std::fprintf(stderr, "vanto-relay: \"%s\" did not load: %s\n", options.scalePath.c_str(), oneLine(error).c_str());
            return 2;
        }
    }
    ConsoleReporter console;
    Start state = start(engine, options, system, console);
    std::string said = engine.routeText();
    const timespec second{1, 0};
    while (state != Start::Failed) {
        const int received = sigtimedwait(&signals, nullptr, &second);
        if (received < 0)
            state = watchDevices(engine, state, options, system, console, said);
        else if (received == SIGHUP)
            state = reload(engine, options, system, console), said = engine.routeText();
        else if (received == SIGUSR1)
            allNotesOff(engine);
        else
            break;
    }
    if (state == Start::Failed) {
        engine.closePorts();
        return 1;
    }
    engine.closePorts();
    engine.midiSystem = nullptr;
    return 0;
}
