#include "plugin/vanto_plugin.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/config_file.h"
#include "engine/input_dispatch.h"
#include "engine/scale_loading.h"

namespace {

constexpr size_t MaxRequestPath = 4096;

// What run() asks of the worker: a file to load (path non-empty, or an
// empty mapping path for none), or a loaded file to free.
struct WorkRequest {
    TuningFileKind kind;
    LoadedTuningFile* done;  // to free; null for a load
    char path[MaxRequestPath];
};

constexpr size_t RequestHeaderSize = offsetof(WorkRequest, path);

const void* featureData(const LV2_Feature* const* features, const char* uri)
{
    for (int i = 0; features && features[i]; ++i) {
        if (std::strcmp(features[i]->URI, uri) == 0)
            return features[i]->data;
    }
    return nullptr;
}

// The number an atom holds, for a parameter; false for another type.
bool numberOf(const LV2_Atom& value, LV2_URID atomInt, LV2_URID atomLong, LV2_URID atomFloat, LV2_URID atomDouble,
              LV2_URID atomBool, double& number)
{
    const void* body = LV2_ATOM_BODY_CONST(&value);
    if (value.type == atomInt && value.size >= sizeof(int32_t))
        number = *static_cast<const int32_t*>(body);
    else if (value.type == atomLong && value.size >= sizeof(int64_t))
        number = static_cast<double>(*static_cast<const int64_t*>(body));
    else if (value.type == atomFloat && value.size >= sizeof(float))
        number = *static_cast<const float*>(body);
    else if (value.type == atomDouble && value.size >= sizeof(double))
        number = *static_cast<const double*>(body);
    else if (value.type == atomBool && value.size >= sizeof(int32_t))
        number = *static_cast<const int32_t*>(body) != 0;
    else
        return false;
    return true;
}

// A string atom's text, when it is terminated within its size.
const char* textOf(const LV2_Atom& value)
{
    const auto* text = static_cast<const char*>(LV2_ATOM_BODY_CONST(&value));
    return value.size > 0 && std::memchr(text, '\0', value.size) ? text : nullptr;
}

void copyText(char (&out)[MaxSettingTextLength + 1], const std::string& text)
{
    std::snprintf(out, sizeof out, "%s", text.size() <= MaxSettingTextLength ? text.c_str() : "");
}

// The packed word of bytes when they are one whole channel message, as a
// host's MIDI event nearly always is; 0 for anything else, which the input
// device's checks then take apart.
uint32_t channelMessageWord(const uint8_t* bytes, uint32_t size)
{
    const uint8_t status = bytes[0];
    if (status < 0x80 || status >= 0xF0 || size != ((status & 0xE0) == 0xC0 ? 2u : 3u))
        return 0;
    if (bytes[1] >= 0x80 || (size == 3 && bytes[2] >= 0x80))
        return 0;
    return status | uint32_t{bytes[1]} << 8 | (size == 3 ? uint32_t{bytes[2]} << 16 : 0);
}

}  // namespace

std::string parseTuningText(LoadedTuningFile& file)
{
    if (file.kind == TuningFileKind::Mapping && file.path.empty())
        return {};
    std::FILE* stream = file.text.empty() ? nullptr : fmemopen(file.text.data(), file.text.size(), "rb");
    if (!stream)
        return "The file is empty.";
    const std::string error = file.kind == TuningFileKind::Scale
                                  ? parseScaleFile(stream, file.path.c_str(), file.scale, nullptr)
                                  : parseMappingFile(stream, file.path.c_str(), file.mapping);
    std::fclose(stream);
    return error;
}

std::unique_ptr<VantoPlugin> VantoPlugin::create(const LV2_Feature* const* features)
{
    const auto* map = static_cast<const LV2_URID_Map*>(featureData(features, LV2_URID__map));
    auto* schedule = static_cast<LV2_Worker_Schedule*>(const_cast<void*>(featureData(features, LV2_WORKER__schedule)));
    auto* log = static_cast<LV2_Log_Log*>(const_cast<void*>(featureData(features, LV2_LOG__log)));
    if (!map || !schedule)
        return nullptr;
    return std::unique_ptr<VantoPlugin>(new VantoPlugin(*map, *schedule, log));
}

