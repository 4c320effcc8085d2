#include "engine/midi_ports.h"

MidiPorts midiPorts;
