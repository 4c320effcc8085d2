// The plugin's run() with 64 notes in one cycle, against the same messages
// handed to an engine directly: what the plugin layer adds per event.

#include <benchmark/benchmark.h>

#include "engine/engine.h"
#include "engine/input_dispatch.h"
#include "engine/output_senders.h"
#include "plugin/vanto_plugin.h"
#include "support/lv2_host.h"

namespace {

constexpr int NotesPerCycle = 64;

class DiscardingOutput : public MidiOutput {
public:
    void sendShortMessage(uint32_t message) override { benchmark::DoNotOptimize(message); }
    bool sendLongMessage(const uint8_t*, size_t) override { return true; }
};

uint8_t keyOf(int n)
{
    return static_cast<uint8_t>(36 + n % 60);
}

// Cycle by cycle: 64 Note Ons, then their 64 Note Offs.
void PluginRunWith64Notes(benchmark::State& state)
{
    UridMap urids;
    TestWorker worker;
    const LV2_Feature* features[] = {urids.feature(), worker.feature(), nullptr};
    auto plugin = VantoPlugin::create(features);
    SequenceBuffer cycles[2] = {SequenceBuffer(urids), SequenceBuffer(urids)};
    for (int c = 0; c < 2; ++c) {
        cycles[c].begin();
        for (int n = 0; n < NotesPerCycle; ++n)
            cycles[c].addMidi(n * 4, {static_cast<uint8_t>(c == 0 ? 0x90 : 0x80), keyOf(n), 100});
        cycles[c].end();
    }
    SequenceBuffer out(urids, 1 << 16);
    plugin->connectPort(VantoPlugin::MidiOut, out.sequence());
    out.prepareOutput();
    plugin->run(256);  // the opening
    int cycle = 0;
    for (auto _ : state) {
        plugin->connectPort(VantoPlugin::MidiIn, cycles[cycle].sequence());
        out.prepareOutput();
        plugin->run(256);
        cycle ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * NotesPerCycle);
}
BENCHMARK(PluginRunWith64Notes);

void EngineWith64Notes(benchmark::State& state)
{
    Engine engine;
    DiscardingOutput discard;
    EngineLock lock(engine.engineMutex);
    engine.buildInstrumentFrequencies();
    engine.setDefaultScale();
    engine.buildTuningTable();
    engine.midiPorts.midiOut = &discard;
    engine.resetChannels();
    int cycle = 0;
    for (auto _ : state) {
        const uint8_t kind = cycle == 0 ? 0x90 : 0x80;
        for (int n = 0; n < NotesPerCycle; ++n)
            engine.handleMidiInput(nullptr, MimData, MimEngineLocked, packShortMessage(kind, 0, keyOf(n), 100), 0);
        cycle ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * NotesPerCycle);
}
BENCHMARK(EngineWith64Notes);

}  // namespace

BENCHMARK_MAIN();
