#pragma once
// The scale and keyboard mapping in force, and the working centre that
// modulation moves.

#include <cstdint>

#include "engine/engine_lock.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

