#include "engine/note_allocation.h"

#include "engine/engine.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <utility>

#include "engine/channel_rotation.h"
#include "engine/output_senders.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"

NoteAllocation initialNoteAllocation()
{
    NoteAllocation a{};
    a.modulationKey = NoKey;
    for (ChannelSlot& slot : a.channelSlot)
        slot.bend = -1;
    return a;
}

uint32_t steadyMilliseconds()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t sinceChannelRelease(const ChannelSlot& slot, uint32_t now)
{
    return now - slot.releasedAt;
}

bool isSounding(const ChannelSlot& slot)
{
    return slot.noteCount != 0 || slot.sustainedCount != 0 || slot.sostenutoCount != 0;
}

namespace {

// A release this long ago protects no tail, whatever the release time.
constexpr uint32_t LongAgo = 0x80000000u;

}  // namespace

bool Engine::isUsed(int channel) const
{
    return settings.useChannel[channel] != 0;
}

bool Engine::isFree(int channel) const
{
    return !isSounding(noteAllocation.channelSlot[channel]);
}

bool Engine::holdsNoKey(int channel) const
{
    return noteAllocation.channelSlot[channel].noteCount == 0;
}

uint32_t Engine::sinceRelease(int channel, uint32_t now) const
{
    return sinceChannelRelease(noteAllocation.channelSlot[channel], now);
}

// A release tail may still sound on it. Without a release time the clock is
// not read at all.
template <typename Clock>
bool Engine::isRecentlyReleased(int channel, Clock& now) const
{
    return settings.releaseTime > 0 && sinceRelease(channel, now()) < static_cast<uint32_t>(settings.releaseTime);
}

namespace {

// The engine clock, read once and only when first asked for.
class ClockOnce {
public:
    explicit ClockOnce(EngineClock clock) : clock_(clock) {}
    uint32_t operator()()
    {
        if (!read_) {
            now_ = clock_();
            read_ = true;
        }
        return now_;
    }

private:
    EngineClock clock_;
    uint32_t now_ = 0;
    bool read_ = false;
};

}  // namespace


void Engine::sendPedalAgain(uint8_t channel, uint8_t controller, uint8_t value)
{
    sendToChannel(0xB0, channel, controller, 0);
    if (value != 0)
        sendToChannel(0xB0, channel, controller, value);
}

// Ends what the pedals hold on a channel before it is retuned, so that only
// a release tail, never a note at full level, hears the new bend.
void Engine::endPedalHold(int channel)
{
    ChannelSlot& slot = noteAllocation.channelSlot[channel];
    const auto c = static_cast<uint8_t>(channel);
    // A released key the sostenuto pedal caught is held by a sustain pedal
    // that is down as well.
    if (slot.sustainedCount != 0 || (slot.sostenutoCount != 0 && noteAllocation.sustainValue != 0))
        sendPedalAgain(c, SustainController, noteAllocation.sustainValue);
    if (slot.sostenutoCount != 0)
        sendPedalAgain(c, SostenutoController, noteAllocation.sostenutoValue);
    dropPedalHold(channel);
}

void Engine::dropPedalHold(int channel)
{
    NoteAllocation& a = noteAllocation;
    a.channelSlot[channel].sustainedCount = 0;
    a.channelSlot[channel].sostenutoCount = 0;
    for (int note = 0; note < NoteIdCount; ++note) {
        if (a.keyHeldChannel[note] == channel + 1)
            a.keyPedalHeld[note] = 0;
    }
}

void Engine::passPedalHold(uint8_t from, uint8_t to)
{
    for (uint8_t& held : noteAllocation.keyPedalHeld) {
        if (held == from)
            held = to;
    }
}

// Group match first, when notes may share; then a free channel after the last retuned one,
// wrapping, sparing recently released ones; then the free channel released
// longest ago; then the pedal-held channel released longest ago.
int Engine::chooseChannel(uint16_t group, bool shareGroup)
{
    for (int c = 0; shareGroup && c < ChannelCount; ++c) {
        if (isUsed(c) && noteAllocation.channelSlot[c].group == group)
            return c;
    }
    ClockOnce now(engineClock);
    int c = firstInRotation([this, &now](int k) NEEDS_ENGINE_LOCK { return isFree(k) && !isRecentlyReleased(k, now); });
    if (c == NoChannel)
        c = longestReleased([this](int k) NEEDS_ENGINE_LOCK { return isFree(k); }, now());
    if (c == NoChannel) {
        c = longestReleased([this](int k) NEEDS_ENGINE_LOCK { return holdsNoKey(k); }, now());
        if (c != NoChannel)
            endPedalHold(c);
    }
    return c;
}

namespace {

void countUpTo255(uint8_t& count, int more = 1)
{
    count = static_cast<uint8_t>(std::min(count + more, 255));
}

}  // namespace

