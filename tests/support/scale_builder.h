#pragma once
// Builds scale records for tests without going through a scale file.

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "scale/scale.h"

// degrees = ratios.size(); ratios[i] becomes ratio[i + 1], the last is the period.
inline Scale makeScale(std::initializer_list<double> ratios, double pitch = 261.626, uint8_t centre = 60)
{
    Scale s{};
    std::strcpy(s.name, "test");
    s.pitch = pitch;
    s.centre = centre;
    s.degrees = static_cast<int32_t>(ratios.size());
    for (double& r : s.ratio)
        r = 1.0;
    int i = 1;
    for (double r : ratios)
        s.ratio[i++] = r;
    s.octavePeriod = s.ratio[s.degrees] == 2.0 ? 1 : 0;
    return s;
}

inline Scale equalScale(int steps, double period, double pitch = 261.626, uint8_t centre = 60)
{
    Scale s{};
    std::strcpy(s.name, "equal");
    s.pitch = pitch;
    s.centre = centre;
    s.degrees = steps;
    for (double& r : s.ratio)
        r = 1.0;
    for (int k = 1; k <= steps; ++k)
        s.ratio[k] = std::pow(period, static_cast<double>(k) / steps);
    s.ratio[steps] = period;
    s.octavePeriod = period == 2.0 ? 1 : 0;
    return s;
}
