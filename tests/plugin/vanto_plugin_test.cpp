// The plugin as a host loads it: the bundle through lilv, notes and patch
// messages in atom sequences, files through the worker, and the state.

#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <pthread.h>

#include <atomic>
#include <filesystem>

#include "engine/engine.h"
#include "engine/input_dispatch.h"
#include "plugin/plugin_parameters.h"
#include "support/lv2_host.h"
#include "support/recording_midi.h"
#include "support/temp_dir.h"

#ifdef VANTO_COUNT_ALLOCATIONS
#include "support/allocation_counter.h"
#else
inline std::atomic<long> watchedThreadAllocations{0};
inline std::atomic<pthread_t> watchedThread{};
#endif

namespace {

using Bytes = std::vector<uint8_t>;

std::string parameterUri(const char* key)
{
    return std::string(VantoParameterPrefix) + key;
}

// One instance with its buffers, run a cycle at a time.
class PluginInstance {
public:
    PluginInstance(const LilvPlugin* plugin, UridMap& urids, TestWorker& worker)
        : in_(urids), out_(urids), worker_(worker)
    {
        const LV2_Feature* features[] = {urids.feature(), worker.feature(), nullptr};
        instance_ = lilv_plugin_instantiate(plugin, 48000, features);
        if (!instance_)
            return;
        lilv_instance_connect_port(instance_, 0, in_.sequence());
        lilv_instance_connect_port(instance_, 1, out_.sequence());
        workerInterface_ = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
        stateInterface_ = static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
        in_.begin();
    }
    ~PluginInstance()
    {
        if (instance_)
            lilv_instance_free(instance_);
    }
    bool ok() const { return instance_ && workerInterface_ && stateInterface_; }
    void activate() { lilv_instance_activate(instance_); }
    // Events for the next cycle go into input() until run().
    SequenceBuffer& input() { return in_; }
    // room: the bytes the output port has, all of its buffer when 0.
    std::vector<FramedMessage> run(uint32_t frames = 256, uint32_t room = 0)
    {
        in_.end();
        out_.prepareOutput(room);
        if (countRuns)
            watchedThread = pthread_self();
        lilv_instance_run(instance_, frames);
        watchedThread = pthread_t{};
        in_.begin();
        return out_.midiMessages();
    }
    SequenceBuffer& output() { return out_; }
    bool countRuns = false;  // the allocations that run() makes
    void pumpWorker() { worker_.pump(lilv_instance_get_handle(instance_), *workerInterface_); }
    void save(MemoryState& state)
    {
        stateInterface_->save(lilv_instance_get_handle(instance_), MemoryState::store, &state, 0, nullptr);
    }
    void restore(MemoryState& state)
    {
        stateInterface_->restore(lilv_instance_get_handle(instance_), MemoryState::retrieve, &state, 0, nullptr);
    }

private:
    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* workerInterface_ = nullptr;
    const LV2_State_Interface* stateInterface_ = nullptr;
    SequenceBuffer in_;
    SequenceBuffer out_;
    TestWorker& worker_;
};

class VantoPluginHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        world_ = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(world_, nullptr, VANTO_BUNDLE_DIR "/");
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        pluginUri_ = lilv_new_uri(world_, VantoPluginUri);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), pluginUri_);
        ASSERT_NE(plugin_, nullptr);
        names_[urids_.id(parameterUri(StatusKey).c_str())] = StatusKey;
        names_[urids_.id(parameterUri(ScaleFileKey).c_str())] = ScaleFileKey;
        names_[urids_.id(parameterUri("pitchWheelRange").c_str())] = "pitchWheelRange";
    }
    void TearDown() override
    {
        lilv_node_free(pluginUri_);
        lilv_world_free(world_);
    }
    std::unique_ptr<PluginInstance> instantiate()
    {
        auto instance = std::make_unique<PluginInstance>(plugin_, urids_, worker_);
        EXPECT_TRUE(instance->ok());
        instance->activate();
        return instance;
    }
    bool ask(const char* subject, const char* predicate, const char* object)
    {
        LilvNode* s = lilv_new_uri(world_, subject);
        LilvNode* p = lilv_new_uri(world_, predicate);
        LilvNode* o = lilv_new_uri(world_, object);
        const bool found = lilv_world_ask(world_, s, p, o);
        lilv_node_free(s);
        lilv_node_free(p);
        lilv_node_free(o);
        return found;
    }
    void setPath(PluginInstance& plugin, const char* key, const std::string& path)
    {
        plugin.input().beginSet(0, parameterUri(key));
        lv2_atom_forge_path(plugin.input().forge(), path.c_str(), static_cast<uint32_t>(path.size()));
        plugin.input().endSet();
    }
    void setInt(PluginInstance& plugin, int64_t frame, const char* key, int32_t value)
    {
        plugin.input().beginSet(frame, parameterUri(key));
        lv2_atom_forge_int(plugin.input().forge(), value);
        plugin.input().endSet();
    }
    // Loads the scale at path through the worker; what the plugin said.
    std::map<std::string, std::string> loadScale(PluginInstance& plugin, const std::string& path)
    {
        setPath(plugin, ScaleFileKey, path);
        plugin.run();
        EXPECT_EQ(worker_.waiting(), 1u);
        plugin.pumpWorker();
        plugin.run();
        const auto said = plugin.output().setTexts(names_);
        plugin.pumpWorker();  // the loaded file goes back to be freed
        return said;
    }

    LilvWorld* world_ = nullptr;
    LilvNode* pluginUri_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    UridMap urids_;
    TestWorker worker_;
    std::map<LV2_URID, std::string> names_;
    TempDir dir_;
};

