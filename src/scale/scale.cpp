#include "scale/scale.h"

#include <cmath>
#include <cstring>

#include "scale/keyboard_mapping.h"

Scale scale{};
double currentPitch = 0.0;
uint8_t currentCentre = 0;

bool hasUsableDegrees(const Scale& s)
{
    return s.degrees >= 1 && s.degrees <= MaxDegrees;
}

void setDefaultScale()
{
    scale.centre = 60;
    scale.degrees = 12;
    scale.pitch = 261.626;
    std::strncpy(scale.name, "12 tone equal temperament", MaxScaleNameLength);
    scale.name[MaxScaleNameLength] = '\0';
    const double semitone = std::log10(2.0) / 12.0;
    for (int k = 0; k <= 12; ++k)
        scale.ratio[k] = std::pow(10.0, k * semitone);
    scale.octavePeriod = 1;
    currentPitch = scale.pitch;
    currentCentre = scale.centre;
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

void installScale(const Scale& s)
{
    scale = s;
    restoreHomeTuning();
}

void restoreHomeTuning()
{
    if (keyboardMapping.active && hasUsableDegrees(scale)) {
        currentCentre = keyboardMapping.middleKey;
        currentPitch = mappedHomePitch(keyboardMapping, scale);
        return;
    }
    currentCentre = scale.centre;
    currentPitch = scale.pitch;
}
