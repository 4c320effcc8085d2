#include "engine/port_opening.h"

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

MidiSystem* midiSystem = nullptr;

namespace {

// The devices behind the handles in midiPorts.
std::unique_ptr<MidiInputDevice> inputDevice;
std::unique_ptr<MidiOutputDevice> outputDevice;

bool queueSysexBuffer(MidiInputDevice& input)
{
    SysexBuffer& header = midiPorts.sysexHeader;
    header = SysexBuffer{midiPorts.sysexInputBuffer, SysexBufferSize, 0, 0};
    if (input.prepareBuffer(header) != 0)
        return false;
    return input.addBuffer(header) == 0;
}

// The devices remembered by name that are not there: awaited.
std::string awaitedInput;
std::string awaitedOutput;
// The MIDI service stopped answering while devices were open or awaited:
// everything is opened again once it answers.
bool serviceLost = false;
// Whether a MIDI service has answered since the start: one that never did
// has not gone away.
bool serviceAnswered = false;
// A listed device failed to open: it is tried again on every look until it
// opens or goes, without a box each time.
bool retryOpening = false;
// The names the open devices bear in the system's list: a look-alike opened
// for want of the remembered device gives way to it when it comes.
std::string openedInputName;
std::string openedOutputName;
// The awaited input was left to another Vanto that plays it; asked once,
// it is opened again only once that one has let it go.
bool inputLeftToAnother = false;
bool reopening = false;

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

// A listed device that would not open is awaited under its name and tried
// again.
void noteFailedOpening(std::string& awaited, const char* remembered, int32_t position, const std::vector<std::string>& names)
{
    awaited = awaitedNameOf(remembered, position, names);
    retryOpening = retryOpening || !awaited.empty();
}

std::optional<MidiSystem::OtherRelay> otherRelayOn(int32_t position)
{
    return midiSystem ? midiSystem->otherRelayOn(position) : std::nullopt;
}

// Another Vanto already plays the keyboard: both would sound every note.
// The player decides, once; a look at the devices never asks again.
bool leaveToAnother(MessageReporter& owner, int32_t position, const std::vector<std::string>& names)
{
    const auto other = otherRelayOn(position);
    if (!other)
        return false;
    if (reopening && inputLeftToAnother)
        return true;
    std::string into;
    for (const std::string& listener : other->listeners)
        into += (into.empty() ? " into " : ", ") + clientOf(listener);
    const std::string text = "Another Vanto (" + other->client + ") already plays " + listedName(position, names) +
                             into + ".\nConnecting this one too would sound every note twice.";
    return !owner.askQuestion("Vanto", text.c_str(), "Connect anyway", "Leave unconnected");
}

void openInput(MessageReporter& owner, const std::vector<std::string>& names)
{
    const Settings wanted = currentSettings();
    const DeviceChoice choice = chooseDevice(wanted.inputDevice, wanted.inputDeviceName, names);
    if (choice.absent) {
        awaitedInput = wanted.inputDeviceName;
        return;
    }
    inputLeftToAnother = leaveToAnother(owner, choice.position, names);
    if (inputLeftToAnother) {
        awaitedInput = awaitedNameOf(wanted.inputDeviceName, choice.position, names);
        return;
    }
    inputDevice = midiSystem ? midiSystem->openInput(choice.position, handleMidiInput) : nullptr;
    if (!inputDevice) {
        owner.showMessage(DeviceErrorTitle, InputDeviceError, MessageIcon::Stop);
        noteFailedOpening(awaitedInput, wanted.inputDeviceName, choice.position, names);
        return;
    }
    openedInputName = listedName(choice.position, names);
    midiPorts.sysexBufferReady = queueSysexBuffer(*inputDevice);
    {
        EngineLock lock(engineMutex);
        settings.inputDevice = choice.position;
        rememberName(settings.inputDeviceName, choice.position, names);
        midiPorts.midiIn = inputDevice.get();
        midiPorts.inputOpen = 1;
    }
    inputDevice->start();
}

bool openOutput(MessageReporter& owner, const std::vector<std::string>& names)
{
    // "Vanto Out" is the program's own port: no name to remember.
    const Settings wanted = currentSettings();
    const char* name = wanted.outputDevice == MidiMapperDevice ? "" : wanted.outputDeviceName;
    const DeviceChoice choice = chooseDevice(wanted.outputDevice, name, names);
    if (choice.absent) {
        awaitedOutput = wanted.outputDeviceName;
        return false;
    }
    outputDevice = midiSystem ? midiSystem->openOutput(choice.position) : nullptr;
    if (!outputDevice) {
        owner.showMessage(DeviceErrorTitle, OutputDeviceError, MessageIcon::Stop);
        noteFailedOpening(awaitedOutput, name, choice.position, names);
        return false;
    }
    openedOutputName = listedName(choice.position, names);
    EngineLock lock(engineMutex);
    settings.outputDevice = choice.position;
    rememberName(settings.outputDeviceName, choice.position, names);
    midiPorts.midiOut = outputDevice.get();
    midiPorts.outputOpen = 1;
    return true;
}

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

// An awaited input that is there, and no longer played by another Vanto
// it was left to.
bool inputIsFree(const std::vector<std::string>& names)
{
    const auto position = awaitedInput.empty() ? std::nullopt : findDeviceNamed(awaitedInput, names);
    return position && !(inputLeftToAnother && otherRelayOn(*position));
}

bool shouldReopen(const MidiSystem::DeviceLists& lists)
{
    const Settings wanted = currentSettings();
    const char* outputName = wanted.outputDevice == MidiMapperDevice ? "" : wanted.outputDeviceName;
    return serviceLost || retryOpening || inputIsFree(lists.inputs) ||
           hasReturned(awaitedOutput, lists.outputs) ||
           wantsReopening(inputDevice, wanted.inputDeviceName, openedInputName, lists.inputs) ||
           wantsReopening(outputDevice, outputName, openedOutputName, lists.outputs);
}

}  // namespace