TEST_F(VantoPluginHost, DescribesThePortsAndParametersTheBinaryHas)
{
    LilvNode* name = lilv_plugin_get_name(plugin_);
    EXPECT_STREQ(lilv_node_as_string(name), "Vanto");
    lilv_node_free(name);
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin_), 2u);
    LilvNode* atomPort = lilv_new_uri(world_, LV2_ATOM__AtomPort);
    LilvNode* input = lilv_new_uri(world_, LV2_CORE__InputPort);
    LilvNode* midi = lilv_new_uri(world_, LV2_MIDI__MidiEvent);
    for (uint32_t i = 0; i < 2; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, i);
        EXPECT_TRUE(lilv_port_is_a(plugin_, port, atomPort));
        EXPECT_EQ(lilv_port_is_a(plugin_, port, input), i == 0);
        EXPECT_TRUE(lilv_port_supports_event(plugin_, port, midi));
    }
    lilv_node_free(atomPort);
    lilv_node_free(input);
    lilv_node_free(midi);
    for (int i = 0; i < PluginParameterCount; ++i)
        EXPECT_TRUE(ask(VantoPluginUri, LV2_PATCH__writable, parameterUri(PluginParameters[i].key).c_str()))
            << PluginParameters[i].key;
    EXPECT_TRUE(ask(VantoPluginUri, LV2_PATCH__writable, parameterUri(ScaleFileKey).c_str()));
    EXPECT_TRUE(ask(parameterUri(MappingFileKey).c_str(), "http://www.w3.org/2000/01/rdf-schema#range",
                    LV2_ATOM__Path));
    EXPECT_TRUE(ask(VantoPluginUri, LV2_PATCH__readable, parameterUri(StatusKey).c_str()));
}

