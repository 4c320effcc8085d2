#include "engine/note_allocation.h"

#include "app/settings.h"
#include "engine/output_senders.h"
#include "engine/tuning_table.h"

NoteAllocation initialNoteAllocation()
{
    NoteAllocation a{};
    a.modulationKey = NoKey;
    return a;
}

NoteAllocation noteAllocation = initialNoteAllocation();

namespace {

constexpr int NoChannel = -1;

bool isUsed(int channel)
{
    return settings.useChannel[channel] != 0;
}

int firstFreeUsedChannel(int from, int to)
{
    for (int c = from; c <= to; ++c) {
        if (isUsed(c) && noteAllocation.channelSlot[c].noteCount == 0)
            return c;
    }
    return NoChannel;
}

// Group match first; then a free channel after the last retuned one, wrapping.
int chooseChannel(uint8_t group)
{
    for (int c = 0; c < ChannelCount; ++c) {
        if (isUsed(c) && noteAllocation.channelSlot[c].group == group)
            return c;
    }
    const int last = noteAllocation.lastTunedChannel % ChannelCount;
    const int above = firstFreeUsedChannel(last + 1, ChannelCount - 1);
    return above != NoChannel ? above : firstFreeUsedChannel(0, last);
}

void moveAndForget(uint8_t key, uint8_t mode)
{
    moveCentre(key, mode, settings.shiftCentre);
    forgetChannelGroups();
}

void handleCommandKey(uint8_t key)
{
    NoteAllocation& a = noteAllocation;
    if (key == settings.commandKey)
        return;
    if (key == settings.demodulateKey) {
        a.commandState = CommandDemodulate;
    } else if (key == settings.resetPitchKey) {
        moveCentre(0, MoveReset, 0);
        forgetChannelGroups();
    } else if (key == settings.initMessageKey) {
        sendInitMessage();
    } else if (a.modulationKey == NoKey && !tuningTable.unmapped[key]) {
        a.modulationKey = key;
        moveAndForget(key, a.commandState == CommandModulate ? MoveModulate : MoveDemodulate);
    }
}

void notifyLastKey()
{
    if (noteAllocation.lastKeyListenerEnabled && noteAllocation.lastKeyListener)
        noteAllocation.lastKeyListener();
}

void soundKey(uint8_t status, uint8_t key, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    const uint8_t group = tuningTable.bendGroup[key];
    const int c = chooseChannel(group);
    if (c == NoChannel)
        return;
    ChannelSlot& slot = a.channelSlot[c];
    a.keyChannel[key] = static_cast<uint8_t>(c + 1);
    if (slot.group != group)
        a.lastTunedChannel = static_cast<uint8_t>(c);
    ++slot.noteCount;
    slot.group = group;
    a.keyOutputNote[key] = tuningTable.outputKey[key];
    sendPitchBend(static_cast<uint8_t>(c), tuningTable.bendValue[key]);
    sendToChannel(status, static_cast<uint8_t>(c), tuningTable.outputKey[key], velocity);
}

}  // namespace

void handleNoteOn(uint8_t status, uint8_t /*channel*/, uint8_t key, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    key &= 0x7F;
    a.lastKey = key;
    notifyLastKey();
    if (a.commandState != CommandIdle) {
        handleCommandKey(key);
        return;
    }
    if (a.keyChannel[key] != 0)
        return;
    if (key == settings.commandKey) {
        a.modulationKey = NoKey;
        a.commandState = CommandModulate;
        return;
    }
    if (tuningTable.unmapped[key])
        return;
    soundKey(status, key, velocity);
}

void handleNoteOff(uint8_t status, uint8_t /*channel*/, uint8_t key, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    key &= 0x7F;
    if (a.commandState != CommandIdle) {
        if (key == settings.commandKey)
            a.commandState = CommandIdle;
        else if (key == settings.demodulateKey)
            a.commandState = CommandModulate;
    }
    if (a.keyChannel[key] == 0)
        return;
    const int c = a.keyChannel[key] - 1;
    a.keyChannel[key] = 0;
    --a.channelSlot[c].noteCount;
    sendToChannel(status, static_cast<uint8_t>(c), a.keyOutputNote[key], velocity);
}

void resetChannels()
{
    NoteAllocation& a = noteAllocation;
    for (int k = 0; k < KeyCount; ++k) {
        a.keyOutputNote[k] = 0;
        a.keyChannel[k] = 0;
    }
    a.commandState = CommandIdle;
    uint8_t nextGroup = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        a.channelSlot[c].noteCount = 0;
        if (isUsed(c))
            a.channelSlot[c].group = nextGroup++;
    }
    sendToUsedChannels(0xB0, 123, 0);
}

void forgetChannelGroups()
{
    for (ChannelSlot& slot : noteAllocation.channelSlot)
        slot.group = NoKey;
}

void setLastKeyListener(LastKeyListener listener, int32_t enabled)
{
    noteAllocation.lastKeyListenerEnabled = enabled;
    noteAllocation.lastKeyListener = listener;
}

void prepareOutputInstrument()
{
    resetChannels();
    sendPitchWheelRange();
    if (settings.sendInitOnOpen == 1)
        sendInitMessage();
}
