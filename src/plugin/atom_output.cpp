#include "plugin/atom_output.h"

namespace {

// Bytes of the short message that starts with status.
uint32_t lengthOf(uint8_t status)
{
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    default:
        return 1;
    }
}

}  // namespace

void AtomOutput::sendShortMessage(uint32_t message)
{
    const uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                              static_cast<uint8_t>(message >> 16)};
    write(bytes, lengthOf(bytes[0]));
}

bool AtomOutput::sendLongMessage(const uint8_t* data, size_t count)
{
    return write(data, static_cast<uint32_t>(count));
}

// Whole events only: a time stamp without its message would break the
// sequence for the host.
bool AtomOutput::write(const uint8_t* bytes, uint32_t size)
{
    const uint32_t needed = sizeof(int64_t) + sizeof(LV2_Atom) + lv2_atom_pad_size(size);
    if (!forge_ || forge_->size < forge_->offset + needed) {
        ++lost_;
        return false;
    }
    lv2_atom_forge_frame_time(forge_, frame_);
    lv2_atom_forge_atom(forge_, size, midiEvent_);
    lv2_atom_forge_write(forge_, bytes, size);
    return true;
}
