#pragma once
// The program's fixed sequences: start-up, the system initialisation the
// main window runs when it is created, and the shutdown it runs on close.

#include <string>

#include "engine/message_reporter.h"
#include "engine/engine_lock.h"

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
void startUp(int argc, const char* const* argv);

// Opens the devices, installs the default scale and then the command-line
// scale (with the .kbm file of the same name beside a .scl), builds the table
// and resets the channels. Returns the status-line text naming the scale and
// mapping in force. Errors are shown through owner.
std::string initialiseSystem(MessageReporter& owner) TAKES_ENGINE_LOCK;

// Closes the devices.
void shutdownSystem();
