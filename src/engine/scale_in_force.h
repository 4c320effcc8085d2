#pragma once
// The scale and keyboard mapping in force, and the working centre that
// modulation moves.

#include <cstdint>

#include "engine/engine_lock.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

extern Scale scale GUARDED_BY_ENGINE_LOCK;
extern KeyboardMapping keyboardMapping GUARDED_BY_ENGINE_LOCK;
extern double currentPitch GUARDED_BY_ENGINE_LOCK;
extern uint8_t currentCentre GUARDED_BY_ENGINE_LOCK;

// Installs the built-in "12 tone equal temperament" and its working centre.
void setDefaultScale() NEEDS_ENGINE_LOCK;

// Replaces the scale in force with s and discards any modulation.
void installScale(const Scale& s) NEEDS_ENGINE_LOCK;

// Installs m (or, with clearKeyboardMapping, none) and restores the home
// tuning. The caller rebuilds the table.
void installKeyboardMapping(const KeyboardMapping& m) NEEDS_ENGINE_LOCK;
void clearKeyboardMapping() NEEDS_ENGINE_LOCK;

// Puts the working centre back where the scale (or the keyboard mapping in
// force) places it, discarding any modulation.
void restoreHomeTuning() NEEDS_ENGINE_LOCK;
