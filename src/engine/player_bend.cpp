// The player's pitch wheel, when it bends the notes: added to each channel's
// tuning bend (and its note's own bend) in Pitch Bend output, and passed on as the zone's or the
// channel's own wheel in MPE and MIDI Tuning output, whose opening gives
// that wheel the player's range.

#include "engine/engine.h"

#include <algorithm>
#include <cmath>

#include "engine/note_allocation.h"
#include "engine/output_senders.h"

void Engine::handlePitchWheel(int32_t value)
{
    noteAllocation.playerBend = value - BendCentre;
    switch (settings.outputMode) {
    case OutputMpe:
        sendPitchBend(MpeManagerChannel, value);
        break;
    case OutputMidiTuning:
        sendPitchBend(tuningChannel(), value);
        break;
    default:
        for (int c = 0; c < ChannelCount; ++c) {
            const ChannelSlot& slot = noteAllocation.channelSlot[c];
            if (isUsed(c) && isSounding(slot) && slot.bend >= 0)
                sendPitchBend(static_cast<uint8_t>(c), bendWithPlayer(slot.bend, slot.noteBend));
        }
        break;
    }
}

// The tuning bend plus the player's wheel and the note's own bend, in the
// output wheel's units; held at the wheel's ends, which is counted.
int32_t Engine::bendWithPlayer(int32_t tuningBend, int32_t noteBend)
{
    NoteAllocation& a = noteAllocation;
    const int32_t wheel = settings.pitchWheelUse == PitchWheelBendNotes ? a.playerBend : 0;
    if (wheel == 0 && noteBend == 0)
        return tuningBend;
    const double semitones = static_cast<double>(wheel) * settings.playerBendRange / BendCentre + noteBendSemitones(noteBend);
    const double units = settings.pitchWheelRange == 0 ? 1e9 * semitones : semitones / settings.pitchWheelRange * BendCentre;
    const double sum = tuningBend + std::round(units);
    if (sum < 0 || sum > BendMax)
        ++a.clampedBends;
    return static_cast<int32_t>(std::clamp(sum, 0.0, static_cast<double>(BendMax)));
}

void Engine::sendPlayerBendRange(uint8_t channel)
{
    sendRegisteredParameter(channel, 0, static_cast<uint8_t>(std::clamp(settings.playerBendRange, 1, MaxMpeBendRange)));
}