// The answers a relay gives to messages, each tagged with the frame of the
// message that caused it: the opening at frame 0, then each message's own.
std::vector<FramedMessage> engineAnswers(const std::vector<FramedMessage>& messages)
{
    Engine engine;
    RecordingOutput output;
    std::vector<FramedMessage> answers;
    EngineLock lock(engine.engineMutex);
    engine.buildInstrumentFrequencies();
    engine.setDefaultScale();
    engine.buildTuningTable();
    engine.midiPorts.midiOut = &output;
    engine.prepareOutputInstrument();
    const auto take = [&](int64_t frame) {
        for (const ShortMessage& m : output.shortMessages) {
            Bytes bytes{m.status, m.data1, m.data2};
            bytes.resize((m.status & 0xE0) == 0xC0 ? 2 : 3);
            answers.push_back({frame, bytes});
        }
        output.clear();
    };
    take(0);
    for (const FramedMessage& m : messages) {
        uint32_t word = 0;
        for (size_t i = 0; i < m.bytes.size(); ++i)
            word |= uint32_t{m.bytes[i]} << (8 * i);
        engine.handleMidiInput(nullptr, MimData, MimEngineLocked, word, 0);
        take(m.frame);
    }
    return answers;
}

TEST_F(VantoPluginHost, AnswersLeaveAtTheFramesOfTheirEventsAfterTheOpening)
{
    auto plugin = instantiate();
    const std::vector<FramedMessage> played = {
        {5, {0x90, 60, 100}}, {40, {0x90, 64, 90}}, {41, {0x80, 60, 0}}, {63, {0xB0, 7, 99}}, {200, {0xC0, 5}}};
    for (const FramedMessage& m : played)
        plugin->input().addMidi(m.frame, m.bytes);
    const std::vector<FramedMessage> answers = plugin->run();
    EXPECT_EQ(answers, engineAnswers(played));
    EXPECT_GT(answers.size(), played.size() + 16);  // the opening came first
    plugin->input().addMidi(9, {0x80, 64, 0});
    const std::vector<FramedMessage> next = plugin->run();
    ASSERT_EQ(next.size(), 1u) << "the opening goes once";
    EXPECT_EQ(next[0].frame, 9);
}

TEST_F(VantoPluginHost, LoadsAScaleThroughTheWorkerAndKeepsItWhenTheNextFails)
{
    auto plugin = instantiate();
    plugin->run();
    const std::string path = dir_.write("fifths.scl", "Just fifth\n2\n3/2\n2/1\n");
    auto said = loadScale(*plugin, path);
    EXPECT_EQ(said[StatusKey], "Just fifth");
    EXPECT_EQ(said[ScaleFileKey], path);
    plugin->input().addMidi(7, {0x90, 61, 90});
    std::vector<FramedMessage> out = plugin->run();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].frame, 7);
    EXPECT_EQ(out[0].bytes[0] & 0xF0, 0xE0);
    EXPECT_EQ(out[0].bytes[1] | (out[0].bytes[2] << 7), 8272);  // the just fifth, two cents sharp
    EXPECT_EQ(out[1].bytes, (Bytes{static_cast<uint8_t>(0x90 | (out[0].bytes[0] & 0x0F)), 67, 90}));

    said = loadScale(*plugin, dir_.path().string() + "/missing.scl");
    EXPECT_NE(said[StatusKey].find("not"), std::string::npos) << said[StatusKey];
    EXPECT_EQ(said.count(ScaleFileKey), 0u);
    plugin->input().addMidi(3, {0x80, 61, 0});
    plugin->input().addMidi(4, {0x90, 61, 90});
    out = plugin->run();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].bytes[1] | (out[1].bytes[2] << 7), 8272);
    EXPECT_EQ(out[2].bytes[1], 67);
}

