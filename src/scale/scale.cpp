#include "scale/scale.h"

#include <cmath>
#include <cstring>

bool hasUsableDegrees(const Scale& s)
{
    return s.degrees >= 1 && s.degrees <= MaxScalaDegrees;
}

Scale defaultScale()
{
    Scale s{};
    s.centre = 60;
    s.degrees = 12;
    s.pitch = 261.626;
    std::strncpy(s.name, "12 tone equal temperament", MaxScaleNameLength);
    s.name[MaxScaleNameLength] = '\0';
    const double semitone = std::log10(2.0) / 12.0;
    for (int k = 0; k <= 12; ++k)
        s.ratio[k] = std::pow(10.0, k * semitone);
    s.octavePeriod = 1;
    return s;
}

int64_t floorDivide(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

double ratioOfDegree(const Scale& s, int64_t degree)
{
    const int64_t n = s.degrees;
    const int64_t periods = floorDivide(degree, n);
    const double r = s.ratio[degree - periods * n];
    return periods == 0 ? r : std::pow(s.ratio[n], static_cast<double>(periods)) * r;
}

bool isAudibleFrequency(double hz)
{
    return hz >= 1.0 && hz <= 100000.0;
}
