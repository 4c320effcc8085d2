#include "engine/engine.h"

Engine::Engine()
    : settings(defaultSettings()), noteAllocation(initialNoteAllocation()), controllerZone(initialControllerZone())
{
}

// Nothing may still call in once the engine is gone: the devices close
// before the records they write.
Engine::~Engine()
{
    closePorts();
}