TEST_F(VantoPluginHost, StateRestoresIntoANewInstanceWithoutTheFileAndPlaysTheSame)
{
    auto first = instantiate();
    setInt(*first, 0, "pitchWheelRange", 12);
    first->run();
    const std::string path = dir_.write("pelog.scl", "Pelog\n3\n120.0\n270.0\n1200.0\n");
    EXPECT_EQ(loadScale(*first, path)[StatusKey], "Pelog");
    MemoryState state;
    first->save(state);
    std::filesystem::remove(path);

    auto second = instantiate();
    second->restore(state);
    second->run();  // its opening
    const auto play = [](PluginInstance& plugin) {
        for (int key = 55; key < 70; ++key)
            plugin.input().addMidi(key, {0x90, static_cast<uint8_t>(key), 80});
        return plugin.run();
    };
    const auto heard = play(*first);
    EXPECT_EQ(play(*second), heard);
    EXPECT_EQ(heard.size(), 30u);

    second->input().addGet(0);
    second->run();
    const auto values = second->output().setTexts(names_);
    EXPECT_EQ(values.at("pitchWheelRange"), "12");
    EXPECT_EQ(values.at(ScaleFileKey), path);
}

TEST_F(VantoPluginHost, WhatTheOutputHasNoRoomForIsCountedAndTold)
{
    auto plugin = instantiate();
    const auto opening = plugin->run(256, 64);
    EXPECT_EQ(opening.size(), 2u);  // the room of 64 bytes holds two events of 24
    plugin->run();
    const std::string told = plugin->output().setTexts(names_).at(StatusKey);
    EXPECT_NE(told.find(" MIDI messages lost"), std::string::npos) << told;
    EXPECT_GT(std::stoi(told), 100);
    plugin->run();
    EXPECT_EQ(plugin->output().setTexts(names_).count(StatusKey), 0u) << "told once";
}

TEST_F(VantoPluginHost, DamagedStateRestoresWhatItCan)
{
    MemoryState state;
    const Bytes noise = {0x56, 0x4E, 0x54, 0x58, 0xFF, 0xFF, 0x01, 0x02, 0x03};
    state.values[urids_.id(parameterUri("settings").c_str())] = {noise, urids_.id(LV2_ATOM__Chunk)};
    state.values[urids_.id(parameterUri(ScaleFileKey).c_str())] = {Bytes{'x', '.', 's', 'c', 'l', 0},
                                                                   urids_.id(LV2_ATOM__Path)};
    state.values[urids_.id(parameterUri("scaleText").c_str())] = {Bytes{'!', '\n', 'x'}, urids_.id(LV2_ATOM__String)};
    auto plugin = instantiate();
    plugin->restore(state);
    plugin->input().addMidi(1, {0x90, 69, 100});
    const auto out = plugin->run();
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out.back().bytes[1], 69) << "equal temperament plays on";
    plugin->input().addGet(0);
    plugin->run();
    EXPECT_FALSE(plugin->output().setTexts(names_).at(StatusKey).empty());
}

TEST_F(VantoPluginHost, RunAllocatesNothing)
{
#ifndef VANTO_COUNT_ALLOCATIONS
    GTEST_SKIP() << "the sanitizers' allocators are not counted";
#endif
    auto plugin = instantiate();
    plugin->run();
    watchedThreadAllocations = 0;
    for (int cycle = 0; cycle < 50; ++cycle) {
        SequenceBuffer& in = plugin->input();
        for (int k = 0; k < 20; ++k)
            in.addMidi(k, {0x90, static_cast<uint8_t>(40 + (cycle + k) % 40), 100});
        in.addMidi(30, {0xB0, 64, static_cast<uint8_t>(cycle % 2 ? 127 : 0)});
        in.addMidi(31, {0xF0, 0x7D, 0x01, 0xF7});
        setInt(*plugin, 32, "pitchWheelRange", 2 + cycle % 3);
        in.addGet(33);
        for (int k = 0; k < 20; ++k)
            in.addMidi(40 + k, {0x80, static_cast<uint8_t>(40 + (cycle + k) % 40), 0});
        plugin->countRuns = true;
        const auto out = plugin->run();
        plugin->countRuns = false;
        ASSERT_FALSE(out.empty());
    }
    EXPECT_EQ(watchedThreadAllocations, 0);
}

}  // namespace
