#include "engine/engine_lock.h"

EngineMutex engineMutex;
