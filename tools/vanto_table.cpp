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
    "[--shift-centre] SCALE_FILE\n"
    "       vanto-table --help | --version\n";

struct Move {
    uint8_t mode;
    uint8_t key;
};

struct Arguments {
    const char* configPath = nullptr;
    const char* mappingPath = nullptr;
    const char* scalePath = nullptr;
    bool shiftCentre = false;
    std::vector<Move> moves;
};

bool parseKey(const char* text, uint8_t& key)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 127)
        return false;
    key = static_cast<uint8_t>(value);
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
            if (!parseKey(argv[++i], move.key))
                return false;
            args.moves.push_back(move);
        } else if (a == "--reset") {
            args.moves.push_back({MoveReset, 0});
        } else if (a == "--shift-centre") {
            args.shiftCentre = true;
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

void printTable(const Engine& engine) NEEDS_ENGINE_LOCK_OF(engine)
{
    std::printf("key outputKey bendValue bendGroup targetHz\n");
    for (int k = 0; k < KeyCount; ++k) {
        if (engine.tuningTable.unmapped[k])
            std::printf("%d - - - -\n", k);
        else
            std::printf("%d %d %d %d %.12g\n", k, engine.tuningTable.outputKey[k], engine.tuningTable.bendValue[k],
                        engine.tuningTable.bendGroup[k], engine.tuningTable.targetFrequency[k]);
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
    EngineLock lock(engine.engineMutex);
    engine.buildTuningTable();
    for (const Move& move : args.moves)
        engine.moveCentre(move.key, move.mode, args.shiftCentre ? 1 : 0);
    printTable(engine);
    return 0;
}
