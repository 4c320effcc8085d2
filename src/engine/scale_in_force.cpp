#include "engine/scale_in_force.h"

#include "engine/engine.h"

void Engine::setDefaultScale()
{
    installScale(defaultScale());
}

void Engine::installScale(const Scale& s)
{
    scale = s;
    restoreHomeTuning();
}

void Engine::installKeyboardMapping(const KeyboardMapping& m)
{
    keyboardMapping = m;
    keyboardMapping.active = 1;
    restoreHomeTuning();
}

void Engine::clearKeyboardMapping()
{
    keyboardMapping.active = 0;
    restoreHomeTuning();
}

void Engine::restoreHomeTuning()
{
    if (keyboardMapping.active && hasUsableDegrees(scale)) {
        currentCentre = keyboardMapping.middleKey;
        currentPitch = mappedHomePitch(keyboardMapping, scale);
        return;
    }
    currentCentre = scale.centre;
    currentPitch = scale.pitch;
}
