#pragma once
// The engine's output device inside a plugin: every message goes into the
// run's output sequence at the frame of the event being answered. It writes
// the sequence itself, without a forge: a message costs two stores and a
// copy, which keeps the plugin's cost per note close to the engine's.

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/urid/urid.h>

#include <cstdint>

#include "engine/midi_device.h"

class AtomOutput : public MidiOutput {
public:
    // sequence: the output port's buffer for this run, whose atom size the
    // host set to the room it has.
    void begin(LV2_Atom_Sequence* sequence, LV2_URID sequenceType, LV2_URID midiEvent);
    void end() { sequence_ = nullptr; }
    // Where the answers to the next event go.
    void setFrame(int64_t frame) { frame_ = frame; }
    int64_t frame() const { return frame_; }

    void sendShortMessage(uint32_t message) override;
    bool sendLongMessage(const uint8_t* data, size_t count) override;
    // An event of any type at the current frame, whole or not at all.
    bool writeEvent(LV2_URID type, const void* body, uint32_t size);

    // Messages the output buffer had no room for, since the start.
    uint64_t lost() const { return lost_; }

private:
    LV2_Atom_Sequence* sequence_ = nullptr;
    uint8_t* body_ = nullptr;  // where the sequence's events start
    uint32_t capacity_ = 0;  // bytes of the sequence's body
    LV2_URID midiEvent_ = 0;
    int64_t frame_ = 0;
    uint64_t lost_ = 0;
};