VantoPlugin::VantoPlugin(const LV2_URID_Map& map, LV2_Worker_Schedule& schedule, LV2_Log_Log* log)
    : map_(map), schedule_(schedule)
{
    lv2_log_logger_init(&logger_, const_cast<LV2_URID_Map*>(&map_), log);
    lv2_atom_forge_init(&forge_, &map_);
    const auto id = [this](const std::string& uri) { return map_.map(map_.handle, uri.c_str()); };
    const std::string prefix = VantoParameterPrefix;
    uris_ = Uris{id(LV2_ATOM__Bool), id(LV2_ATOM__Chunk), id(LV2_ATOM__Double), id(LV2_ATOM__Float),
                 id(LV2_ATOM__Int), id(LV2_ATOM__Long), id(LV2_ATOM__Path), id(LV2_ATOM__Sequence),
                 id(LV2_ATOM__String), id(LV2_ATOM__URID), id(LV2_MIDI__MidiEvent), id(LV2_PATCH__Get),
                 id(LV2_PATCH__Set), id(LV2_PATCH__property), id(LV2_PATCH__value), id(prefix + ScaleFileKey),
                 id(prefix + MappingFileKey), id(prefix + StatusKey), id(prefix + "settings"),
                 id(prefix + "scaleText"), id(prefix + "mappingText"), {}};
    for (int i = 0; i < PluginParameterCount; ++i)
        uris_.parameter[i] = id(prefix + PluginParameters[i].key);

    EngineLock lock(engine_.engineMutex);
    engine_.buildInstrumentFrequencies();
    engine_.setDefaultScale();
    engine_.buildTuningTable();
    SysexInput& sysex = engine_.sysexInput;
    sysex.header = SysexBuffer{sysex.buffer, SysexBufferSize, 0, 0};
    sysex.bufferReady = input_.prepareBuffer(sysex.header) == 0 && input_.addBuffer(sysex.header) == 0;
    input_.start();
    engine_.midiPorts.midiIn = &input_;
    engine_.midiPorts.inputOpen = 1;
    engine_.midiPorts.midiOut = &output_;
    engine_.midiPorts.outputOpen = 1;
}

VantoPlugin::~VantoPlugin()
{
    for (LoadedTuningFile* file : arrived_)
        delete file;
    for (LoadedTuningFile* file : unfreed_)
        delete file;
}

void VantoPlugin::connectPort(uint32_t port, void* data)
{
    if (port == MidiIn)
        in_ = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == MidiOut)
        out_ = static_cast<LV2_Atom_Sequence*>(data);
}

void VantoPlugin::run(uint32_t /*frames*/)
{
    if (!out_)
        return;
    output_.begin(out_, uris_.atomSequence, uris_.midiEvent);
    if (!engine_.engineMutex.try_lock()) {
        if (in_) {
            LV2_ATOM_SEQUENCE_FOREACH (in_, event)
                deferEvent(*event);
        }
    } else {
        replayDeferred();
        retryFrees();
        installArrived();
        if (openingDue_)
            prepareInstrument();
        if (in_) {
            LV2_ATOM_SEQUENCE_FOREACH (in_, event)
                handleEvent(*event);
        }
        engine_.engineMutex.unlock();
    }
    reportLosses();
    output_.end();
}

// Messages lost for want of room are told through the status, once for
// each new count.
void VantoPlugin::reportLosses()
{
    const uint64_t lost = lostMessages();
    if (lost == reportedLosses_)
        return;
    reportedLosses_ = lost;
    std::snprintf(status_, sizeof status_, "%llu MIDI message%s lost", static_cast<unsigned long long>(lost),
                  lost == 1 ? "" : "s");
    notifyText(uris_.status, uris_.atomString, status_);
}

