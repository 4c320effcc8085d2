#include "engine/port_opening.h"

#include "engine/engine.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "engine/device_names.h"
#include "engine/engine_lock.h"
#include "engine/input_dispatch.h"
#include "engine/midi_ports.h"
#include "engine/midi_system.h"
#include "engine/note_allocation.h"
#include "engine/settings.h"

bool Engine::queueSysexBuffer(MidiInputDevice& input)
{
    SysexBuffer& header = sysexInput.header;
    header = SysexBuffer{sysexInput.buffer, SysexBufferSize, 0, 0};
    if (input.prepareBuffer(header) != 0)
        return false;
    return input.addBuffer(header) == 0;
}

namespace {

class SilentReporter : public MessageReporter {
public:
    void showMessage(const char*, const char*, MessageIcon) override {}
};

struct DeviceChoice {
    int32_t position;
    bool absent;
};

// Where the remembered device stands now: by name where one is remembered,
// else by position.
DeviceChoice chooseDevice(int32_t position, const char* name, const std::vector<std::string>& names)
{
    if (name[0] == '\0')
        return {position, false};
    if (const auto found = findDeviceNamed(name, names))
        return {*found, false};
    return {position, true};
}

void rememberName(char (&stored)[MaxDeviceNameLength + 1], int32_t position, const std::vector<std::string>& names)
{
    if (stored[0] == '\0')
        copyDeviceName(stored, position, names);
}

std::string listedName(int32_t position, const std::vector<std::string>& names)
{
    const std::string* name = deviceNameAt(position, names);
    return name ? *name : "";
}

// "fluidsynth" of "fluidsynth:midi_00": the client, as a patchbay shows it.
std::string clientOf(const std::string& port)
{
    return port.substr(0, port.find(':'));
}

// The name a listed device is awaited under: the remembered one, else the
// one it bears in the list.
std::string awaitedNameOf(const char* remembered, int32_t position, const std::vector<std::string>& names)
{
    return remembered[0] != '\0' ? remembered : listedName(position, names);
}

}  // namespace

// A listed device that would not open is awaited under its name and tried
// again.
void Engine::noteFailedOpening(std::string& awaited, const char* remembered, int32_t position,
                               const std::vector<std::string>& names)
{
    awaited = awaitedNameOf(remembered, position, names);
    opening.retryOpening = opening.retryOpening || !awaited.empty();
}

std::optional<MidiSystem::OtherRelay> Engine::otherRelayOn(int32_t position) const
{
    return midiSystem ? midiSystem->otherRelayOn(position) : std::nullopt;
}

// Another Vanto already plays the keyboard: both would sound every note.
// The player decides, once; a look at the devices never asks again.
bool Engine::leaveToAnother(MessageReporter& owner, int32_t position, const std::vector<std::string>& names)
{
    const auto other = otherRelayOn(position);
    if (!other)
        return false;
    if (opening.reopening && opening.inputLeftToAnother)
        return true;
    std::string into;
    for (const std::string& listener : other->listeners)
        into += (into.empty() ? " into " : ", ") + clientOf(listener);
    const std::string text = "Another Vanto (" + other->client + ") already plays " + listedName(position, names) +
                             into + ".\nConnecting this one too would sound every note twice.";
    return !owner.askQuestion("Vanto", text.c_str(), "Connect anyway", "Leave unconnected");
}

void Engine::openInput(MessageReporter& owner, const std::vector<std::string>& names)
{
    const Settings wanted = currentSettings();
    const DeviceChoice choice = chooseDevice(wanted.inputDevice, wanted.inputDeviceName, names);
    if (choice.absent) {
        opening.awaitedInput = wanted.inputDeviceName;
        return;
    }
    opening.inputLeftToAnother = leaveToAnother(owner, choice.position, names);
    if (opening.inputLeftToAnother) {
        opening.awaitedInput = awaitedNameOf(wanted.inputDeviceName, choice.position, names);
        return;
    }
    opening.inputDevice = midiSystem ? midiSystem->openInput(choice.position, *this) : nullptr;
    if (!opening.inputDevice) {
        owner.showMessage(DeviceErrorTitle, InputDeviceError, MessageIcon::Stop);
        noteFailedOpening(opening.awaitedInput, wanted.inputDeviceName, choice.position, names);
        return;
    }
    opening.openedInputName = listedName(choice.position, names);
    sysexInput.bufferReady = queueSysexBuffer(*opening.inputDevice);
    {
        EngineLock lock(engineMutex);
        settings.inputDevice = choice.position;
        rememberName(settings.inputDeviceName, choice.position, names);
        midiPorts.midiIn = opening.inputDevice.get();
        midiPorts.inputOpen = 1;
    }
    opening.inputDevice->start();
}

