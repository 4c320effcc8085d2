// Costs of the work done inside the MIDI callback.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "engine/engine.h"
#include "engine/input_dispatch.h"
#include "engine/midi_ports.h"
#include "engine/note_allocation.h"
#include "engine/output_senders.h"
#include "engine/scale_in_force.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "scale/keyboard_mapping.h"
#include "scale/scala_files.h"
#include "scale/scale.h"

namespace {

class DiscardingOutput : public MidiOutput {
public:
    void sendShortMessage(uint32_t message) override { benchmark::DoNotOptimize(message); }
    bool sendLongMessage(const uint8_t*, size_t) override { return true; }
};

DiscardingOutput discard;

void prepareEngine(Engine& engine, bool octave)
{
    engine.buildInstrumentFrequencies();
    engine.setDefaultScale();
    if (!octave) {
        Scale bp = engine.scale;
        std::strcpy(bp.name, "13 of 3/1");
        bp.degrees = 13;
        for (int k = 0; k <= 13; ++k)
            bp.ratio[k] = std::pow(3.0, k / 13.0);
        bp.ratio[13] = 3.0;
        bp.octavePeriod = 0;
        engine.installScale(bp);
    }
    engine.buildTuningTable();
    engine.midiPorts.midiOut = &discard;
    engine.resetChannels();
}

// Arg: the output mode.
void NoteOnOffThroughInputHandler(benchmark::State& state)
{
    Engine engine;
    engine.settings.outputMode = static_cast<int32_t>(state.range(0));
    prepareEngine(engine, true);
    uint8_t key = 40;
    for (auto _ : state) {
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x90, 0, key, 100), 0);
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x80, 0, key, 0), 0);
        key = key == 90 ? 40 : key + 1;
    }
}
BENCHMARK(NoteOnOffThroughInputHandler)->Arg(OutputPitchBend)->Arg(OutputMpe)->Arg(OutputMidiTuning);

// A wheel movement while fifteen channels sound: each gets its tuning plus
// the wheel (and its note's own bend, from an MPE controller: Arg 1).
void WheelMovesFifteenChannels(benchmark::State& state)
{
    Engine engine;
    for (int32_t& used : engine.settings.useChannel)
        used = 1;
    engine.settings.pitchWheelUse = PitchWheelBendNotes;
    engine.settings.pitchWheelRange = 12;
    engine.settings.mpeController = static_cast<int32_t>(state.range(0));
    prepareEngine(engine, false);
    for (uint8_t c = 0; c < 15; ++c) {
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0xE0, c + 1, 0, 0x48), 0);
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x90, c + 1, static_cast<uint8_t>(40 + 3 * c), 100), 0);
    }
    if (engine.noteAllocation.droppedNotes != 0)
        state.SkipWithError("not every note sounds");
    uint8_t position = 0;
    for (auto _ : state) {
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0xE0, 0, 0, position), 0);
        position = static_cast<uint8_t>((position + 1) & 0x7F);
    }
    state.counters["clamped"] = engine.noteAllocation.clampedBends;
}
BENCHMARK(WheelMovesFifteenChannels)->Arg(0)->Arg(1);

void BuildTuningTableOctaveMode(benchmark::State& state)
{
    Engine engine;
    prepareEngine(engine, true);
    for (auto _ : state) {
        engine.buildTuningTable();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BuildTuningTableOctaveMode);

// A board's 2048 indices (128 keys on each of 16 channels) in a 612-note
// scale: 612 equal steps of the octave (first Arg 1), or of 3/1 (0); in the
// output mode of the second Arg.
void BuildTuningTableBoard612(benchmark::State& state)
{
    Engine engine;
    engine.settings.outputMode = static_cast<int32_t>(state.range(1));
    engine.settings.keyLayout = KeyLayoutChannelOffset;
    engine.settings.keysPerChannel = 128;
    engine.buildInstrumentFrequencies();
    Scale big = defaultScale();
    big.degrees = 612;
    const double period = state.range(0) ? 2.0 : 3.0;
    for (int k = 0; k <= big.degrees; ++k)
        big.ratio[k] = std::pow(period, k / 612.0);
    big.ratio[big.degrees] = period;
    big.octavePeriod = state.range(0) ? 1 : 0;
    engine.installScale(big);
    engine.currentCentre = 1024;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.buildTuningTable());
    if (engine.indexCount() != 2048)
        state.SkipWithError("not a 2048-index layout");
}
BENCHMARK(BuildTuningTableBoard612)->ArgsProduct({{1, 0}, {OutputPitchBend, OutputMpe, OutputMidiTuning}});

void BuildTuningTableLinearMode(benchmark::State& state)
{
    Engine engine;
    prepareEngine(engine, false);
    for (auto _ : state) {
        engine.buildTuningTable();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BuildTuningTableLinearMode);

void MoveCentreModulateAndBack(benchmark::State& state)
{
    Engine engine;
    prepareEngine(engine, false);
    bool up = true;
    for (auto _ : state) {
        engine.moveCentre(67, up ? MoveModulate : MoveDemodulate, 0);
        up = !up;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(MoveCentreModulateAndBack);

const char* const WhiteKeys = "12\n0\n127\n60\n60\n261.6255653\n0\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n";

KeyboardMapping parsedMapping(const char* text)
{
    std::FILE* file = fmemopen(const_cast<char*>(text), std::strlen(text), "rb");
    KeyboardMapping mapping;
    parseKeyboardMapping(file, mapping);
    std::fclose(file);
    return mapping;
}

// Arg 1: octave mode, 0: linear mode, both under a white-key mapping.
void BuildTuningTableMapped(benchmark::State& state)
{
    Engine engine;
    prepareEngine(engine, state.range(0) != 0);
    engine.installKeyboardMapping(parsedMapping(WhiteKeys));
    for (auto _ : state) {
        engine.buildTuningTable();
        benchmark::ClobberMemory();
    }
    engine.keyboardMapping.active = 0;
}
BENCHMARK(BuildTuningTableMapped)->Arg(1)->Arg(0);

// Reading a 43-note scale and a mapping, as Load Scale does before it installs.
void ParseScalaScaleAndMapping(benchmark::State& state)
{
    std::string text = "43 notes\n43\n";
    for (int k = 1; k <= 43; ++k)
        text += std::to_string(k * 1200.0 / 43) + "\n";
    Scale parsed;
    for (auto _ : state) {
        std::FILE* file = fmemopen(text.data(), text.size(), "rb");
        benchmark::DoNotOptimize(parseScalaScale(file, "", parsed));
        std::fclose(file);
        benchmark::DoNotOptimize(parsedMapping(WhiteKeys));
    }
}
BENCHMARK(ParseScalaScaleAndMapping);

}  // namespace

BENCHMARK_MAIN();
