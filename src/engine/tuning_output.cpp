// MIDI Tuning output: every note on one channel, its key retuned to the
// note's target by a real-time single-note tuning change just before its
// Note On. A key is never retuned while a note on it still sounds, so a
// modulation changes only the notes played after it.

#include "engine/engine.h"

#include <cstdlib>

#include "engine/output_senders.h"

namespace {

// The 12-tone key nearest the frequency the data stands for.
int nearestKeyOf(const uint8_t (&data)[3])
{
    const int key = data[0] + (data[1] >= 0x40 ? 1 : 0);
    return key > 127 ? 127 : key;
}

}  // namespace

uint8_t Engine::tuningChannel() const
{
    for (uint8_t c = 0; c < ChannelCount; ++c) {
        if (settings.useChannel[c])
            return c;
    }
    return 0;
}

// Whether the output key may take a new tuning: nothing sounds on it, and,
// unless anyRelease, no release tail of the last note on it.
bool Engine::isKeyRetunable(int key, uint32_t now, bool anyRelease) const
{
    const ChannelSlot& slot = noteAllocation.keySlot[key];
    if (isSounding(slot))
        return false;
    return anyRelease || settings.releaseTime <= 0 ||
           sinceChannelRelease(slot, now) >= static_cast<uint32_t>(settings.releaseTime);
}

// The nearest key to the target that may be retuned, the nearer side first
// at equal distance; else the nearest without sounding notes even if a tail
// rings on it; -1 when all 128 sound.
int Engine::chooseTuningKey(int index) const
{
    const uint8_t(&data)[3] = tuningTable.tuningData[index];
    const int nearest = nearestKeyOf(data);
    const int towards = data[0] < nearest ? -1 : 1;
    const uint32_t now = settings.releaseTime > 0 ? engineClock() : 0;
    for (const bool anyRelease : {false, true}) {
        for (int distance = 0; distance < KeyCount; ++distance) {
            for (const int candidate : {nearest + towards * distance, nearest - towards * distance}) {
                if (candidate >= 0 && candidate < KeyCount && isKeyRetunable(candidate, now, anyRelease))
                    return candidate;
            }
        }
    }
    return -1;
}

void Engine::retuneKey(uint8_t outputKey, const uint8_t (&data)[3])
{
    const uint8_t change[] = {0xF0, 0x7F, static_cast<uint8_t>(settings.tuningDeviceId & 0x7F), 0x08, 0x02,
                              static_cast<uint8_t>(settings.tuningProgram & 0x7F), 0x01,
                              outputKey, data[0], data[1], data[2], 0xF7};
    if (midiPorts.midiOut)
        midiPorts.midiOut->sendLongMessage(change, sizeof change);
}

void Engine::retuneKey(uint8_t outputKey, double frequency)
{
    uint8_t data[3];
    tuningFrequencyBytes(frequency, data);
    retuneKey(outputKey, data);
}

// An MPE controller's note begins at its own bend: its key is tuned that far
// from the target.
void Engine::soundRetunedKey(uint8_t status, NoteId note, uint8_t velocity)
{
    NoteAllocation& a = noteAllocation;
    const int key = indexOfNote(note);
    const int outputKey = chooseTuningKey(key);
    if (outputKey < 0) {
        ++a.droppedNotes;
        return;
    }
    const uint8_t channel = tuningChannel();
    ChannelSlot& slot = a.keySlot[outputKey];
    slot.target = tuningTable.targetFrequency[key];
    slot.noteBend = startingBend(note);
    if (slot.noteBend == 0)
        retuneKey(static_cast<uint8_t>(outputKey), tuningTable.tuningData[key]);
    else
        retuneKey(static_cast<uint8_t>(outputKey), slot.target * noteBendRatio(slot.noteBend));
    ++slot.noteCount;
    a.keyChannel[note] = static_cast<uint8_t>(channel + 1);
    a.keyOutputNote[note] = static_cast<uint8_t>(outputKey);
    sendToChannel(status, channel, static_cast<uint8_t>(outputKey), velocity);
}

// The tuning bank, then the tuning program: a channel that has selected a
// program applies the single-note changes sent to it.
void Engine::sendTuningSelection()
{
    const uint8_t channel = tuningChannel();
    sendRegisteredParameter(channel, 4, 0);
    sendRegisteredParameter(channel, 3, static_cast<uint8_t>(settings.tuningProgram & 0x7F));
    if (settings.pitchWheelUse == PitchWheelBendNotes)
        sendPlayerBendRange(channel);
}