bool Engine::openOutput(MessageReporter& owner, const std::vector<std::string>& names)
{
    // "Vanto Out" is the program's own port: no name to remember.
    const Settings wanted = currentSettings();
    const char* name = wanted.outputDevice == MidiMapperDevice ? "" : wanted.outputDeviceName;
    const DeviceChoice choice = chooseDevice(wanted.outputDevice, name, names);
    if (choice.absent) {
        opening.awaitedOutput = wanted.outputDeviceName;
        return false;
    }
    opening.outputDevice = midiSystem ? midiSystem->openOutput(choice.position) : nullptr;
    if (!opening.outputDevice) {
        owner.showMessage(DeviceErrorTitle, OutputDeviceError, MessageIcon::Stop);
        noteFailedOpening(opening.awaitedOutput, name, choice.position, names);
        return false;
    }
    opening.openedOutputName = listedName(choice.position, names);
    EngineLock lock(engineMutex);
    settings.outputDevice = choice.position;
    rememberName(settings.outputDeviceName, choice.position, names);
    midiPorts.midiOut = opening.outputDevice.get();
    midiPorts.outputOpen = 1;
    return true;
}

namespace {

// A remembered device that is open but gone from the list is awaited again.
void noticeDeparture(const char* name, bool open, const std::vector<std::string>& names, std::string& awaited)
{
    if (open && name[0] != '\0' && awaited.empty() && !findDeviceNamed(name, names))
        awaited = name;
}

bool hasReturned(const std::string& awaited, const std::vector<std::string>& names)
{
    return !awaited.empty() && findDeviceNamed(awaited, names).has_value();
}

// An open device whose connection died while it stayed listed (a restart
// or a replug between two looks), or a look-alike whose original is back.
// "Vanto Out" left to the user (no name at all) is always there.
template <typename Device>
bool wantsReopening(const Device& device, const char* remembered, const std::string& opened,
                    const std::vector<std::string>& names)
{
    const std::string wanted = remembered[0] != '\0' ? remembered : opened;
    if (!device || (!wanted.empty() && !findDeviceNamed(wanted, names)))
        return false;
    const bool originalBack = remembered[0] != '\0' && opened != remembered &&
                              std::find(names.begin(), names.end(), remembered) != names.end();
    return !device->alive() || originalBack;
}

}  // namespace

// An awaited input that is there, and no longer played by another Vanto
// it was left to.
bool Engine::inputIsFree(const std::vector<std::string>& names) const
{
    const auto position = opening.awaitedInput.empty() ? std::nullopt : findDeviceNamed(opening.awaitedInput, names);
    return position && !(opening.inputLeftToAnother && otherRelayOn(*position));
}

bool Engine::shouldReopen(const MidiSystem::DeviceLists& lists) const
{
    const Settings wanted = currentSettings();
    const char* outputName = wanted.outputDevice == MidiMapperDevice ? "" : wanted.outputDeviceName;
    return opening.serviceLost || opening.retryOpening || inputIsFree(lists.inputs) ||
           hasReturned(opening.awaitedOutput, lists.outputs) ||
           wantsReopening(opening.inputDevice, wanted.inputDeviceName, opening.openedInputName, lists.inputs) ||
           wantsReopening(opening.outputDevice, outputName, opening.openedOutputName, lists.outputs);
}

void Engine::openPorts(MessageReporter& owner)
{
    closePorts();
    opening.awaitedInput.clear();
    opening.awaitedOutput.clear();
    opening.openedInputName.clear();
    opening.openedOutputName.clear();
    opening.serviceLost = false;
    opening.retryOpening = false;
    const MidiSystem::DeviceLists lists = midiSystem ? midiSystem->deviceLists() : MidiSystem::DeviceLists{};
    opening.serviceAnswered = opening.serviceAnswered || lists.service;
    openInput(owner, lists.inputs);
    if (!openOutput(owner, lists.outputs))
        return;
    EngineLock lock(engineMutex);
    prepareOutputInstrument();
}