void openPorts(MessageReporter& owner)
{
    closePorts();
    awaitedInput.clear();
    awaitedOutput.clear();
    openedInputName.clear();
    openedOutputName.clear();
    serviceLost = false;
    retryOpening = false;
    const MidiSystem::DeviceLists lists = midiSystem ? midiSystem->deviceLists() : MidiSystem::DeviceLists{};
    serviceAnswered = serviceAnswered || lists.service;
    openInput(owner, lists.inputs);
    if (!openOutput(owner, lists.outputs))
        return;
    EngineLock lock(engineMutex);
    prepareOutputInstrument();
}

bool reopenWhenDevicesReturn(MessageReporter& owner)
{
    // The change flag is taken even while retrying, so that no notice is
    // left over for a later look.
    const bool changed = midiSystem && midiSystem->devicesChanged();
    if (!midiSystem || (!changed && !retryOpening))
        return false;
    const MidiSystem::DeviceLists lists = midiSystem->deviceLists();
    if (!lists.service) {
        serviceLost = serviceLost || inputDevice || outputDevice ||
                      !awaitedInput.empty() || !awaitedOutput.empty();
        return false;
    }
    if (shouldReopen(lists)) {
        SilentReporter silent;
        reopening = true;
        openPorts(retryOpening ? silent : owner);
        reopening = false;
        return true;
    }
    const Settings wanted = currentSettings();
    noticeDeparture(wanted.inputDeviceName, inputDevice != nullptr, lists.inputs, awaitedInput);
    if (wanted.outputDevice != MidiMapperDevice)
        noticeDeparture(wanted.outputDeviceName, outputDevice != nullptr, lists.outputs, awaitedOutput);
    return false;
}

namespace {

std::string listenersText()
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

}  // namespace

std::string routeText()
{
    if (serviceLost || !awaitedInput.empty() || !awaitedOutput.empty())
        return deviceWaitText();
    const std::string from = inputDevice ? clientOf(openedInputName) : "No keyboard";
    std::string to = "No synthesizer";
    if (outputDevice && openedOutputName.empty()) {
        to = listenersText();
        if (to.empty())
            return "Vanto Out is not connected";
    } else if (outputDevice) {
        to = clientOf(openedOutputName);
    }
    return from + " \u2192 Vanto \u2192 " + to;
}

bool isRouteComplete()
{
    return !serviceLost && awaitedInput.empty() && awaitedOutput.empty() && inputDevice && outputDevice;
}

bool serviceHasGone()
{
    return serviceLost;
}

std::string deviceWaitText()
{
    std::string text = serviceLost ? (serviceAnswered ? ServiceLostText : NoServiceText) : "";
    for (const std::string* awaited : {&awaitedInput, &awaitedOutput}) {
        if (!serviceLost && !awaited->empty())
            text += (text.empty() ? "Waiting for " : " and ") + *awaited;
        if (!serviceLost && awaited == &awaitedInput && !awaited->empty() && inputLeftToAnother)
            text += " (another Vanto plays it)";
    }
    const uint64_t lost = midiSystem ? midiSystem->lostMessages() : 0;
    if (lost > 0)
        text += (text.empty() ? "" : ", ") + std::to_string(lost) + (lost == 1 ? " MIDI message lost" : " MIDI messages lost");
    return text;
}

void closePorts()
{
    if (inputDevice) {
        midiPorts.sysexBufferReady = false;
        inputDevice->reset();
        inputDevice->unprepareBuffer(midiPorts.sysexHeader);
        inputDevice->close();
        {
            EngineLock lock(engineMutex);
            midiPorts.midiIn = nullptr;
            midiPorts.inputOpen = 0;
        }
        inputDevice.reset();
    }
    if (outputDevice) {
        {
            EngineLock lock(engineMutex);
            endSoundingNotes();
            midiPorts.midiOut = nullptr;
            midiPorts.outputOpen = 0;
        }
        outputDevice->close();
        outputDevice.reset();
    }
}
