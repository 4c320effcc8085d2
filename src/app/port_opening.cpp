#include "app/port_opening.h"

#include <memory>

#include "app/midi_ports.h"
#include "app/midi_system.h"
#include "app/settings.h"
#include "engine/engine_lock.h"
#include "engine/input_dispatch.h"
#include "engine/note_allocation.h"

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

void openInput(MessageReporter& owner)
{
    inputDevice = midiSystem ? midiSystem->openInput(settings.inputDevice, handleMidiInput) : nullptr;
    if (!inputDevice) {
        owner.showMessage(DeviceErrorTitle, InputDeviceError, MessageIcon::Stop);
        return;
    }
    midiPorts.sysexBufferReady = queueSysexBuffer(*inputDevice);
    {
        EngineLock lock(engineMutex);
        midiPorts.midiIn = inputDevice.get();
        midiPorts.inputOpen = 1;
    }
    inputDevice->start();
}

bool openOutput(MessageReporter& owner)
{
    outputDevice = midiSystem ? midiSystem->openOutput(settings.outputDevice) : nullptr;
    if (!outputDevice) {
        owner.showMessage(DeviceErrorTitle, OutputDeviceError, MessageIcon::Stop);
        return false;
    }
    EngineLock lock(engineMutex);
    midiPorts.midiOut = outputDevice.get();
    midiPorts.outputOpen = 1;
    return true;
}

}  // namespace

void openPorts(MessageReporter& owner)
{
    closePorts();
    openInput(owner);
    if (!openOutput(owner))
        return;
    EngineLock lock(engineMutex);
    prepareOutputInstrument();
}

void closePorts()
{
    if (midiPorts.inputOpen == 1 && inputDevice) {
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
    if (midiPorts.outputOpen == 1 && outputDevice) {
        {
            EngineLock lock(engineMutex);
            midiPorts.midiOut = nullptr;
            midiPorts.outputOpen = 0;
        }
        outputDevice->close();
        outputDevice.reset();
    }
}
