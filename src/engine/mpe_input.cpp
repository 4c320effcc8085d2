// An MPE controller at the input: a channel per note, whose pitch bend,
// channel pressure and controller 74 belong to that note and follow it to
// where it sounds. The zone's manager channel (1, or 16 for an upper zone)
// speaks for every note, as a keyboard's one channel does.

#include "engine/mpe_input.h"

#include "engine/engine.h"

#include <algorithm>
#include <cmath>

#include "engine/output_senders.h"
#include "engine/tuning_table.h"

ControllerZone initialControllerZone()
{
    ControllerZone z{};
    for (auto& selected : z.parameter)
        selected[0] = selected[1] = 127;
    std::fill(std::begin(z.pressure), std::end(z.pressure), NoExpression);
    std::fill(std::begin(z.timbre), std::end(z.timbre), NoExpression);
    return z;
}

namespace {

bool isParameterController(uint8_t controller)
{
    return controller == 101 || controller == 100 || controller == 6 || controller == 38;
}

}  // namespace

// A channel and key are one note for an MPE controller, and one key of a
// board laid out over channels.
NoteId Engine::noteIdOf(uint8_t channel, uint8_t key) const
{
    if (!settings.mpeController && settings.keyLayout != KeyLayoutChannelOffset)
        return key & 0x7F;
    return static_cast<NoteId>((channel & 0x0F) * 128 + (key & 0x7F));
}

int Engine::indexOfNote(NoteId note) const
{
    return indexOf(static_cast<uint8_t>(note >> 7), static_cast<uint8_t>(note & 0x7F));
}

// Registered parameter 6 on channel 1 or 16 announces a zone and its
// members; none closes it, which matters only for the zone in force. A
// change of reading ends the held notes, whose identities change with it.
void Engine::announceZone(uint8_t channel, uint8_t members)
{
    if (channel != 0 && channel != 15)
        return;
    if (members == 0 && (channel != controllerZone.manager || !settings.mpeController))
        return;
    const int32_t on = members > 0 ? 1 : 0;
    if (on != settings.mpeController)
        endHeldNotes();
    settings.mpeController = on;
    controllerZone.manager = channel;
    controllerZone.announcedMembers = std::min<uint8_t>(members, 15);
}

// Registered parameter 0, the bend range, from an MPE controller: on a
// member it is the range of every note's own bend, on the manager the
// range of the zone's wheel.
void Engine::readControllerBendRange(uint8_t channel, uint8_t semitones)
{
    if (!settings.mpeController || semitones == 0)
        return;
    const int32_t range = std::min<int32_t>(semitones, MaxMpeBendRange);
    if (channel == controllerZone.manager)
        settings.playerBendRange = range;
    else
        settings.inputBendRange = range;
}

void Engine::readConfigurationMessage(uint8_t channel, uint8_t controller, uint8_t value)
{
    uint8_t(&selected)[2] = controllerZone.parameter[channel];
    if (controller == 101 || controller == 100) {
        selected[controller == 101 ? 0 : 1] = value;
    } else if (controller == 6 && selected[0] == 0) {
        if (selected[1] == 6)
            announceZone(channel, value);
        else if (selected[1] == 0)
            readControllerBendRange(channel, value);
    }
}

// The controller's own set-up of its channels (registered parameters) goes
// no further: it would retune the output's wheels. On the manager, a reset
// of the zone ends its notes and is relayed as well.
bool Engine::takeZoneMessage(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2)
{
    if (kind == 0xB0 && isParameterController(data1))
        return true;
    if (channel == controllerZone.manager) {
        if (kind == 0xB0 && (data1 == 120 || data1 == 123))
            endHeldNotes();
        return false;
    }
    if (kind == 0xE0 || kind == 0xD0 || (kind == 0xB0 && data1 == TimbreController)) {
        followNotesOn(channel, kind, data1, data2);
        return true;
    }
    return false;
}

