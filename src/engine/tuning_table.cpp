#include "engine/tuning_table.h"

#include "engine/engine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/scale_in_force.h"
#include "engine/settings.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

namespace {


constexpr double NoQualifyingRatio = 4096.0;  // twelve octaves
constexpr int FallbackKey = 60;


}  // namespace

// Bend units per octave for the current wheel range; 0 keeps every key unbent.
double Engine::bendUnitsPerOctave() const
{
    if (settings.pitchWheelRange == 0)
        return 0.0;
    return (12.0 / settings.pitchWheelRange) * 8192.0;
}

namespace {

// Octaves from instrument up to target; not a number where the logarithm is
// undefined (a frequency that is zero, negative or not a number on either side).
double octavesTo(double target, double instrument)
{
    const double ratio = target / instrument;
    if (!(instrument > 0.0) || !(ratio > 0.0) || !std::isfinite(ratio))
        return std::numeric_limits<double>::quiet_NaN();
    return std::log10(ratio) / std::log10(2.0);
}

double unitsOf(double octaves, double unitsPerOctave)
{
    return std::clamp(octaves * unitsPerOctave, -2.0 * BendMax, 2.0 * BendMax);
}

// An undefined distance bends to 0, as an unusable instrument frequency
// always has.
int32_t bendOf(double octaves, double unitsPerOctave, bool nearestStep = false)
{
    if (std::isnan(octaves))
        return 0;
    const double units = unitsOf(octaves, unitsPerOctave);
    const int32_t bend = static_cast<int32_t>(nearestStep ? std::lround(units) : static_cast<long>(units)) + BendCentre;
    return std::clamp(bend, int32_t{0}, BendMax);
}

}  // namespace

double bendUnits(double target, double instrument, double unitsPerOctave)
{
    const double octaves = octavesTo(target, instrument);
    return std::isnan(octaves) ? 0.0 : unitsOf(octaves, unitsPerOctave);
}

void tuningFrequencyBytes(double frequency, uint8_t (&bytes)[3])
{
    const double semitones = frequency > 0.0 ? 69.0 + 12.0 * std::log2(frequency / 440.0) : 0.0;
    const long steps = std::lround(std::clamp(semitones, 0.0, 127.0) * 16384.0);
    const long highest = 127L * 16384 + 16382;  // 7F 7F 7E: 7F 7F 7F means "no change"
    const long value = std::min(steps, highest);
    bytes[0] = static_cast<uint8_t>(value / 16384);
    bytes[1] = static_cast<uint8_t>((value % 16384) >> 7);
    bytes[2] = static_cast<uint8_t>(value & 0x7F);
}

KeyTuning Engine::tuningFor(double target, double unitsPerOctave) const
{
    const int key = findNearestKey(target);
    const double octaves = octavesTo(target, tuningTable.instrumentFrequency[key]);
    return {key, bendOf(octaves, unitsPerOctave), octaves};
}

// octaves: from outputKey to the target, so that the members' bend needs no
// second logarithm unless the output key had to be moved into range.
void Engine::writeKey(int key, int outputKey, int32_t bend, int group, double target, double octaves)
{
    if (key < 0 || key >= indexCount())
        return;
    const int played = std::clamp(outputKey, 0, KeyCount - 1);
    tuningTable.targetFrequency[key] = target;
    tuningTable.outputKey[key] = static_cast<uint8_t>(played);
    tuningTable.bendValue[key] = bend;
    // Only where it plays: a logarithm per key would slow every build.
    if (settings.outputMode == OutputMpe) {
        const double unitsPerOctave = 12.0 / std::clamp(settings.mpeBendRange, 1, MaxMpeBendRange) * BendCentre;
        const double fromPlayed = played == outputKey ? octaves : octavesTo(target, tuningTable.instrumentFrequency[played]);
        tuningTable.mpeBend[key] = bendOf(fromPlayed, unitsPerOctave, true);
    } else if (settings.outputMode == OutputMidiTuning) {
        tuningFrequencyBytes(target, tuningTable.tuningData[key]);
    }
    tuningTable.bendGroup[key] = static_cast<uint16_t>(group);
    tuningTable.unmapped[key] = 0;
}

void Engine::writeUnmappedKey(int key)
{
    tuningTable.unmapped[key] = 1;
    tuningTable.targetFrequency[key] = 0.0;
    for (uint8_t& byte : tuningTable.tuningData[key])
        byte = 0x7F;
}