void VantoPlugin::handleEvent(const LV2_Atom_Event& event)
{
    output_.setFrame(event.time.frames);
    const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event.body));
    if (event.body.type == uris_.midiEvent) {
        if (const uint32_t word = channelMessageWord(bytes, event.body.size))
            engine_.handleMidiInput(&input_, MimData, MimEngineLocked, word, 0);
        else
            input_.deliver(bytes, event.body.size, MimEngineLocked);
    }
    else if (lv2_atom_forge_is_object_type(&forge_, event.body.type))
        handleObject(reinterpret_cast<const LV2_Atom_Object&>(event.body));
}

// Kept whole, with the atom's header, so that an object can be read back.
void VantoPlugin::deferEvent(const LV2_Atom_Event& event)
{
    if (!deferred_.push(reinterpret_cast<const uint8_t*>(&event.body), sizeof(LV2_Atom) + event.body.size))
        ++lostInput_;
}

// What waited for the lock goes first, at the start of the run.
void VantoPlugin::replayDeferred()
{
    size_t size = 0;
    while (const uint8_t* bytes = deferred_.front(size)) {
        alignas(8) uint8_t copy[sizeof(LV2_Atom_Event) + MaxRequestPath + 256];
        if (size - sizeof(LV2_Atom) + sizeof(LV2_Atom_Event) <= sizeof copy) {
            auto* event = reinterpret_cast<LV2_Atom_Event*>(copy);
            event->time.frames = 0;
            std::memcpy(&event->body, bytes, size);
            handleEvent(*event);
        }
        deferred_.pop();
    }
}

void VantoPlugin::handleObject(const LV2_Atom_Object& object)
{
    if (object.body.otype == uris_.patchGet) {
        notifyAll();
        return;
    }
    if (object.body.otype != uris_.patchSet)
        return;
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    lv2_atom_object_get(&object, uris_.patchProperty, &property, uris_.patchValue, &value, 0);
    if (!property || !value || property->type != uris_.atomUrid)
        return;
    setParameter(reinterpret_cast<const LV2_Atom_URID*>(property)->body, *value);
}

void VantoPlugin::setParameter(LV2_URID property, const LV2_Atom& value)
{
    if (property == uris_.scaleFile || property == uris_.mappingFile) {
        requestLoad(property == uris_.scaleFile ? TuningFileKind::Scale : TuningFileKind::Mapping, value);
        return;
    }
    const int index = parameterOf(property);
    double number = 0;
    if (index < 0 || !numberOf(value, uris_.atomInt, uris_.atomLong, uris_.atomFloat, uris_.atomDouble,
                               uris_.atomBool, number))
        return;
    const PluginParameter& parameter = PluginParameters[index];
    const double limited = limitedValue(parameter, number);
    if (limited == parameter.get(engine_.settings))
        return;
    parameter.set(engine_.settings, limited);
    if (parameter.retunes)
        prepareInstrument();
}

int VantoPlugin::parameterOf(LV2_URID property) const
{
    for (int i = 0; i < PluginParameterCount; ++i) {
        if (uris_.parameter[i] == property)
            return i;
    }
    return -1;
}

// As after Midi Setup in the program: the table for the new reference and
// range, then the opening sequence.
void VantoPlugin::prepareInstrument()
{
    engine_.buildInstrumentFrequencies();
    engine_.buildTuningTable();
    engine_.prepareOutputInstrument();
    openingDue_ = false;
}