// Kept for the channel's next note as well; sent for the notes it holds.
void Engine::followNotesOn(uint8_t channel, uint8_t kind, uint8_t data1, uint8_t data2)
{
    ControllerZone& z = controllerZone;
    if (kind == 0xE0) {
        z.bend[channel] = (data1 | data2 << 7) - BendCentre;
    } else if (kind == 0xD0) {
        if (!settings.relay[RelayChannelPressure])
            return;
        z.pressure[channel] = data1;
    } else {
        if (!settings.relay[RelayControl])
            return;
        z.timbre[channel] = data2;
    }
    const int first = channel * 128;
    for (int note = first; note < first + 128; ++note) {
        if (noteAllocation.keyChannel[note] != 0)
            sendNoteExpression(static_cast<NoteId>(note), kind, data1, data2);
    }
}

void Engine::sendNoteExpression(NoteId note, uint8_t kind, uint8_t data1, uint8_t data2)
{
    NoteAllocation& a = noteAllocation;
    const auto channel = static_cast<uint8_t>(a.keyChannel[note] - 1);
    const uint8_t outputKey = a.keyOutputNote[note];
    // Pressure and controller 74 go as they came, to the note's channel;
    // in MIDI Tuning output the pressure becomes its key's, and controller 74
    // then reaches every note.
    if (kind == 0xD0 && settings.outputMode == OutputMidiTuning) {
        sendToChannel(0xA0, channel, outputKey, data1);
        return;
    }
    if (kind != 0xE0) {
        sendToChannel(kind, channel, data1, data2);
        return;
    }
    // The bend retunes the note's key in MIDI Tuning output.
    ChannelSlot& slot = slotHolding(note);
    slot.noteBend = controllerZone.bend[note >> 7];
    switch (settings.outputMode) {
    case OutputMidiTuning:
        retuneKey(outputKey, slot.target * noteBendRatio(slot.noteBend));
        break;
    case OutputMpe:
        sendPitchBend(channel, slot.bend = memberBend(slot, outputKey));
        break;
    default:
        sendPitchBend(channel, bendWithPlayer(slot.bend, slot.noteBend));
        break;
    }
}

void Engine::sendStartingExpression(NoteId note, uint8_t channel)
{
    if (!settings.mpeController)
        return;
    const ControllerZone& z = controllerZone;
    if (z.timbre[note >> 7] != NoExpression)
        sendToChannel(0xB0, channel, TimbreController, z.timbre[note >> 7]);
    if (z.pressure[note >> 7] != NoExpression)
        sendToChannel(0xD0, channel, z.pressure[note >> 7], 0);
}

int32_t Engine::startingBend(NoteId note) const
{
    return settings.mpeController ? controllerZone.bend[note >> 7] : 0;
}

double Engine::noteBendSemitones(int32_t noteBend) const
{
    return static_cast<double>(noteBend) * std::clamp(settings.inputBendRange, 1, MaxMpeBendRange) / BendCentre;
}

double Engine::noteBendRatio(int32_t noteBend) const
{
    return noteBend == 0 ? 1.0 : std::exp2(noteBendSemitones(noteBend) / 12.0);
}

void Engine::endHeldNotes()
{
    NoteAllocation& a = noteAllocation;
    const uint32_t now = engineClock();
    for (int note = 0; note < NoteIdCount; ++note) {
        if (a.keyChannel[note] == 0)
            continue;
        ChannelSlot& slot = slotHolding(static_cast<NoteId>(note));
        --slot.noteCount;
        slot.releasedAt = now;
        sendToChannel(0x80, static_cast<uint8_t>(a.keyChannel[note] - 1), a.keyOutputNote[note], 0);
        a.keyChannel[note] = 0;
        a.keyCaught[note] = 0;
    }
}

// Key pressure follows its note to its channel and output key.
void Engine::handlePolyPressure(uint8_t channel, uint8_t key, uint8_t value)
{
    const NoteId note = noteIdOf(channel, key);
    const NoteAllocation& a = noteAllocation;
    if (a.keyChannel[note] != 0)
        sendToChannel(0xA0, static_cast<uint8_t>(a.keyChannel[note] - 1), a.keyOutputNote[note], value);
}

std::string Engine::modesText() const
{
    std::string text = outputModeSuffix(settings);
    if (!settings.mpeController)
        return text;
    text += "  |  MPE controller";
    if (controllerZone.announcedMembers != 0) {
        text += std::string(" announced: ") + (controllerZone.manager == 0 ? "lower" : "upper") + " zone, " +
                std::to_string(controllerZone.announcedMembers) + " channels";
    }
    return text;
}