// A pedal let go: the channels it alone held start their release tails now.
void Engine::releasePedal(uint8_t ChannelSlot::*held, uint8_t ChannelSlot::*handOverTo)
{
    const uint32_t now = engineClock();
    for (ChannelSlot* slots : {noteAllocation.channelSlot, noteAllocation.keySlot}) {
        const int count = slots == noteAllocation.channelSlot ? ChannelCount : KeyCount;
        for (ChannelSlot& slot : std::span(slots, static_cast<size_t>(count))) {
            if (slot.*held == 0)
                continue;
            if (handOverTo)
                countUpTo255(slot.*handOverTo, slot.*held);
            slot.*held = 0;
            if (!isSounding(slot))
                slot.releasedAt = now;
        }
    }
}

void Engine::moveAndForget(int index, uint8_t mode)
{
    moveCentre(index, mode, settings.shiftCentre);
    forgetChannelGroups();
}

// Commands are told by the key number, whatever the channel; a modulation
// moves to the index of the key played.
void Engine::handleCommandKey(uint8_t key, int index)
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
    } else if (a.modulationKey == NoKey && !tuningTable.unmapped[index]) {
        a.modulationKey = key;
        moveAndForget(index, a.commandState == CommandModulate ? MoveModulate : MoveDemodulate);
    }
}

void Engine::notifyLastKey()
{
    if (noteAllocation.lastKeyListenerEnabled && noteAllocation.lastKeyListener)
        noteAllocation.lastKeyListener(noteAllocation.lastChannel, noteAllocation.lastKey, noteAllocation.lastIndex);
}

void Engine::soundKey(uint8_t status, NoteId note, uint8_t velocity)
{
    switch (settings.outputMode) {
    case OutputMpe:
        soundKeyOnMember(status, note, velocity);
        break;
    case OutputMidiTuning:
        soundRetunedKey(status, note, velocity);
        break;
    default:
        soundKeyWithBend(status, note, velocity);
        break;
    }
}

ChannelSlot& Engine::slotHolding(NoteId note)
{
    NoteAllocation& a = noteAllocation;
    if (settings.outputMode == OutputMidiTuning)
        return a.keySlot[a.keyOutputNote[note]];
    return a.channelSlot[a.keyChannel[note] - 1];
}

// An MPE controller's note takes a channel of its own, so that its own bend
// can be added to its tuning.
void Engine::soundKeyWithBend(uint8_t status, NoteId note, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    const int key = indexOfNote(note);
    const uint16_t group = tuningTable.bendGroup[key];
    const int c = chooseChannel(group, settings.mpeController == 0);
    if (c == NoChannel) {
        ++a.droppedNotes;
        return;
    }
    ChannelSlot& slot = a.channelSlot[c];
    a.keyChannel[note] = static_cast<uint8_t>(c + 1);
    if (slot.group != group)
        a.lastTunedChannel = static_cast<uint8_t>(c);
    ++slot.noteCount;
    slot.group = group;
    a.keyOutputNote[note] = tuningTable.outputKey[key];
    slot.bend = tuningTable.bendValue[key];
    slot.noteBend = startingBend(note);
    sendPitchBend(static_cast<uint8_t>(c), bendWithPlayer(slot.bend, slot.noteBend));
    sendStartingExpression(note, static_cast<uint8_t>(c));
    sendToChannel(status, static_cast<uint8_t>(c), tuningTable.outputKey[key], velocity);
}

void Engine::handleNoteOn(uint8_t status, uint8_t channel, uint8_t key, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    key &= 0x7F;
    const NoteId note = noteIdOf(channel, key);
    const int index = indexOf(channel, key);
    a.lastKey = key;
    a.lastChannel = channel & 0x0F;
    a.lastIndex = static_cast<uint16_t>(index);
    ++a.keyPresses;
    notifyLastKey();
    if (a.commandState != CommandIdle) {
        handleCommandKey(key, index);
        return;
    }
    if (a.keyChannel[note] != 0)
        return;
    if (key == settings.commandKey) {
        a.modulationKey = NoKey;
        a.commandState = CommandModulate;
        return;
    }
    if (tuningTable.unmapped[index])
        return;
    soundKey(status, note, velocity);
}

void Engine::handleNoteOff(uint8_t status, uint8_t channel, uint8_t key, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    key &= 0x7F;
    const NoteId note = noteIdOf(channel, key);
    if (a.commandState != CommandIdle) {
        if (key == settings.commandKey)
            a.commandState = CommandIdle;
        else if (key == settings.demodulateKey)
            a.commandState = CommandModulate;
    }
    if (a.keyChannel[note] == 0)
        return;
    const int c = a.keyChannel[note] - 1;
    ChannelSlot& slot = slotHolding(note);
    a.keyChannel[note] = 0;
    --slot.noteCount;
    if (a.keyCaught[note] && a.sostenutoValue) {
        countUpTo255(slot.sostenutoCount);
        a.keyPedalHeld[note] = PedalSostenuto;
    } else if (a.sustainValue) {
        countUpTo255(slot.sustainedCount);
        a.keyPedalHeld[note] = PedalSustain;
    }
    a.keyHeldChannel[note] = static_cast<uint8_t>(c + 1);
    a.keyCaught[note] = 0;
    slot.releasedAt = engineClock();
    sendToChannel(status, static_cast<uint8_t>(c), a.keyOutputNote[note], velocity);
}