void VantoPlugin::requestLoad(TuningFileKind kind, const LV2_Atom& path)
{
    const char* text = textOf(path);
    WorkRequest request;
    request.kind = kind;
    request.done = nullptr;
    const size_t length = text ? std::strlen(text) : 0;
    if (!text || length >= MaxRequestPath || (kind == TuningFileKind::Scale && length == 0)) {
        std::snprintf(status_, sizeof status_, "%s", "The file name is not usable.");
        notifyText(uris_.status, uris_.atomString, status_);
        return;
    }
    if (filesInFlight_.load() >= MaxFilesInFlight) {
        std::snprintf(status_, sizeof status_, "%s", "Still loading the files asked for before: try again.");
        notifyText(uris_.status, uris_.atomString, status_);
        return;
    }
    std::memcpy(request.path, text, length + 1);
    ++filesInFlight_;
    if (schedule_.schedule_work(schedule_.handle, static_cast<uint32_t>(RequestHeaderSize + length + 1), &request) !=
        LV2_WORKER_SUCCESS)
        --filesInFlight_;
}

// A file the worker could not take now waits to be handed to it again at
// the next run. There is always a place: no more files are loading at once
// than there are places.
void VantoPlugin::freeLater(LoadedTuningFile* file)
{
    WorkRequest request;
    request.kind = file->kind;
    request.done = file;
    if (schedule_.schedule_work(schedule_.handle, RequestHeaderSize, &request) == LV2_WORKER_SUCCESS)
        return;
    for (LoadedTuningFile*& waiting : unfreed_) {
        if (!waiting) {
            waiting = file;
            return;
        }
    }
}

void VantoPlugin::retryFrees()
{
    for (LoadedTuningFile*& waiting : unfreed_) {
        if (waiting)
            freeLater(std::exchange(waiting, nullptr));
    }
}

LV2_Worker_Status VantoPlugin::work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                                    uint32_t size, const void* data)
{
    if (size < RequestHeaderSize)
        return LV2_WORKER_ERR_UNKNOWN;
    WorkRequest request;
    std::memcpy(&request, data, std::min<size_t>(size, sizeof request));
    if (request.done) {
        delete request.done;
        --filesInFlight_;
        return LV2_WORKER_SUCCESS;
    }
    request.path[std::min<size_t>(size - RequestHeaderSize, MaxRequestPath - 1)] = '\0';
    auto file = std::make_unique<LoadedTuningFile>();
    file->kind = request.kind;
    file->path = request.path;
    if (!file->path.empty())
        file->error = readTuningFile(request.path, file->text);
    if (file->error.empty())
        file->error = parseTuningText(*file);
    if (!file->error.empty()) {
        lv2_log_error(&logger_, "Vanto: \"%s\" did not load: %s\n", request.path, file->error.c_str());
    } else {
        std::lock_guard<std::mutex> lock(filesMutex_);
        files_.path[static_cast<int>(file->kind)] = file->path;
        files_.text[static_cast<int>(file->kind)] = file->text;
    }
    LoadedTuningFile* handed = file.release();
    if (respond(handle, sizeof handed, &handed) != LV2_WORKER_SUCCESS) {
        delete handed;
        --filesInFlight_;
        return LV2_WORKER_ERR_NO_SPACE;
    }
    return LV2_WORKER_SUCCESS;
}

// In the real-time context: the file waits for the next run. A newer one of
// the same kind replaces one not yet put in force.
LV2_Worker_Status VantoPlugin::workResponse(uint32_t size, const void* data)
{
    if (size != sizeof(LoadedTuningFile*))
        return LV2_WORKER_ERR_UNKNOWN;
    LoadedTuningFile* file = nullptr;
    std::memcpy(&file, data, sizeof file);
    LoadedTuningFile*& slot = arrived_[static_cast<int>(file->kind)];
    if (slot)
        freeLater(std::exchange(slot, nullptr));
    slot = file;
    return LV2_WORKER_SUCCESS;
}

