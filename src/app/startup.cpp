#include "app/startup.h"

#include "app/config_file.h"
#include "app/port_opening.h"
#include "app/settings.h"
#include "engine/engine_lock.h"
#include "engine/note_allocation.h"
#include "engine/tuning_table.h"
#include "scale/scale.h"
#include "scale/scale_parser.h"

std::string scaleArgument;

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
    loadConfig(DefaultConfigFile);
    EngineLock lock(engineMutex);
    buildInstrumentFrequencies();
}

std::string initialiseSystem(MessageReporter& owner)
{
    openPorts(owner);
    {
        EngineLock lock(engineMutex);
        setDefaultScale();
    }
    if (!scaleArgument.empty()) {
        if (const char* error = loadScale(scaleArgument.c_str()))
            owner.showMessage(ScaleErrorTitle, error, MessageIcon::Warning);
    }
    EngineLock lock(engineMutex);
    buildTuningTable();
    const std::string name = scale.name;
    resetChannels();
    return name;
}

void shutdownSystem()
{
    closePorts();
}
