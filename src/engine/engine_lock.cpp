#include "engine/engine_lock.h"

std::mutex engineMutex;