void VantoPlugin::installArrived()
{
    for (LoadedTuningFile*& slot : arrived_) {
        LoadedTuningFile* file = std::exchange(slot, nullptr);
        if (!file)
            continue;
        if (file->error.empty())
            installFile(*file);
        // The program's status line, written in place: no string is made here.
        if (!file->error.empty())
            std::snprintf(status_, sizeof status_, "%s", file->error.c_str());
        else if (engine_.keyboardMapping.active)
            std::snprintf(status_, sizeof status_, "%.120s  |  %.120s", engine_.scale.name, engine_.keyboardMapping.name);
        else
            std::snprintf(status_, sizeof status_, "%s", engine_.scale.name);
        notifyText(uris_.status, uris_.atomString, status_);
        if (file->error.empty()) {
            const bool scale = file->kind == TuningFileKind::Scale;
            notifyText(scale ? uris_.scaleFile : uris_.mappingFile, uris_.atomPath, file->path.c_str());
        }
        freeLater(file);
    }
}

// As a load in the program: the table rebuilt, the channels reset.
void VantoPlugin::installFile(const LoadedTuningFile& file)
{
    installRecords(file);
    engine_.buildTuningTable();
    engine_.resetChannels();
}

void VantoPlugin::installRecords(const LoadedTuningFile& file)
{
    if (file.kind == TuningFileKind::Scale) {
        engine_.installScale(file.scale);
        copyText(engine_.settings.scalePath, file.path);
    } else if (file.path.empty()) {
        engine_.clearKeyboardMapping();
        engine_.settings.mappingPath[0] = '\0';
    } else {
        engine_.installKeyboardMapping(file.mapping);
        copyText(engine_.settings.mappingPath, file.path);
    }
}

// A patch:Set of property, built aside and written as one event.
template <typename WriteValue>
void VantoPlugin::notify(LV2_URID property, WriteValue writeValue)
{
    lv2_atom_forge_set_buffer(&forge_, scratch_, sizeof scratch_);
    LV2_Atom_Forge_Frame frame;
    const LV2_Atom_Forge_Ref object = lv2_atom_forge_object(&forge_, &frame, 0, uris_.patchSet);
    lv2_atom_forge_key(&forge_, uris_.patchProperty);
    lv2_atom_forge_urid(&forge_, property);
    lv2_atom_forge_key(&forge_, uris_.patchValue);
    const LV2_Atom_Forge_Ref value = writeValue();
    lv2_atom_forge_pop(&forge_, &frame);
    if (!object || !value)
        return;
    const auto* atom = reinterpret_cast<const LV2_Atom*>(scratch_);
    output_.writeEvent(atom->type, atom + 1, atom->size);
}

void VantoPlugin::notifyText(LV2_URID property, LV2_URID type, const char* text)
{
    const auto length = static_cast<uint32_t>(std::strlen(text));
    notify(property, [&] { return lv2_atom_forge_typed_string(&forge_, type, text, length); });
}

void VantoPlugin::notifyNumber(const PluginParameter& parameter, LV2_URID property, double value)
{
    notify(property, [&] {
        if (parameter.type == ParameterType::Float)
            return lv2_atom_forge_float(&forge_, static_cast<float>(value));
        if (parameter.type == ParameterType::Bool)
            return lv2_atom_forge_bool(&forge_, value != 0);
        return lv2_atom_forge_int(&forge_, static_cast<int32_t>(value));
    });
}

// Every parameter's value, for a host that asks (patch:Get).
void VantoPlugin::notifyAll()
{
    for (int i = 0; i < PluginParameterCount; ++i)
        notifyNumber(PluginParameters[i], uris_.parameter[i], PluginParameters[i].get(engine_.settings));
    notifyText(uris_.scaleFile, uris_.atomPath, engine_.settings.scalePath);
    notifyText(uris_.mappingFile, uris_.atomPath, engine_.settings.mappingPath);
    notifyText(uris_.status, uris_.atomString, status_);
}

