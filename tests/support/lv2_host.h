#pragma once
// A small LV2 host for the plugin's tests: URIDs, a worker whose requests
// the test runs when it chooses, atom sequences built and read back, and a
// state store in memory.

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

struct FramedMessage {
    int64_t frame;
    std::vector<uint8_t> bytes;
    bool operator==(const FramedMessage&) const = default;
};

class UridMap {
public:
    UridMap() { feature_ = {LV2_URID__map, &map_}; }
    LV2_URID id(const char* uri)
    {
        auto [it, added] = ids_.try_emplace(uri, static_cast<LV2_URID>(ids_.size() + 1));
        return it->second;
    }
    LV2_URID_Map* map() { return &map_; }
    const LV2_Feature* feature() const { return &feature_; }

private:
    static LV2_URID mapUri(LV2_URID_Map_Handle self, const char* uri) { return static_cast<UridMap*>(self)->id(uri); }
    std::map<std::string, LV2_URID> ids_;
    LV2_URID_Map map_{this, mapUri};
    LV2_Feature feature_{};
};

// Requests wait until pump(): then the plugin's work runs, and its responses
// reach it as the host's audio thread would hand them on.
class TestWorker {
public:
    TestWorker() { feature_ = {LV2_WORKER__schedule, &schedule_}; }
    const LV2_Feature* feature() const { return &feature_; }
    void pump(LV2_Handle plugin, const LV2_Worker_Interface& worker)
    {
        while (!requests_.empty()) {
            const std::vector<uint8_t> request = requests_.front();
            requests_.pop_front();
            std::vector<std::vector<uint8_t>> responses;
            worker.work(plugin, respond, &responses, static_cast<uint32_t>(request.size()), request.data());
            for (const auto& r : responses)
                worker.work_response(plugin, static_cast<uint32_t>(r.size()), r.data());
        }
    }
    size_t waiting() const { return requests_.size(); }

private:
    static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle self, uint32_t size, const void* data)
    {
        const auto* bytes = static_cast<const uint8_t*>(data);
        static_cast<TestWorker*>(self)->requests_.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle responses, uint32_t size, const void* data)
    {
        const auto* bytes = static_cast<const uint8_t*>(data);
        static_cast<std::vector<std::vector<uint8_t>>*>(responses)->emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }
    std::deque<std::vector<uint8_t>> requests_;
    LV2_Worker_Schedule schedule_{this, schedule};
    LV2_Feature feature_{};
};

// What a plugin's state holds, key by key.
class MemoryState {
public:
    struct Value {
        std::vector<uint8_t> bytes;
        uint32_t type;
    };
    static LV2_State_Status store(LV2_State_Handle self, uint32_t key, const void* value, size_t size, uint32_t type,
                                  uint32_t)
    {
        const auto* bytes = static_cast<const uint8_t*>(value);
        static_cast<MemoryState*>(self)->values[key] = Value{{bytes, bytes + size}, type};
        return LV2_STATE_SUCCESS;
    }
    static const void* retrieve(LV2_State_Handle self, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
    {
        auto& values = static_cast<MemoryState*>(self)->values;
        const auto it = values.find(key);
        if (it == values.end())
            return nullptr;
        *size = it->second.bytes.size();
        *type = it->second.type;
        *flags = LV2_STATE_IS_POD;
        return it->second.bytes.data();
    }
    std::map<uint32_t, Value> values;
};

// An atom sequence buffer, filled through a forge or read back.
class SequenceBuffer {
public:
    explicit SequenceBuffer(UridMap& urids, size_t capacity = 65536) : memory_(capacity / 8), urids_(urids)
    {
        lv2_atom_forge_init(&forge_, urids.map());
    }
    LV2_Atom_Sequence* sequence() { return reinterpret_cast<LV2_Atom_Sequence*>(memory_.data()); }
    // An empty sequence to fill: begin(), then add events.
    void begin()
    {
        lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(memory_.data()), memory_.size() * 8);
        lv2_atom_forge_sequence_head(&forge_, &frame_, 0);
    }
    void end() { lv2_atom_forge_pop(&forge_, &frame_); }
    // Room for the plugin to write into: all of the buffer, or room bytes.
    void prepareOutput(uint32_t room = 0)
    {
        sequence()->atom.type = 0;
        sequence()->atom.size = room ? room : static_cast<uint32_t>(memory_.size() * 8 - sizeof(LV2_Atom));
    }
    void addMidi(int64_t frame, const std::vector<uint8_t>& bytes)
    {
        lv2_atom_forge_frame_time(&forge_, frame);
        lv2_atom_forge_atom(&forge_, static_cast<uint32_t>(bytes.size()), urids_.id(LV2_MIDI__MidiEvent));
        lv2_atom_forge_write(&forge_, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    // A patch:Set of property; write the value with forge() between.
    void beginSet(int64_t frame, const std::string& property)
    {
        lv2_atom_forge_frame_time(&forge_, frame);
        lv2_atom_forge_object(&forge_, &object_, 0, urids_.id(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge_, urids_.id(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge_, urids_.id(property.c_str()));
        lv2_atom_forge_key(&forge_, urids_.id(LV2_PATCH__value));
    }
    void endSet() { lv2_atom_forge_pop(&forge_, &object_); }
    void addGet(int64_t frame)
    {
        lv2_atom_forge_frame_time(&forge_, frame);
        lv2_atom_forge_object(&forge_, &object_, 0, urids_.id(LV2_PATCH__Get));
        lv2_atom_forge_pop(&forge_, &object_);
    }
    LV2_Atom_Forge* forge() { return &forge_; }
    std::vector<FramedMessage> midiMessages()
    {
        std::vector<FramedMessage> out;
        LV2_ATOM_SEQUENCE_FOREACH (sequence(), event) {
            if (event->body.type != urids_.id(LV2_MIDI__MidiEvent))
                continue;
            const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body));
            out.push_back({event->time.frames, {bytes, bytes + event->body.size}});
        }
        return out;
    }
    // The values of the patch:Set messages written, as text, by property.
    std::map<std::string, std::string> setTexts(const std::map<LV2_URID, std::string>& names)
    {
        std::map<std::string, std::string> out;
        LV2_ATOM_SEQUENCE_FOREACH (sequence(), event) {
            if (event->body.type != urids_.id(LV2_ATOM__Object))
                continue;
            const LV2_Atom* property = nullptr;
            const LV2_Atom* value = nullptr;
            lv2_atom_object_get(reinterpret_cast<const LV2_Atom_Object*>(&event->body), urids_.id(LV2_PATCH__property),
                                &property, urids_.id(LV2_PATCH__value), &value, 0);
            if (!property || !value)
                continue;
            const auto it = names.find(reinterpret_cast<const LV2_Atom_URID*>(property)->body);
            const std::string name = it == names.end() ? "?" : it->second;
            if (value->type == urids_.id(LV2_ATOM__String) || value->type == urids_.id(LV2_ATOM__Path))
                out[name] = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
            else if (value->type == urids_.id(LV2_ATOM__Int) || value->type == urids_.id(LV2_ATOM__Bool))
                out[name] = std::to_string(reinterpret_cast<const LV2_Atom_Int*>(value)->body);
            else if (value->type == urids_.id(LV2_ATOM__Float))
                out[name] = std::to_string(reinterpret_cast<const LV2_Atom_Float*>(value)->body);
        }
        return out;
    }

private:
    std::vector<uint64_t> memory_;
    UridMap& urids_;
    LV2_Atom_Forge forge_{};
    LV2_Atom_Forge_Frame frame_{};
    LV2_Atom_Forge_Frame object_{};
};