void Engine::resetChannels()
{
    NoteAllocation& a = noteAllocation;
    viewStale.store(true, std::memory_order_relaxed);
    for (int k = 0; k < NoteIdCount; ++k) {
        a.keyOutputNote[k] = 0;
        a.keyChannel[k] = 0;
    }
    a.commandState = CommandIdle;
    a.droppedNotes = 0;
    a.stolenNotes = 0;
    a.clampedBends = 0;
    for (uint8_t& caught : a.keyCaught)
        caught = 0;
    std::fill(std::begin(a.keyPedalHeld), std::end(a.keyPedalHeld), 0);
    const uint32_t longAgo = engineClock() - LongAgo;
    uint8_t nextGroup = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        ChannelSlot& slot = a.channelSlot[c];
        slot.noteCount = 0;
        slot.sustainedCount = 0;
        slot.sostenutoCount = 0;
        slot.releasedAt = longAgo;
        slot.bend = -1;
        if (isUsed(c))
            slot.group = nextGroup++;
    }
    for (ChannelSlot& slot : a.keySlot) {
        slot = ChannelSlot{};
        slot.releasedAt = longAgo;
        slot.bend = -1;
    }
    sendToNoteChannels(0xB0, 123, 0);
    // All Notes Off leaves what a pedal holds sounding: a pedal that is down
    // is lifted and pressed again, so that those fall silent too and the
    // pedal holds what is played next.
    for (const auto& [controller, value] : {std::pair{SustainController, a.sustainValue},
                                            std::pair{SostenutoController, a.sostenutoValue}}) {
        if (value != 0) {
            sendToWideChannels(0xB0, controller, 0);
            sendToWideChannels(0xB0, controller, value);
        }
    }
}

// The notes are gone from the instrument: none is held on any channel. The
// player's pedals stay as they are.
void Engine::forgetSoundingNotes()
{
    NoteAllocation& a = noteAllocation;
    viewStale.store(true, std::memory_order_relaxed);
    for (int k = 0; k < NoteIdCount; ++k) {
        a.keyChannel[k] = 0;
        a.keyCaught[k] = 0;
        a.keyPedalHeld[k] = 0;
    }
    for (ChannelSlot& slot : a.channelSlot) {
        slot.noteCount = 0;
        slot.sustainedCount = 0;
        slot.sostenutoCount = 0;
    }
    for (ChannelSlot& slot : a.keySlot)
        slot = ChannelSlot{};
}

void Engine::endSoundingNotes()
{
    NoteAllocation& a = noteAllocation;
    for (int k = 0; k < NoteIdCount; ++k) {
        if (a.keyChannel[k] != 0)
            sendToChannel(0x80, static_cast<uint8_t>(a.keyChannel[k] - 1), a.keyOutputNote[k], 0);
    }
    // A pedal that may hold something is lifted; one that holds nothing is
    // left alone, so that closing an idle output sends nothing.
    bool held[2] = {a.sustainValue != 0, a.sostenutoValue != 0};
    for (const ChannelSlot& slot : a.channelSlot) {
        held[0] = held[0] || slot.sustainedCount != 0;
        held[1] = held[1] || slot.sostenutoCount != 0;
    }
    if (held[0])
        sendToWideChannels(0xB0, SustainController, 0);
    if (held[1])
        sendToWideChannels(0xB0, SostenutoController, 0);
    forgetSoundingNotes();
}

void Engine::panic()
{
    sendPanic();
    forgetSoundingNotes();
}

void Engine::handlePedal(uint8_t controller, uint8_t value)
{
    NoteAllocation& a = noteAllocation;
    const uint8_t down = value >= 64 ? value : 0;
    if (controller == SustainController) {
        a.sustainValue = down;
        if (!down) {
            releasePedal(&ChannelSlot::sustainedCount, nullptr);
            passPedalHold(PedalSustain, 0);
        }
    } else if (controller == SostenutoController) {
        const bool wasDown = a.sostenutoValue != 0;
        a.sostenutoValue = down;
        if (down && !wasDown) {
            for (int k = 0; k < NoteIdCount; ++k)
                a.keyCaught[k] = a.keyChannel[k] != 0;
        } else if (!down && wasDown) {
            // What the sostenuto pedal held, a sustain pedal still down keeps.
            releasePedal(&ChannelSlot::sostenutoCount, a.sustainValue ? &ChannelSlot::sustainedCount : nullptr);
            passPedalHold(PedalSostenuto, a.sustainValue ? PedalSustain : 0);
            for (uint8_t& caught : a.keyCaught)
                caught = 0;
        }
    }
}

void Engine::forgetChannelGroups()
{
    for (ChannelSlot& slot : noteAllocation.channelSlot)
        slot.group = NoGroup;
}

void Engine::setLastKeyListener(LastKeyListener listener, int32_t enabled)
{
    noteAllocation.lastKeyListenerEnabled = enabled;
    noteAllocation.lastKeyListener = listener;
}

void Engine::prepareOutputInstrument()
{
    resetChannels();
    greetNewListener();
}
