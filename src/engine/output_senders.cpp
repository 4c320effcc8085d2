#include "engine/output_senders.h"

#include "engine/engine.h"

#include <algorithm>

#include "engine/midi_ports.h"
#include "engine/tuning_dump.h"

// Where midiPorts.keysSent keeps key on a channel.
uint64_t& Engine::keySentWord(uint8_t channel, uint8_t key)
{
    return midiPorts.keysSent[channel][key / 64];
}

namespace {

uint64_t keySentBit(uint8_t key)
{
    return uint64_t{1} << (key % 64);
}

}  // namespace

void Engine::noteKeySent(uint32_t message)
{
    const uint8_t key = (message >> 8) & 0x7F;
    if ((message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) != 0)
        keySentWord(message & 0x0F, key) |= keySentBit(key);
}

void Engine::sendWord(uint32_t message)
{
    if (!midiPorts.midiOut)
        return;
    noteKeySent(message);
    midiPorts.midiOut->sendShortMessage(message);
}

void Engine::sendToChannel(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2)
{
    sendWord(packShortMessage(kind, channel, data1, data2));
}

void Engine::sendPitchBend(uint8_t channel, int32_t value)
{
    sendToChannel(0xE0, channel, static_cast<uint8_t>(value & 0x7F), static_cast<uint8_t>((value >> 7) & 0x7F));
}

void Engine::sendToUsedChannels(uint8_t kind, uint8_t data1, uint8_t data2)
{
    const uint32_t message = packShortMessage(kind, 0, data1, data2);
    for (uint32_t c = 0; c < ChannelCount; ++c) {
        if (settings.useChannel[c])
            sendWord(message + c);
    }
}

void Engine::sendToWideChannels(uint8_t kind, uint8_t data1, uint8_t data2)
{
    switch (settings.outputMode) {
    case OutputMpe:
        sendToChannel(kind, MpeManagerChannel, data1, data2);
        break;
    case OutputMidiTuning:
        sendToChannel(kind, tuningChannel(), data1, data2);
        break;
    default:
        sendToUsedChannels(kind, data1, data2);
        break;
    }
}

// MPE's notes sound on the members besides the manager; the other modes'
// where their channel-wide messages go.
void Engine::sendToNoteChannels(uint8_t kind, uint8_t data1, uint8_t data2)
{
    if (settings.outputMode != OutputMpe) {
        sendToWideChannels(kind, data1, data2);
        return;
    }
    if (!settings.useChannel[MpeManagerChannel])
        sendToChannel(kind, MpeManagerChannel, data1, data2);
    sendToUsedChannels(kind, data1, data2);
}

void Engine::sendController(uint8_t controller, uint8_t value)
{
    sendToWideChannels(0xB0, controller, value);
}

void Engine::sendInitEvent(const InitEvent& event)
{
    if (event.status >= 0xF0)
        sendToChannel(event.status, 0, event.param1, event.param2);
    else if (event.channel <= 15)
        sendToChannel(event.status, event.channel, event.param1, event.param2);
    else
        sendToWideChannels(event.status, event.param1, event.param2);
}

void Engine::sendInitMessage()
{
    const int count = std::clamp(settings.initEventCount, 0, MaxInitEvents);
    for (int i = 0; i < count; ++i)
        sendInitEvent(settings.initMessage[i]);
}

void Engine::sendPitchWheelRange()
{
    sendController(101, 0);
    sendController(100, 0);
    sendController(6, settings.pitchWheelRange);
    sendController(38, 0);
    // The null parameter: a data entry the keyboard sends later must not
    // change the range.
    sendController(101, 127);
    sendController(100, 127);
}

void Engine::sendRegisteredParameter(uint8_t channel, uint8_t number, uint8_t value)
{
    sendToChannel(0xB0, channel, 101, 0);
    sendToChannel(0xB0, channel, 100, number);
    sendToChannel(0xB0, channel, 6, value);
    sendToChannel(0xB0, channel, 38, 0);
    sendToChannel(0xB0, channel, 101, 127);
    sendToChannel(0xB0, channel, 100, 127);
}

void Engine::sendModeOpening()
{
    switch (settings.outputMode) {
    case OutputMpe:
        sendMpeOpening();
        break;
    case OutputMidiTuning:
        sendTuningSelection();
        break;
    default:
        sendPitchWheelRange();
        break;
    }
}

void Engine::sendTuningDump()
{
    uint8_t dump[TuningDumpSize];
    encodeTuningDumpInForce(dump);
    if (midiPorts.midiOut)
        midiPorts.midiOut->sendLongMessage(dump, sizeof dump);
}

void Engine::greetNewListener()
{
    sendModeOpening();
    if (settings.sendInitOnOpen == 1)
        sendInitMessage();
}

void Engine::sendPanic()
{
    for (uint8_t c = 0; c < ChannelCount; ++c) {
        sendToChannel(0xB0, c, 64, 0);
        sendToChannel(0xB0, c, 120, 0);
        sendToChannel(0xB0, c, 123, 0);
        for (uint8_t key = 0; key < 128; ++key) {
            if (keySentWord(c, key) & keySentBit(key))
                sendToChannel(0x80, c, key, 0);
        }
        midiPorts.keysSent[c][0] = midiPorts.keysSent[c][1] = 0;
    }
}
