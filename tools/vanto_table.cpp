// vanto-table: prints the tuning table a scale file gives, after the same
// command-key moves a player would make, without any MIDI device.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/config_file.h"
#include "engine/scale_in_force.h"
#include "engine/scale_loading.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "scale/scale.h"

namespace {

const char* const Usage =
    "usage: vanto-table [--config FILE] [--kbm FILE] [--modulate KEY | --demodulate KEY | --reset]... "
    "[--shift-centre]\n"
    "                   [--output-mode bend|mpe|mts] [--layout offset:N] [--syx FILE] SCALE_FILE\n"
    "       vanto-table --help | --version\n"
    "  --output-mode: the table's columns for that mode (mpe: the members' bends; mts: the tuning bytes)\n"
    "  --layout offset:N: a board's keys over channels, N keys per channel (1 to 128): a row per index\n"
    "  --syx FILE: also writes the table as a bulk tuning dump (the configuration's device ID and program)\n";

struct Move {
    uint8_t mode;
    int key;  // an index
};

struct Arguments {
    const char* configPath = nullptr;
    const char* mappingPath = nullptr;
    const char* scalePath = nullptr;
    bool shiftCentre = false;
    int32_t outputMode = OutputPitchBend;
    const char* dumpPath = nullptr;
    int32_t keysPerChannel = 0;  // 0: the configuration's layout
    std::vector<Move> moves;
};

bool parseOutputMode(const std::string& text, int32_t& mode)
{
    const char* const names[OutputModeCount] = {"bend", "mpe", "mts"};
    for (int32_t m = 0; m < OutputModeCount; ++m) {
        if (text == names[m]) {
            mode = m;
            return true;
        }
    }
    return false;
}

bool parseNumber(const char* text, long last, int& number)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > last)
        return false;
    number = static_cast<int>(value);
    return true;
}


bool parseArguments(int argc, char** argv, Arguments& args)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--config" && hasValue) {
            args.configPath = argv[++i];
        } else if (a == "--kbm" && hasValue) {
            args.mappingPath = argv[++i];
        } else if ((a == "--modulate" || a == "--demodulate") && hasValue) {
            Move move{a == "--modulate" ? MoveModulate : MoveDemodulate, 0};
            if (!parseNumber(argv[++i], MaxKeyIndex, move.key))
                return false;
            args.moves.push_back(move);
        } else if (a == "--reset") {
            args.moves.push_back({MoveReset, 0});
        } else if (a == "--shift-centre") {
            args.shiftCentre = true;
        } else if (a == "--output-mode" && hasValue) {
            if (!parseOutputMode(argv[++i], args.outputMode))
                return false;
        } else if (a == "--layout" && hasValue) {
            if (!parseKeyLayout(argv[++i], args.keysPerChannel))
                return false;
        } else if (a == "--syx" && hasValue) {
            args.dumpPath = argv[++i];
        } else if (a.starts_with("--") || args.scalePath) {
            return false;
        } else {
            args.scalePath = argv[i];
        }
    }
    return args.scalePath != nullptr;
}

// Takes the instrument tuning and bend range of a configuration file, read
// and checked as vanto reads it; false, having said why, when it is refused.
bool applyInstrumentTuning(Engine& engine, const char* path) TAKES_ENGINE_LOCK_OF(engine)
{
    const Settings before = engine.currentSettings();
    std::string problem;
    std::string note;
    const int loaded = engine.loadConfig(path, &problem, &note);
    {
        EngineLock lock(engine.engineMutex);
        Settings tuned = before;
        tuned.referenceFrequency = engine.settings.referenceFrequency;
        tuned.referenceKey = engine.settings.referenceKey;
        tuned.pitchWheelRange = engine.settings.pitchWheelRange;
        tuned.mpeBendRange = engine.settings.mpeBendRange;
        tuned.tuningDeviceId = engine.settings.tuningDeviceId;
        tuned.tuningProgram = engine.settings.tuningProgram;
        tuned.keyLayout = engine.settings.keyLayout;
        tuned.keysPerChannel = engine.settings.keysPerChannel;
        engine.settings = tuned;
    }
    if (loaded == -1)
        std::fprintf(stderr, "Could not read the configuration file %s.\n", path);
    else if (loaded == -2)
        std::fprintf(stderr, "%s\n", problem.c_str());
    else if (!note.empty())
        std::fprintf(stderr, "%s\n", note.c_str());
    return loaded == 0;
}

