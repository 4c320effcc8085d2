#include "app/startup.h"

#include "engine/config_file.h"
#include "engine/engine_lock.h"
#include "engine/note_allocation.h"
#include "engine/port_opening.h"
#include "engine/scale_in_force.h"
#include "engine/scale_loading.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "scale/scale.h"

std::string scaleArgument;
std::string configNotice;

std::string scaleArgumentFrom(int argc, const char* const* argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (!text.empty())
            text += ' ';
        text += argv[i];
    }
    const size_t firstNonBlank = text.find_first_not_of(" \t");
    text.erase(0, firstNonBlank == std::string::npos ? text.size() : firstNonBlank);
    if (!text.empty() && text.front() == '"')
        text.erase(0, 1);
    if (!text.empty() && text.back() == '"')
        text.pop_back();
    return text;
}

void startUp(Engine& engine, int argc, const char* const* argv)
{
    scaleArgument = scaleArgumentFrom(argc, argv);
    {
        EngineLock lock(engine.engineMutex);
        engine.settings = defaultSettings();
    }
    std::string problem;
    std::string note;
    configNotice.clear();
    if (engine.loadConfig(DefaultConfigFile, &problem, &note) == -2)
        configNotice = std::string("\"") + DefaultConfigFile + "\" was ignored: " + problem;
    else
        configNotice = note;
    EngineLock lock(engine.engineMutex);
    engine.buildInstrumentFrequencies();
}

namespace {

// The scale and mapping to load: the command-line scale with the .kbm of its
// name beside it, or else those the settings remember.
struct TuningFiles {
    std::string scale;
    std::string mapping;
};

TuningFiles tuningFilesToLoad(const Engine& engine)
{
    if (!scaleArgument.empty())
        return {scaleArgument, companionMappingPath(scaleArgument)};
    const Settings remembered = engine.currentSettings();
    return {remembered.scalePath, remembered.mappingPath};
}

void reportFailure(MessageReporter& owner, StartReport* report, const char* title, const std::string& path,
                   const std::string& error)
{
    if (report)
        report->failures.push_back({title, path, error});
    else
        owner.showMessage(title, error.c_str(), MessageIcon::Warning);
}

}  // namespace

std::string withWarnings(const std::vector<std::string>& warnings, const std::string& text)
{
    std::string line;
    for (const std::string& warning : warnings)
        line += warning + "  |  ";
    return line + text;
}

std::string initialiseSystem(Engine& engine, MessageReporter& owner, StartReport* report, bool keepOnFailure)
{
    engine.openPorts(owner);
    const TuningFiles files = tuningFilesToLoad(engine);
    std::vector<std::string> warnings;
    const std::string error = files.scale.empty() ? "" : engine.loadScale(files.scale.c_str(), &warnings);
    if (!error.empty())
        reportFailure(owner, report, ScaleErrorTitle, files.scale, error);
    if (report)
        report->warnings = warnings;
    if (files.scale.empty() || (!error.empty() && !keepOnFailure)) {
        EngineLock lock(engine.engineMutex);
        engine.setDefaultScale();
        if (!error.empty())
            engine.clearKeyboardMapping();  // the default plays as it is, unmapped
    }
    if (error.empty() && !files.mapping.empty()) {
        const std::string mappingError = engine.loadKeyboardMapping(files.mapping.c_str());
        if (!mappingError.empty())
            reportFailure(owner, report, MappingErrorTitle, files.mapping, mappingError);
    }
    EngineLock lock(engine.engineMutex);
    engine.buildTuningTable();
    engine.resetChannels();
    const std::string status = withWarnings(warnings, engine.tuningStatusText());
    return configNotice.empty() ? status : configNotice + "  |  " + status;
}

void shutdownSystem(Engine& engine)
{
    engine.closePorts();
}
