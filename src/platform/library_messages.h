#pragma once
// The MIDI libraries' own warnings (the ALSA library, libjack, RtMidi) go
// through the program: each cause is said once, in one line of the
// program's own words, on standard error, however often a library repeats it.

#include <sstream>
#include <string>

// Installs the program's handlers for the ALSA library's and libjack's
// messages; later calls do nothing.
void routeLibraryMessages();

// One library message; the first of its cause is printed, the rest are not.
void reportLibraryMessage(const std::string& text);

// While it lives, what is written to std::cerr (where RtMidi prints its
// warnings) is gathered; on destruction each line goes to reportLibraryMessage.
// For the window thread, around calls into RtMidi.
class LibraryOutputCapture {
public:
    LibraryOutputCapture();
    ~LibraryOutputCapture();
    LibraryOutputCapture(const LibraryOutputCapture&) = delete;
    LibraryOutputCapture& operator=(const LibraryOutputCapture&) = delete;

private:
    std::ostringstream text_;
    std::streambuf* saved_;
};
