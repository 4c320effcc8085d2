#pragma once
// Starting one of the built programs as a user would, and watching its JACK
// ports come and go.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

// True when a MIDI port whose name contains part exists.
inline bool jackPortExists(const std::string& part)
{
    jack_client_t* client = jack_client_open("Port Check", JackNoStartServer, nullptr);
    if (!client)
        return false;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
    bool found = false;
    for (size_t i = 0; ports && ports[i] && !found; ++i)
        found = std::string(ports[i]).find(part) != std::string::npos;
    jack_free(ports);
    jack_client_close(client);
    return found;
}

inline bool waitForJackPort(const std::string& part, bool present)
{
    for (int i = 0; i < 200; ++i) {
        if (jackPortExists(part) == present)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Runs program (a path, or a name looked up on PATH) in folder with
// arguments. Its standard output goes to outputFile when one is named, and
// its error output too when quiet; its input comes from input when given.
// It is stopped when the test ends.
inline pid_t startProgram(const char* program, const std::string& folder, const std::vector<std::string>& arguments,
                          const std::string& outputFile = "", bool quiet = false, int input = -1)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        const int out = outputFile.empty() ? -1 : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0)
            ::dup2(out, 1);
        if (out >= 0 && quiet)
            ::dup2(out, 2);
        if (input >= 0)
            ::dup2(input, 0);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(program, argv.data());
        ::_exit(127);
    }
    return pid;
}

// The exit code, 128 + signal for a killed program, -1 when it did not end
// within ten seconds (it is killed then). A signal, when given, is sent first.
inline int waitForExit(pid_t pid, int signal = 0)
{
    if (signal)
        ::kill(pid, signal);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}
