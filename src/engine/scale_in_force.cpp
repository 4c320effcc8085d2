#include "engine/scale_in_force.h"

Scale scale{};
KeyboardMapping keyboardMapping{};
double currentPitch = 0.0;
uint8_t currentCentre = 0;

void setDefaultScale()
{
    installScale(defaultScale());
}

void installScale(const Scale& s)
{
    scale = s;
    restoreHomeTuning();
}

void installKeyboardMapping(const KeyboardMapping& m)
{
    keyboardMapping = m;
    keyboardMapping.active = 1;
    restoreHomeTuning();
}

void clearKeyboardMapping()
{
    keyboardMapping.active = 0;
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
