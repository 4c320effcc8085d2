#include "app/midi_ports.h"

MidiPorts midiPorts;
