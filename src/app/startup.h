#pragma once
// The program's fixed sequences: start-up, the system initialisation the
// main window runs when it is created, and the shutdown it runs on close.

#include <string>
#include <vector>

#include "engine/message_reporter.h"
#include "engine/engine.h"

inline constexpr const char* ScaleErrorTitle = "Error Loading Scale";
inline constexpr const char* MappingErrorTitle = "Error Loading Keyboard Mapping";

// The scale file path named on the command line, "" for none.
extern std::string scaleArgument;

// The command line after the program name as one path: the arguments joined
// by single spaces (a path with spaces may come unquoted, split by the
// shell), then one leading and one trailing double quote removed.
std::string scaleArgumentFrom(int argc, const char* const* argv);

// What start-up says of a "vanto.cfg" it did not apply; "" when there was none.
extern std::string configNotice;

// Before the main window: defaults, "vanto.cfg" (unless it is plainly not a
// configuration file, which configNotice then says), instrument frequencies.
void startUp(Engine& engine, int argc, const char* const* argv);

// A scale or mapping file that did not load at start.
struct LoadFailure {
    const char* title;  // ScaleErrorTitle or MappingErrorTitle
    std::string path;
    std::string error;
};

// What loading the tuning at start had to say.
struct StartReport {
    std::vector<LoadFailure> failures;
    std::vector<std::string> warnings;  // of the scale that loaded
};

// Opens the devices, then loads the tuning: the command-line scale (with the
// .kbm file of the same name beside a .scl), or else the scale and mapping
// the settings remember; builds the table and resets the channels. Returns
// the status-line text: the scale's warnings, then the scale and mapping in
// force. A file that does not load goes into report, or without one is
// shown through owner with the other errors; the default scale then plays,
// or with keepOnFailure the scale in force stays.
std::string initialiseSystem(Engine& engine, MessageReporter& owner, StartReport* report = nullptr,
                             bool keepOnFailure = false) TAKES_ENGINE_LOCK_OF(engine);

// The status line: the warnings, then the text.
std::string withWarnings(const std::vector<std::string>& warnings, const std::string& text);

// Closes the devices.
void shutdownSystem(Engine& engine);
