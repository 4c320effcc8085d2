#include "plugin/atom_output.h"

#include <bit>
#include <cstring>

#include "platform/midi_bytes.h"

void AtomOutput::begin(LV2_Atom_Sequence* sequence, LV2_URID sequenceType, LV2_URID midiEvent)
{
    sequence_ = sequence;
    body_ = reinterpret_cast<uint8_t*>(&sequence->body);
    capacity_ = sequence->atom.size;
    midiEvent_ = midiEvent;
    frame_ = 0;
    sequence->atom.type = sequenceType;
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    sequence->body.unit = 0;
    sequence->body.pad = 0;
}

// The packed word's bytes are the message's in order (little-endian), and
// an event's body has room for eight: one fixed-size store.
static_assert(std::endian::native == std::endian::little);

void AtomOutput::sendShortMessage(uint32_t message)
{
    uint8_t bytes[3];
    const size_t length = unpackShortMessage(message, bytes);
    if (length == 0)
        return;  // no status a short message can carry
    constexpr uint32_t needed = sizeof(LV2_Atom_Event) + 8;
    if (!sequence_ || capacity_ < sequence_->atom.size + needed) {
        ++lost_;
        return;
    }
    uint8_t* at = body_ + sequence_->atom.size;
    auto* event = reinterpret_cast<LV2_Atom_Event*>(at);
    event->time.frames = frame_;
    event->body.size = static_cast<uint32_t>(length);
    event->body.type = midiEvent_;
    const uint64_t body = bytes[0] | uint64_t{bytes[1]} << 8 | uint64_t{bytes[2]} << 16;
    std::memcpy(at + sizeof(LV2_Atom_Event), &body, sizeof body);
    sequence_->atom.size += needed;
}

bool AtomOutput::sendLongMessage(const uint8_t* data, size_t count)
{
    return writeEvent(midiEvent_, data, static_cast<uint32_t>(count));
}

bool AtomOutput::writeEvent(LV2_URID type, const void* body, uint32_t size)
{
    const uint32_t needed = sizeof(LV2_Atom_Event) + lv2_atom_pad_size(size);
    if (!sequence_ || capacity_ < sequence_->atom.size + needed) {
        ++lost_;
        return false;
    }
    uint8_t* at = body_ + sequence_->atom.size;
    auto* event = reinterpret_cast<LV2_Atom_Event*>(at);
    event->time.frames = frame_;
    event->body.size = size;
    event->body.type = type;
    std::memcpy(at + sizeof(LV2_Atom_Event), body, size);
    sequence_->atom.size += needed;
    return true;
}
