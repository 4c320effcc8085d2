// vanto-relay: the retuning relay without a window, for a rack or a board
// without a screen. It opens the devices as vanto does, relays until SIGTERM
// or SIGINT, and reloads everything on SIGHUP.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include "app/config_file.h"
#include "app/midi_ports.h"
#include "app/port_opening.h"
#include "app/settings.h"
#include "app/startup.h"
#include "engine/engine_lock.h"
#include "engine/note_allocation.h"
#include "engine/tuning_table.h"
#include "platform/rtmidi_system.h"
#include "relay/relay_options.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale_loading.h"

namespace {

// Each box the window would show, as one line on standard error.
class ConsoleReporter : public MessageReporter {
public:
    void showMessage(const char* title, const char* text, MessageIcon) override
    {
        std::string line = text;
        for (char& c : line)
            c = c == '\n' ? ' ' : c;
        std::fprintf(stderr, "%s: %s\n", title, line.c_str());
    }
};

// Puts --in and --out into the settings; false, said on standard error,
// when a device asked for is not there.
bool chooseDevices(const RelayOptions& options, const MidiSystem::DeviceLists& lists)
{
    if (options.input) {
        const auto device = findInputDevice(*options.input, lists.inputs);
        if (!device) {
            std::fprintf(stderr, "vanto-relay: no input device \"%s\" (see vanto-relay --list)\n", options.input->c_str());
            return false;
        }
        settings.inputDevice = *device;
    }
    if (options.output) {
        const auto device = findOutputDevice(*options.output, lists.outputs);
        if (!device) {
            std::fprintf(stderr, "vanto-relay: no output device \"%s\" (see vanto-relay --list)\n", options.output->c_str());
            return false;
        }
        settings.outputDevice = *device;
    }
    return true;
}

std::string deviceName(int32_t device, const std::vector<std::string>& names)
{
    if (device == MidiMapperDevice)
        return OutputPortName;
    return device >= 0 && static_cast<size_t>(device) < names.size() ? names[static_cast<size_t>(device)] : "(none)";
}

void retuneWithMapping(const std::string& path, ConsoleReporter& console)
{
    const std::string error = loadKeyboardMapping(path.c_str());
    if (!error.empty()) {
        console.showMessage(MappingErrorTitle, error.c_str(), MessageIcon::Warning);
        return;
    }
    EngineLock lock(engineMutex);
    buildTuningTable();
    resetChannels();
}

// Reads the configuration, the devices asked for, the scale and the mapping,
// and opens the devices as vanto does. False when a device is not open.
bool start(const RelayOptions& options, MidiSystem& system, ConsoleReporter& console)
{
    {
        EngineLock lock(engineMutex);
        settings = defaultSettings();
        clearKeyboardMapping();
    }
    std::string problem;
    if (loadConfig(options.configPath.c_str(), &problem) == -2)
        std::fprintf(stderr, "vanto-relay: \"%s\" was ignored: %s\n", options.configPath.c_str(), problem.c_str());
    const MidiSystem::DeviceLists lists = system.deviceLists();
    if (!chooseDevices(options, lists))
        return false;
    {
        EngineLock lock(engineMutex);
        buildInstrumentFrequencies();
    }
    scaleArgument = options.scalePath;
    initialiseSystem(console);
    if (!options.mappingPath.empty())
        retuneWithMapping(options.mappingPath, console);
    std::string status;
    {
        EngineLock lock(engineMutex);
        status = tuningStatusText();
    }
    std::printf("vanto-relay: %s -> %s, scale %s\n", deviceName(settings.inputDevice, lists.inputs).c_str(),
                deviceName(settings.outputDevice, lists.outputs).c_str(), status.c_str());
    std::fflush(stdout);
    return midiPorts.inputOpen == 1 && midiPorts.outputOpen == 1;
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
    const sigset_t signals = answeredSignals();
    RtMidiSystem system;
    midiSystem = &system;
    if (options.list) {
        const MidiSystem::DeviceLists lists = system.deviceLists();
        std::fputs(deviceListing(lists.inputs, lists.outputs).c_str(), stdout);
        return 0;
    }
    ConsoleReporter console;
    if (!start(options, system, console)) {
        closePorts();
        return 1;
    }
    for (;;) {
        int received = 0;
        sigwait(&signals, &received);
        if (received != SIGHUP)
            break;
        start(options, system, console);
    }
    closePorts();
    midiSystem = nullptr;
    return 0;
}
