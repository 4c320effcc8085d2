#include "engine/midi_ports.h"

#include "engine/engine.h"


bool Engine::isOutputOpen() const
{
    EngineLock lock(engineMutex);
    return midiPorts.outputOpen != 0;
}
