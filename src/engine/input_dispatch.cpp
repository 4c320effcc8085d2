#include "engine/input_dispatch.h"

#include "engine/engine.h"

#include <algorithm>

#include "engine/engine_lock.h"
#include "engine/midi_ports.h"
#include "engine/note_allocation.h"
#include "engine/output_senders.h"
#include "engine/settings.h"

namespace {

// Which relay switch lets a system status through; -1 = never relayed.
int systemRelaySwitch(uint8_t status)
{
    switch (status) {
    case 0xF0:
    case 0xF7:
        return RelaySystemExclusive;
    case 0xF1:
    case 0xF2:
    case 0xF3:
    case 0xF8:
    case 0xF9:
    case 0xFA:
    case 0xFB:
    case 0xFC:
        return RelaySequencing;
    case 0xF6:
        return RelayTuneRequest;
    case 0xFE:
        return RelayActiveSense;
    case 0xFF:
        return RelayReset;
    default:
        return -1;
    }
}

}  // namespace

void Engine::relayToUsedChannels(int relaySwitch, uint8_t kind, uint8_t data1, uint8_t data2)
{
    if (settings.relay[relaySwitch])
        sendToWideChannels(kind, data1, data2);
}

void Engine::dispatchShortMessage(uint32_t message)
{
    const uint8_t status = message & 0xFF;
    const uint8_t kind = status & 0xF0;
    const uint8_t channel = status & 0x0F;
    const uint8_t data1 = (message >> 8) & 0xFF;
    const uint8_t data2 = (message >> 16) & 0xFF;
    if (kind == 0xB0)
        readConfigurationMessage(channel, data1, data2);
    if (settings.mpeController) {
        if (kind != 0xF0 && takeZoneMessage(kind, channel, data1, data2))
            return;
    } else if (kind != 0xF0 && settings.inputChannel != AllChannels && channel != settings.inputChannel) {
        return;
    }
    switch (kind) {
    case 0x80:
        handleNoteOff(0x80, channel, data1, data2);
        break;
    case 0x90:
        if (data2 != 0)
            handleNoteOn(0x90, channel, data1, data2);
        else
            handleNoteOff(0x90, channel, data1, 0);
        break;
    case 0xA0:
        if (settings.relay[RelayAftertouch])
            handlePolyPressure(channel, data1, data2);
        break;
    case 0xB0:
        relayToUsedChannels(RelayControl, kind, data1, data2);
        if (settings.relay[RelayControl])
            handlePedal(data1, data2);
        break;
    case 0xC0:
        relayToUsedChannels(RelayProgramChange, kind, data1, data2);
        break;
    case 0xD0:
        relayToUsedChannels(RelayChannelPressure, kind, data1, data2);
        break;
    case 0xF0: {
        const int relaySwitch = systemRelaySwitch(status);
        if (relaySwitch >= 0 && settings.relay[relaySwitch])
            sendToChannel(0xF0, channel, data1, data2);
        break;
    }
    case 0xE0:
        if (settings.pitchWheelUse == PitchWheelBendNotes)
            handlePitchWheel(static_cast<int32_t>(data1 | data2 << 7));
        break;
    default:  // no status byte
        break;
    }
}

// Sends the recorded bytes of received to output, then hands the buffer
// back to port while the buffer is still wanted.
void Engine::relaySystemExclusive(MidiInput* port, SysexBuffer* received, MidiOutput* output)
{
    const uint32_t count = std::min(received->bytesRecorded, received->bufferLength);
    if (output && received->data && count > 0)
        output->sendLongMessage(received->data, count);
    if (sysexInput.bufferReady.load() && port)
        port->addBuffer(*received);
}

// Handles one message under the engine lock. A System Exclusive buffer to
// relay is left in sysex, with the output to relay it to: relaying waits on
// the device, which must happen without the lock.
MidiOutput* Engine::handleLocked(uint32_t code, uintptr_t param1, SysexBuffer*& sysex)
{
    if (code == MimData) {
        dispatchShortMessage(static_cast<uint32_t>(param1));
        viewStale.store(true, std::memory_order_relaxed);
    } else if (code == MimError) {
        ++noteAllocation.malformedInput;
    } else if (code == MimLongData && settings.relay[RelaySystemExclusive] != 0) {
        sysex = reinterpret_cast<SysexBuffer*>(param1);
    }
    // The output stays open while the input runs: ports close input first.
    return midiPorts.midiOut;
}

MidiOutput* Engine::handleUnderTheCallersLock(uint32_t code, uintptr_t param1, SysexBuffer*& sysex)
{
    engineMutex.assumeHeld();
    return handleLocked(code, param1, sysex);
}

void Engine::handleMidiInput(MidiInput* port, uint32_t code, uintptr_t instance, uintptr_t param1, uintptr_t /*param2*/)
{
    SysexBuffer* sysex = nullptr;
    MidiOutput* output = nullptr;
    if (instance & MimEngineLocked) {
        output = handleUnderTheCallersLock(code, param1, sysex);
    } else {
        EngineLock lock(engineMutex);
        output = handleLocked(code, param1, sysex);
    }
    if (sysex)
        relaySystemExclusive(port, sysex, output);
}