bool Engine::reopenWhenDevicesReturn(MessageReporter& owner)
{
    // The change flag is taken even while retrying, so that no notice is
    // left over for a later look.
    const bool changed = midiSystem && midiSystem->devicesChanged();
    if (!midiSystem || (!changed && !opening.retryOpening))
        return false;
    const MidiSystem::DeviceLists lists = midiSystem->deviceLists();
    if (!lists.service) {
        opening.serviceLost = opening.serviceLost || opening.inputDevice || opening.outputDevice ||
                      !opening.awaitedInput.empty() || !opening.awaitedOutput.empty();
        return false;
    }
    if (shouldReopen(lists)) {
        SilentReporter silent;
        opening.reopening = true;
        openPorts(opening.retryOpening ? silent : owner);
        opening.reopening = false;
        return true;
    }
    const Settings wanted = currentSettings();
    noticeDeparture(wanted.inputDeviceName, opening.inputDevice != nullptr, lists.inputs, opening.awaitedInput);
    if (wanted.outputDevice != MidiMapperDevice)
        noticeDeparture(wanted.outputDeviceName, opening.outputDevice != nullptr, lists.outputs, opening.awaitedOutput);
    return false;
}

std::string Engine::listenersText() const
{
    const auto listeners = midiSystem ? midiSystem->ownOutputListeners() : std::nullopt;
    if (!listeners)
        return "Vanto Out";
    std::string text;
    for (const std::string& port : *listeners) {
        const std::string client = clientOf(port);
        if (text.find(client) == std::string::npos)
            text += (text.empty() ? "" : ", ") + client;
    }
    return text;
}

std::string Engine::routeText() const
{
    if (opening.serviceLost || !opening.awaitedInput.empty() || !opening.awaitedOutput.empty())
        return deviceWaitText();
    const std::string from = opening.inputDevice ? clientOf(opening.openedInputName) : "No keyboard";
    std::string to = "No synthesizer";
    if (opening.outputDevice && opening.openedOutputName.empty()) {
        to = listenersText();
        if (to.empty())
            return "Vanto Out is not connected";
    } else if (opening.outputDevice) {
        to = clientOf(opening.openedOutputName);
    }
    return from + " \u2192 Vanto \u2192 " + to;
}

bool Engine::isRouteComplete() const
{
    return !opening.serviceLost && opening.awaitedInput.empty() && opening.awaitedOutput.empty() &&
           opening.inputDevice && opening.outputDevice;
}

bool Engine::serviceHasGone() const
{
    return opening.serviceLost;
}

std::string Engine::deviceWaitText() const
{
    std::string text = opening.serviceLost ? (opening.serviceAnswered ? ServiceLostText : NoServiceText) : "";
    for (const std::string* awaited : {&opening.awaitedInput, &opening.awaitedOutput}) {
        if (!opening.serviceLost && !awaited->empty())
            text += (text.empty() ? "Waiting for " : " and ") + *awaited;
        if (!opening.serviceLost && awaited == &opening.awaitedInput && !awaited->empty() && opening.inputLeftToAnother)
            text += " (another Vanto plays it)";
    }
    const uint64_t lost = midiSystem ? midiSystem->lostMessages() : 0;
    if (lost > 0)
        text += (text.empty() ? "" : ", ") + std::to_string(lost) + (lost == 1 ? " MIDI message lost" : " MIDI messages lost");
    return text;
}

void Engine::closePorts()
{
    if (opening.inputDevice) {
        sysexInput.bufferReady = false;
        opening.inputDevice->reset();
        opening.inputDevice->unprepareBuffer(sysexInput.header);
        opening.inputDevice->close();
        {
            EngineLock lock(engineMutex);
            midiPorts.midiIn = nullptr;
            midiPorts.inputOpen = 0;
        }
        opening.inputDevice.reset();
    }
    if (opening.outputDevice) {
        {
            EngineLock lock(engineMutex);
            endSoundingNotes();
            midiPorts.midiOut = nullptr;
            midiPorts.outputOpen = 0;
        }
        opening.outputDevice->close();
        opening.outputDevice.reset();
    }
}