// Each degree once beside the centre, then copied an instrument octave per
// period up and down the keyboard.
void Engine::buildOctaveMode(double unitsPerOctave)
{
    const int degrees = scale.degrees;
    const int last = indexCount() - 1;
    for (int i = 0; i < degrees; ++i) {
        const double target = currentPitch * scale.ratio[i];
        const KeyTuning t = tuningFor(target, unitsPerOctave);
        const int c = currentCentre + i;
        writeKey(c, t.key, t.bend, i, target, t.octaves);
        for (int m = 1; c - m * degrees >= 0; ++m)
            writeKey(c - m * degrees, t.key - 12 * m, t.bend, i, std::ldexp(target, -m), t.octaves);
        if (c > last)
            continue;
        for (int m = 1; c + m * degrees <= last; ++m)
            writeKey(c + m * degrees, t.key + 12 * m, t.bend, i, std::ldexp(target, m), t.octaves);
    }
}

void Engine::writeLinearKey(int key, double target, double unitsPerOctave)
{
    const KeyTuning t = tuningFor(target, unitsPerOctave);
    writeKey(key, t.key, t.bend, key, target, t.octaves);
}

// Every key on its own, carrying the period outward from the centre.
void Engine::buildLinearMode(double unitsPerOctave)
{
    const int degrees = scale.degrees;
    const double period = scale.ratio[degrees];
    if (currentCentre < indexCount()) {
        double f = currentPitch;
        int d = 0;
        for (int k = currentCentre; k < indexCount(); ++k) {
            writeLinearKey(k, f * scale.ratio[d], unitsPerOctave);
            if (++d >= degrees) {
                f *= period;
                d = 0;
            }
        }
    }
    double f = currentPitch;
    int d = 0;
    for (int k = currentCentre; k >= 0; --k) {
        writeLinearKey(k, f * scale.ratio[d], unitsPerOctave);
        if (--d < 0) {
            f /= period;
            d = degrees - 1;
        }
    }
}

// Under a keyboard mapping, octave mode tunes each degree of the period once;
// the same degree in another period plays whole instrument octaves away with
// the same bend, so it shares the degree's bend group.
void Engine::buildMappedOctaveMode(double unitsPerOctave)
{
    const int degrees = scale.degrees;
    KeyTuning degreeTuning[MaxScalaDegrees];
    for (int i = 0; i < degrees; ++i)
        degreeTuning[i] = tuningFor(currentPitch * scale.ratio[i], unitsPerOctave);
    for (int k = 0; k < indexCount(); ++k) {
        int64_t degree = 0;
        if (!mappedDegree(keyboardMapping, degrees, currentCentre, k, degree)) {
            writeUnmappedKey(k);
            continue;
        }
        const int64_t octaves = floorDivide(degree, degrees);
        const int place = static_cast<int>(degree - octaves * degrees);
        const KeyTuning& t = degreeTuning[place];
        // Just outside the keys, for writeKey to see that it moves the key.
        const int64_t key = std::clamp<int64_t>(t.key + 12 * octaves, -1, KeyCount);
        const double target = std::ldexp(currentPitch * scale.ratio[place], static_cast<int>(std::clamp<int64_t>(octaves, -4096, 4096)));
        writeKey(k, static_cast<int>(key), t.bend, place, target, t.octaves);
    }
}

void Engine::buildMappedLinearMode(double unitsPerOctave)
{
    for (int k = 0; k < indexCount(); ++k) {
        int64_t degree = 0;
        if (mappedDegree(keyboardMapping, scale.degrees, currentCentre, k, degree))
            writeLinearKey(k, currentPitch * ratioOfDegree(scale, degree), unitsPerOctave);
        else
            writeUnmappedKey(k);
    }
}

// The interval from the working centre to key under the keyboard mapping:
// the ratio of the key's degree over the centre's own.
bool Engine::mappedIntervalToKey(int key, double& interval) const
{
    int64_t degree = 0;
    if (!mappedDegree(keyboardMapping, scale.degrees, currentCentre, key, degree))
        return false;
    int64_t centreDegree = 0;
    if (!patternDegree(keyboardMapping, scale.degrees, currentCentre, currentCentre, centreDegree))
        centreDegree = 0;
    interval = ratioOfDegree(scale, degree) / ratioOfDegree(scale, centreDegree);
    return true;
}

