#include "platform/library_messages.h"

#include <jack/jack.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <set>

#ifdef __linux__
#include <alsa/asoundlib.h>
#endif

namespace {

std::mutex printedMutex;
std::set<std::string> printed;

bool mentions(const std::string& text, std::initializer_list<const char*> words)
{
    for (const char* word : words) {
        if (text.find(word) != std::string::npos)
            return true;
    }
    return false;
}

// The cause a message speaks of, in the program's words; the message itself
// when it is of no known cause.
std::string causeOf(const std::string& text)
{
    if (mentions(text, {"snd/seq", "snd_seq", "ALSA sequencer"}))
        return "The ALSA sequencer is not available on this computer.";
    if (mentions(text, {"JACK server not running", "jack server is not running", "Cannot connect to server",
                        "JackShm", "server request channel"}))
        return "No JACK server is running.";
    if (mentions(text, {"CheckRes error", "Cannot read socket", "JackSocketClientChannel", "Could not read result",
                        "Cannot write socket", "JackClient::Execute", "JackPosixProcessSync"}))
        return "The JACK server has gone away.";
    return text;
}

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

const char* programName()
{
#ifdef __GLIBC__
    return program_invocation_short_name;
#else
    return "vanto";
#endif
}

void fromJack(const char* text)
{
    reportLibraryMessage(text ? text : "");
}

#ifdef __linux__
void fromAlsa(const char* file, int line, const char* function, int error, const char* format, ...)
{
    (void)file;
    (void)line;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::string message = std::string("ALSA ") + (function ? function : "") + ": " + text;
    if (error != 0)
        message += std::string(": ") + snd_strerror(error);
    reportLibraryMessage(message);
}
#endif

}  // namespace

void routeLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(fromJack);
        jack_set_info_function(fromJack);
#ifdef __linux__
        snd_lib_error_set_handler(fromAlsa);
#endif
    });
}

void reportLibraryMessage(const std::string& text)
{
    const std::string message = trimmed(text);
    if (message.empty())
        return;
    const std::string cause = causeOf(message);
    std::lock_guard<std::mutex> lock(printedMutex);
    if (printed.insert(cause).second)
        std::fprintf(stderr, "%s: %s\n", programName(), cause.c_str());
}

LibraryOutputCapture::LibraryOutputCapture() : saved_(std::cerr.rdbuf(text_.rdbuf())) {}

LibraryOutputCapture::~LibraryOutputCapture()
{
    std::cerr.rdbuf(saved_);
    std::istringstream lines(text_.str());
    for (std::string line; std::getline(lines, line);)
        reportLibraryMessage(line);
}
