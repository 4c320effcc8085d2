#include "engine/midi_ports.h"

MidiPorts midiPorts;

bool isOutputOpen()
{
    EngineLock lock(engineMutex);
    return midiPorts.outputOpen != 0;
}