// The interval from the working centre to key, in whole periods plus a degree.
double Engine::intervalToKey(int key) const
{
    const int degrees = scale.degrees;
    const double period = scale.ratio[degrees];
    int c = currentCentre;
    double r = 1.0;
    if (c > key) {
        do {
            r /= period;
            c -= degrees;
        } while (c > key);
    } else if (key > c + degrees) {
        do {
            r *= period;
            c += degrees;
        } while (c + degrees < key);
    }
    return r * scale.ratio[key - c];
}

// The nearest-key rule applied to keys first..last in ascending order.
int Engine::scanNearestKey(double frequency, int first, int last, double& best) const
{
    int result = FallbackKey;
    for (int k = first; k <= last; ++k) {
        const double instrument = tuningTable.instrumentFrequency[k];
        double q = NoQualifyingRatio;
        if (instrument > 0.0 && frequency > 0.0) {
            q = frequency / instrument;
            if (q < 1.0)
                q = 1.0 / q;
        }
        if (q < best) {
            best = q;
            result = k;
        }
    }
    return result;
}

namespace {

bool isAscending(const double* frequencies)
{
    if (!(frequencies[0] > 0.0))
        return false;
    for (int k = 1; k < KeyCount; ++k) {
        if (!(frequencies[k] > frequencies[k - 1]) || !std::isfinite(frequencies[k]))
            return false;
    }
    return true;
}

}  // namespace

void Engine::buildInstrumentFrequencies()
{
    const double semitone = std::log10(2.0) / 12.0;
    for (int k = 0; k < KeyCount; ++k) {
        const int steps = k - settings.referenceKey;
        tuningTable.instrumentFrequency[k] = settings.referenceFrequency * std::pow(10.0, steps * semitone);
    }
    tuningTable.instrumentAscending = isAscending(tuningTable.instrumentFrequency);
}

int Engine::findNearestKey(double frequency) const
{
    double best = NoQualifyingRatio;
    if (!tuningTable.instrumentAscending || !(frequency > 0.0))
        return scanNearestKey(frequency, 0, KeyCount - 1, best);
    // The folded ratio falls towards the target and rises after it, so the
    // nearest key is one of the two keys around it.
    const double* begin = tuningTable.instrumentFrequency;
    const int above = static_cast<int>(std::lower_bound(begin, begin + KeyCount, frequency) - begin);
    return scanNearestKey(frequency, std::max(above - 2, 0), std::min(above + 1, KeyCount - 1), best);
}

int Engine::indexCount() const
{
    if (settings.keyLayout != KeyLayoutChannelOffset)
        return KeyCount;
    return std::min(KeyCount + keysPerChannel() * (ChannelCount - 1), MaxIndexCount);
}

int Engine::indexOf(uint8_t channel, uint8_t key) const
{
    if (settings.keyLayout != KeyLayoutChannelOffset)
        return key & 0x7F;
    return (key & 0x7F) + keysPerChannel() * (channel & 0x0F);
}

int Engine::keysPerChannel() const
{
    return std::clamp(settings.keysPerChannel, 1, MaxKeysPerChannel);
}

bool Engine::buildTuningTable()
{
    if (!hasUsableDegrees(scale))
        return false;
    const double unitsPerOctave = bendUnitsPerOctave();
    viewStale.store(true, std::memory_order_relaxed);
    if (keyboardMapping.active && scale.octavePeriod)
        buildMappedOctaveMode(unitsPerOctave);
    else if (keyboardMapping.active)
        buildMappedLinearMode(unitsPerOctave);
    else if (scale.octavePeriod)
        buildOctaveMode(unitsPerOctave);
    else
        buildLinearMode(unitsPerOctave);
    return true;
}

bool Engine::moveCentre(int index, uint8_t mode, int32_t shift)
{
    if (!hasUsableDegrees(scale) || (mode != MoveReset && (index < 0 || index >= indexCount())))
        return false;
    if (mode == MoveReset) {
        restoreHomeTuning();
        return buildTuningTable();
    }
    double r = 1.0;
    if (!keyboardMapping.active)
        r = intervalToKey(index);
    else if (!mappedIntervalToKey(index, r))
        return false;
    if (mode == MoveDemodulate)
        r = 1.0 / r;
    currentPitch *= r;
    if (shift)
        currentCentre = static_cast<uint16_t>(index);
    return buildTuningTable();
}
