// MPE output, the lower zone: channel 1 manages, each ticked channel from 2
// upward is a member, and each sounding note has a member of its own, bent
// onto its target at the members' wide range.

#include "engine/engine.h"

#include <algorithm>
#include <cmath>

#include "engine/channel_rotation.h"
#include "engine/note_allocation.h"
#include "engine/output_senders.h"
#include "engine/tuning_table.h"

bool Engine::isMember(int channel) const
{
    return channel != MpeManagerChannel && settings.useChannel[channel] != 0;
}

// The free member released longest ago; else the one released longest ago
// that only a pedal holds; else the oldest sounding note's. A note still
// sounding on the member taken ends first: it is stolen. One pass over the
// members; at equal release the lowest channel wins.
int Engine::chooseMember()
{
    const uint32_t now = engineClock();
    int free = NoChannel;
    int held = NoChannel;
    uint32_t freeSince = 0;
    uint32_t heldSince = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        const ChannelSlot& slot = noteAllocation.channelSlot[c];
        if (!isMember(c) || slot.noteCount != 0)
            continue;
        const uint32_t since = sinceChannelRelease(slot, now);
        int& best = isSounding(slot) ? held : free;
        uint32_t& bestSince = isSounding(slot) ? heldSince : freeSince;
        if (best == NoChannel || since > bestSince) {
            best = c;
            bestSince = since;
        }
    }
    if (free != NoChannel)
        return free;
    if (held != NoChannel) {
        silenceHeldMember(held);
        return held;
    }
    return stealOldestNote();
}

// The manager's pedal holds the zone, so that lifting it on one member would
// not end its note: All Sound Off does, before the member is bent anew.
void Engine::silenceHeldMember(int channel)
{
    sendToChannel(0xB0, static_cast<uint8_t>(channel), 120, 0);
    dropPedalHold(channel);
    ++noteAllocation.stolenNotes;
}

int Engine::stealOldestNote()
{
    NoteAllocation& a = noteAllocation;
    int oldest = NoChannel;
    for (int c = 0; c < ChannelCount; ++c) {
        const ChannelSlot& slot = a.channelSlot[c];
        if (isMember(c) && slot.noteCount != 0 &&
            (oldest == NoChannel || slot.startedAt - a.channelSlot[oldest].startedAt > 0x80000000u))
            oldest = c;
    }
    if (oldest == NoChannel)
        return NoChannel;
    for (int k = 0; k < NoteIdCount; ++k) {
        if (a.keyChannel[k] == oldest + 1) {
            a.keyChannel[k] = 0;
            a.keyCaught[k] = 0;
            sendToChannel(0x80, static_cast<uint8_t>(oldest), a.keyOutputNote[k], 0);
        }
    }
    a.channelSlot[oldest].noteCount = 0;
    dropPedalHold(oldest);
    ++a.stolenNotes;
    return oldest;
}

void Engine::soundKeyOnMember(uint8_t status, NoteId note, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    const int key = indexOfNote(note);
    const int c = chooseMember();
    if (c == NoChannel) {
        ++a.droppedNotes;  // no member channel at all
        return;
    }
    ChannelSlot& slot = a.channelSlot[c];
    a.keyChannel[note] = static_cast<uint8_t>(c + 1);
    ++slot.noteCount;
    slot.startedAt = ++a.notesStarted;
    a.keyOutputNote[note] = tuningTable.outputKey[key];
    slot.target = tuningTable.targetFrequency[key];
    slot.noteBend = startingBend(note);
    slot.bend = slot.noteBend == 0 ? tuningTable.mpeBend[key] : memberBend(slot, tuningTable.outputKey[key]);
    sendPitchBend(static_cast<uint8_t>(c), slot.bend);
    sendStartingExpression(note, static_cast<uint8_t>(c));
    sendToChannel(status, static_cast<uint8_t>(c), tuningTable.outputKey[key], velocity);
}

// Rounded once, so that it is exact to the bend step; held at the wheel's
// ends, which is counted.
int32_t Engine::memberBend(const ChannelSlot& slot, uint8_t outputKey)
{
    const int32_t range = std::clamp(settings.mpeBendRange, 1, MaxMpeBendRange);
    const double tuning = bendUnits(slot.target, tuningTable.instrumentFrequency[outputKey], 12.0 / range * BendCentre);
    const double own = static_cast<double>(slot.noteBend) * std::clamp(settings.inputBendRange, 1, MaxMpeBendRange) / range;
    const long bend = std::lround(tuning + own) + BendCentre;
    if (bend < 0 || bend > BendMax)
        ++noteAllocation.clampedBends;
    return static_cast<int32_t>(std::clamp<long>(bend, 0, BendMax));
}

// The MPE Configuration Message with the member count, then the members'
// range and the manager's two semitones.
void Engine::sendMpeOpening()
{
    uint8_t members = 0;
    for (int c = 0; c < ChannelCount; ++c)
        members += isMember(c) ? 1 : 0;
    sendRegisteredParameter(MpeManagerChannel, 6, members);
    for (int c = 0; c < ChannelCount; ++c) {
        if (isMember(c))
            sendRegisteredParameter(static_cast<uint8_t>(c), 0,
                                    static_cast<uint8_t>(std::clamp(settings.mpeBendRange, 1, MaxMpeBendRange)));
    }
    if (settings.pitchWheelUse == PitchWheelBendNotes)
        sendPlayerBendRange(MpeManagerChannel);
    else
        sendRegisteredParameter(MpeManagerChannel, 0, 2);
}
