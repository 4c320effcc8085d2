#include "engine/keyboard_snapshot.h"

#include "engine/engine.h"

#include <algorithm>

#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

namespace {

void placeInScale(KeyView& view, int64_t degree, int32_t degrees)
{
    view.period = floorDivide(degree, degrees);
    view.degree = static_cast<int32_t>(degree - view.period * degrees);
}

}  // namespace

KeyboardSnapshot Engine::keyboardSnapshot() const
{
    KeyboardSnapshot s;
    EngineLock lock(engineMutex);
    s.outputMode = settings.outputMode;
    s.degrees = std::max(scale.degrees, 1);
    s.centre = currentCentre;
    s.overChannels = settings.keyLayout == KeyLayoutChannelOffset;
    const uint8_t commands[4] = {settings.commandKey, settings.demodulateKey, settings.resetPitchKey, settings.initMessageKey};
    std::copy(std::begin(commands), std::end(commands), s.commandKeys);
    s.keys.resize(static_cast<size_t>(indexCount()));
    for (int i = 0; i < indexCount(); ++i) {
        KeyView& view = s.keys[static_cast<size_t>(i)];
        view.mapped = !tuningTable.unmapped[i];
        int64_t degree = i - currentCentre;
        if (keyboardMapping.active && !mappedDegree(keyboardMapping, s.degrees, currentCentre, i, degree))
            view.mapped = false;
        placeInScale(view, degree, s.degrees);
        view.target = tuningTable.targetFrequency[i];
        view.outputKey = tuningTable.outputKey[i];
        view.bend = settings.outputMode == OutputMpe ? tuningTable.mpeBend[i] : tuningTable.bendValue[i];
    }
    const NoteAllocation& a = noteAllocation;
    for (int note = 0; note < NoteIdCount; ++note) {
        const bool sounding = a.keyChannel[note] != 0;
        if (!sounding && a.keyPedalHeld[note] == 0)
            continue;
        const int index = indexOfNote(static_cast<NoteId>(note));
        KeyView& view = s.keys[static_cast<size_t>(index)];
        if (view.state == KeySounding)
            continue;
        view.state = sounding ? KeySounding : KeyPedalHeld;
        view.channel = sounding ? a.keyChannel[note] : a.keyHeldChannel[note];
        if (sounding)
            view.outputKey = a.keyOutputNote[note];
    }
    return s;
}

// The channel and key that give the index: the lowest channel it lies on.
bool Engine::auditionKey(int index, bool down)
{
    EngineLock lock(engineMutex);
    if (index < 0 || index >= indexCount())
        return false;
    const int offset = settings.keyLayout == KeyLayoutChannelOffset ? keysPerChannel() : 0;
    const int channel = offset == 0 ? (settings.inputChannel == AllChannels ? 0 : settings.inputChannel)
                                    : std::max(0, (index - 127 + offset - 1) / offset);
    const auto key = static_cast<uint8_t>(index - channel * offset);
    const NoteId note = noteIdOf(static_cast<uint8_t>(channel), key);
    if (down && noteAllocation.keyChannel[note] != 0)
        return false;
    if (down)
        handleNoteOn(0x90, static_cast<uint8_t>(channel), key, 100);
    else
        handleNoteOff(0x80, static_cast<uint8_t>(channel), key, 0);
    viewStale = true;
    return true;
}
