#pragma once
// The LV2 plugin: one engine per instance between a track's MIDI input and
// its MIDI output. Its parameters arrive as patch messages on the input;
// scale and mapping files are read on the host's worker thread and put in
// force at the start of the next run; the state keeps every setting, the
// paths and the files' text.
//
// run() takes the engine lock by trying: only save() takes it besides, for
// a copy of the settings. Events of a run that finds it taken wait in a
// ring for the next run, as the JACK cycle's do.

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/log/logger.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/buffered_input.h"
#include "platform/message_ring.h"
#include "plugin/atom_output.h"
#include "plugin/plugin_parameters.h"

enum class TuningFileKind : uint32_t { Scale = 0, Mapping = 1 };
constexpr int TuningFileKinds = 2;

// A scale or mapping file read and parsed off the real-time thread, handed
// to run() to put in force, and then back to the worker to be freed.
struct LoadedTuningFile {
    TuningFileKind kind = TuningFileKind::Scale;
    std::string path;  // "" for a mapping: none
    std::string text;
    std::string error;  // "" when it loaded
    Scale scale{};
    KeyboardMapping mapping{};
};

// Parses text (the file at path) as kind into file: its error, "" when it
// loaded. An empty path for a mapping means none.
std::string parseTuningText(LoadedTuningFile& file);

class VantoPlugin {
public:
    enum Port : uint32_t { MidiIn = 0, MidiOut = 1 };

    // Null when the host lacks a feature the plugin needs: URID mapping
    // and a worker.
    static std::unique_ptr<VantoPlugin> create(const LV2_Feature* const* features);
    ~VantoPlugin();

    void connectPort(uint32_t port, void* data);
    // The opening sequence goes out at the start of the next run.
    void activate() { openingDue_ = true; }
    void run(uint32_t frames);

    LV2_Worker_Status work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle, uint32_t size,
                           const void* data);
    LV2_Worker_Status workResponse(uint32_t size, const void* data);
    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle,
                          const LV2_Feature* const* features);
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                             const LV2_Feature* const* features);

    // Input events that waited for the engine lock and found no room, and
    // output messages the host's buffer could not hold.
    uint64_t lostMessages() const { return lostInput_ + output_.lost(); }

private:
    class Input : public BufferedInputDevice {
    public:
        using BufferedInputDevice::BufferedInputDevice;
        using BufferedInputDevice::deliver;
        void reset() override {}
        void close() override {}
    };

    struct Uris {
        LV2_URID atomBool, atomChunk, atomDouble, atomFloat, atomInt, atomLong, atomPath, atomSequence, atomString;
        LV2_URID atomUrid, midiEvent, patchGet, patchSet, patchProperty, patchValue;
        LV2_URID scaleFile, mappingFile, status, settings, scaleText, mappingText;
        LV2_URID parameter[MaxPluginParameters];
    };
    // What the state keeps of the files: written by the worker and by
    // restore, read by save.
    struct TuningFiles {
        std::string path[TuningFileKinds];
        std::string text[TuningFileKinds];
    };

    explicit VantoPlugin(const LV2_URID_Map& map, LV2_Worker_Schedule& schedule, LV2_Log_Log* log);

    void handleEvent(const LV2_Atom_Event& event) NEEDS_ENGINE_LOCK_OF(engine_);
    void deferEvent(const LV2_Atom_Event& event);
    void replayDeferred() NEEDS_ENGINE_LOCK_OF(engine_);
    void handleObject(const LV2_Atom_Object& object) NEEDS_ENGINE_LOCK_OF(engine_);
    void setParameter(LV2_URID property, const LV2_Atom& value) NEEDS_ENGINE_LOCK_OF(engine_);
    void installArrived() NEEDS_ENGINE_LOCK_OF(engine_);
    void prepareInstrument() NEEDS_ENGINE_LOCK_OF(engine_);
    void requestLoad(TuningFileKind kind, const LV2_Atom& path);
    void freeLater(LoadedTuningFile* file);
    void retryFrees();
    void reportLosses();
    void notifyAll() NEEDS_ENGINE_LOCK_OF(engine_);
    template <typename WriteValue>
    void notify(LV2_URID property, WriteValue writeValue);
    void notifyText(LV2_URID property, LV2_URID type, const char* text);
    void notifyNumber(const PluginParameter& parameter, LV2_URID property, double value);
    void installFile(const LoadedTuningFile& file) NEEDS_ENGINE_LOCK_OF(engine_);
    // The scale or mapping and its path, without a retuning.
    void installRecords(const LoadedTuningFile& file) NEEDS_ENGINE_LOCK_OF(engine_);
    int parameterOf(LV2_URID property) const;

    Engine engine_;
    Input input_{engine_};
    AtomOutput output_;
    LV2_URID_Map map_;
    LV2_Worker_Schedule schedule_;
    LV2_Log_Logger logger_{};
    Uris uris_{};
    // Builds patch messages aside, in scratch_, before they are written.
    LV2_Atom_Forge forge_{};
    alignas(8) uint8_t scratch_[4096 + 512];

    const LV2_Atom_Sequence* in_ = nullptr;
    LV2_Atom_Sequence* out_ = nullptr;
    bool openingDue_ = true;
    MessageRing deferred_{16384};
    uint64_t lostInput_ = 0;
    uint64_t reportedLosses_ = 0;
    // Loaded files waiting for the next run, by kind; written and read by
    // the real-time thread only (workResponse runs in its context).
    LoadedTuningFile* arrived_[TuningFileKinds] = {};
    // Files asked for and not yet freed, and those the worker had no room
    // to take back yet: never more than there are places.
    static constexpr int MaxFilesInFlight = 8;
    std::atomic<int> filesInFlight_{0};
    LoadedTuningFile* unfreed_[MaxFilesInFlight] = {};
    // The real-time thread's own copy of what the last load said.
    char status_[MaxSettingTextLength + 1] = "";

    std::mutex filesMutex_;
    TuningFiles files_;
};
