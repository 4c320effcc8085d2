#include "scale/keyboard_mapping.h"

bool patternDegree(const KeyboardMapping& m, int32_t degreesPerPeriod, int centre, int key, int64_t& degree)
{
    const int64_t offset = key - centre;
    if (m.size <= 0) {
        degree = offset;
        return true;
    }
    const int64_t repeat = floorDivide(offset, m.size);
    const int64_t place = offset - repeat * m.size;
    const int32_t entry = m.entry[place];
    if (entry == UnmappedEntry)
        return false;
    const int64_t octave = m.octaveDegree > 0 ? m.octaveDegree : degreesPerPeriod;
    degree = repeat * octave + entry;
    return true;
}

bool mappedDegree(const KeyboardMapping& m, int32_t degreesPerPeriod, int centre, int key, int64_t& degree)
{
    if (key < m.firstKey || key > m.lastKey)
        return false;
    return patternDegree(m, degreesPerPeriod, centre, key, degree);
}

double mappedHomePitch(const KeyboardMapping& m, const Scale& s)
{
    int64_t degree = 0;
    patternDegree(m, s.degrees, m.middleKey, m.referenceKey, degree);
    return m.referenceFrequency / ratioOfDegree(s, degree);
}
