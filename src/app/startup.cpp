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

void startUp(int argc, const char* const* argv)
{
    scaleArgument = scaleArgumentFrom(argc, argv);
    {
        EngineLock lock(engineMutex);
        settings = defaultSettings();
    }
    std::string problem;
    std::string note;
    configNotice.clear();
    if (loadConfig(DefaultConfigFile, &problem, &note) == -2)
        configNotice = std::string("\"") + DefaultConfigFile + "\" was ignored: " + problem;
    else
        configNotice = note;
    EngineLock lock(engineMutex);
    buildInstrumentFrequencies();
}

namespace {

void loadArgumentScale(MessageReporter& owner)
{
    const std::string error = loadScale(scaleArgument.c_str());
    if (!error.empty()) {
        owner.showMessage(ScaleErrorTitle, error.c_str(), MessageIcon::Warning);
        return;
    }
    const std::string mapping = companionMappingPath(scaleArgument);
    if (mapping.empty())
        return;
    const std::string mappingError = loadKeyboardMapping(mapping.c_str());
    if (!mappingError.empty())
        owner.showMessage(MappingErrorTitle, mappingError.c_str(), MessageIcon::Warning);
}

}  // namespace

std::string initialiseSystem(MessageReporter& owner)
{
    openPorts(owner);
    {
        EngineLock lock(engineMutex);
        setDefaultScale();
    }
    if (!scaleArgument.empty())
        loadArgumentScale(owner);
    EngineLock lock(engineMutex);
    buildTuningTable();
    resetChannels();
    return configNotice.empty() ? tuningStatusText() : configNotice + "  |  " + tuningStatusText();
}

void shutdownSystem()
{
    closePorts();
}
