#include "scale/scale.h"

#include <cmath>
#include <cstring>

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

void installScale(const Scale& s)
{
    currentCentre = s.centre;
    scale = s;
    currentPitch = s.pitch;
}