// One row per key, or per index of a layout over channels, with the columns
// of the output mode in force.
void printTable(const Engine& engine) NEEDS_ENGINE_LOCK_OF(engine)
{
    const TuningTable& t = engine.tuningTable;
    const int32_t mode = engine.settings.outputMode;
    std::fputs(engine.settings.keyLayout == KeyLayoutChannelOffset ? "index" : "key", stdout);
    std::printf(mode == OutputMpe          ? " outputKey memberBend targetHz\n"
                : mode == OutputMidiTuning ? " tuningBytes targetHz\n"
                                           : " outputKey bendValue bendGroup targetHz\n");
    for (int k = 0; k < engine.indexCount(); ++k) {
        if (t.unmapped[k] && mode == OutputMidiTuning)
            std::printf("%d 7F 7F 7F -\n", k);
        else if (t.unmapped[k])
            std::printf(mode == OutputMpe ? "%d - - -\n" : "%d - - - -\n", k);
        else if (mode == OutputMpe)
            std::printf("%d %d %d %.12g\n", k, t.outputKey[k], t.mpeBend[k], t.targetFrequency[k]);
        else if (mode == OutputMidiTuning)
            std::printf("%d %02X %02X %02X %.12g\n", k, t.tuningData[k][0], t.tuningData[k][1], t.tuningData[k][2],
                        t.targetFrequency[k]);
        else
            std::printf("%d %d %d %d %.12g\n", k, t.outputKey[k], t.bendValue[k], t.bendGroup[k], t.targetFrequency[k]);
    }
}

// Prints a loader's error; true when there was none.
bool reportError(const std::string& error)
{
    if (!error.empty())
        std::fprintf(stderr, "%s\n", error.c_str());
    return error.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    Engine engine;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0) {
            std::fputs(std::strcmp(argv[i], "--help") == 0 ? Usage : "vanto-table " VANTO_VERSION "\n", stdout);
            return 0;
        }
    }
    Arguments args;
    if (!parseArguments(argc, argv, args)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (args.configPath && !applyInstrumentTuning(engine, args.configPath))
        return 1;
    {
        EngineLock lock(engine.engineMutex);
        engine.settings.outputMode = args.outputMode;
        if (args.keysPerChannel != 0) {
            engine.settings.keyLayout = KeyLayoutChannelOffset;
            engine.settings.keysPerChannel = args.keysPerChannel;
        }
        engine.buildInstrumentFrequencies();
        engine.setDefaultScale();
    }
    // As vanto itself does, a .scl file brings the .kbm file of its name.
    const std::string mapping = args.mappingPath ? args.mappingPath : companionMappingPath(args.scalePath);
    if (!mapping.empty() && !reportError(engine.loadKeyboardMapping(mapping.c_str())))
        return 1;
    std::vector<std::string> warnings;
    if (!reportError(engine.loadScale(args.scalePath, &warnings)))
        return 1;
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "%s\n", warning.c_str());
    {
        EngineLock lock(engine.engineMutex);
        engine.buildTuningTable();
        for (const Move& move : args.moves) {
            if (move.mode != MoveReset && move.key >= engine.indexCount()) {
                std::fprintf(stderr, "Key %d lies beyond the layout's keys, 0 to %d.\n", move.key, engine.indexCount() - 1);
                return 2;
            }
            engine.moveCentre(move.key, move.mode, args.shiftCentre ? 1 : 0);
        }
        printTable(engine);
    }
    std::fflush(stdout);  // the table first, then what the dump has to say
    std::string reason;
    if (args.dumpPath && engine.exportTuningDump(args.dumpPath, &reason) != 0) {
        std::fprintf(stderr, "The tuning dump could not be written to %s: %s\n", args.dumpPath, reason.c_str());
        return 1;
    }
    return 0;
}