LV2_State_Status VantoPlugin::save(LV2_State_Store_Function store, LV2_State_Handle handle,
                                   const LV2_Feature* const* features)
{
    Settings settings;
    {
        EngineLock lock(engine_.engineMutex);
        settings = engine_.settings;
    }
    uint8_t image[MaxConfigFileSize];
    const int length = encodeConfig(settings, image);
    const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    store(handle, uris_.settings, image, static_cast<size_t>(length), uris_.atomChunk, flags);
    TuningFiles files;
    {
        std::lock_guard<std::mutex> lock(filesMutex_);
        files = files_;
    }
    const auto* mapPath = static_cast<const LV2_State_Map_Path*>(featureData(features, LV2_STATE__mapPath));
    const LV2_URID pathKey[TuningFileKinds] = {uris_.scaleFile, uris_.mappingFile};
    const LV2_URID textKey[TuningFileKinds] = {uris_.scaleText, uris_.mappingText};
    for (int k = 0; k < TuningFileKinds; ++k) {
        if (files.path[k].empty())
            continue;
        char* abstract = mapPath ? mapPath->abstract_path(mapPath->handle, files.path[k].c_str()) : nullptr;
        const char* path = abstract ? abstract : files.path[k].c_str();
        store(handle, pathKey[k], path, std::strlen(path) + 1, uris_.atomPath, flags);
        std::free(abstract);
        store(handle, textKey[k], files.text[k].c_str(), files.text[k].size() + 1, uris_.atomString, flags);
    }
    return LV2_STATE_SUCCESS;
}

// Restores what it can: settings from a newer version keep what this one
// knows; a file that does not parse leaves the default in its place and
// says so through the log and the status.
LV2_State_Status VantoPlugin::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                                      const LV2_Feature* const* features)
{
    Settings settings = defaultSettings();
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    if (const void* image = retrieve(handle, uris_.settings, &size, &type, &flags); image && type == uris_.atomChunk)
        decodeConfig(static_cast<const uint8_t*>(image), static_cast<int>(std::min<size_t>(size, MaxConfigFileSize)),
                     settings);
    const auto* mapPath = static_cast<const LV2_State_Map_Path*>(featureData(features, LV2_STATE__mapPath));
    const LV2_URID pathKey[TuningFileKinds] = {uris_.scaleFile, uris_.mappingFile};
    const LV2_URID textKey[TuningFileKinds] = {uris_.scaleText, uris_.mappingText};
    LoadedTuningFile loaded[TuningFileKinds];
    TuningFiles files;
    for (int k = 0; k < TuningFileKinds; ++k) {
        LoadedTuningFile& file = loaded[k];
        file.kind = static_cast<TuningFileKind>(k);
        const auto* path = static_cast<const char*>(retrieve(handle, pathKey[k], &size, &type, &flags));
        if (!path || type != uris_.atomPath || !std::memchr(path, '\0', size))
            continue;
        char* absolute = mapPath ? mapPath->absolute_path(mapPath->handle, path) : nullptr;
        file.path = absolute ? absolute : path;
        std::free(absolute);
        const auto* text = static_cast<const char*>(retrieve(handle, textKey[k], &size, &type, &flags));
        if (text && type == uris_.atomString && size > 0)
            file.text.assign(text, strnlen(text, size));
        else
            file.error = readTuningFile(file.path.c_str(), file.text);
        if (file.error.empty())
            file.error = parseTuningText(file);
        if (!file.error.empty()) {
            lv2_log_error(&logger_, "Vanto: the saved \"%s\" did not load: %s\n", file.path.c_str(),
                          file.error.c_str());
            std::snprintf(status_, sizeof status_, "%s", file.error.c_str());
            continue;
        }
        files.path[k] = file.path;
        files.text[k] = file.text;
    }
    {
        std::lock_guard<std::mutex> lock(filesMutex_);
        files_ = files;
    }
    EngineLock lock(engine_.engineMutex);
    engine_.settings = settings;
    engine_.settings.scalePath[0] = '\0';
    engine_.settings.mappingPath[0] = '\0';
    engine_.setDefaultScale();
    engine_.clearKeyboardMapping();
    for (const LoadedTuningFile& file : loaded) {
        if (!file.path.empty() && file.error.empty())
            installRecords(file);
    }
    engine_.buildInstrumentFrequencies();
    engine_.buildTuningTable();
    openingDue_ = true;
    return LV2_STATE_SUCCESS;
}
