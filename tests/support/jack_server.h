#pragma once
// A private JACK server with the dummy driver, under a name of its own, for
// the tests of this process only. It goes down with the process even when a
// test crashes.

#include <jack/jack.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"

class JackServer {
public:
    enum class Mode { Synchronous, Timed };

    // Synchronous: the server waits for every client each cycle, with a long
    // period (2048 frames, 43 ms) so that the dummy driver's own timer, late
    // on a busy machine, seldom makes an xrun (in which the server may drop
    // events); for tests that do not measure timing. Timed: a free-running
    // server at the given period, for measurements.
    explicit JackServer(Mode mode = Mode::Synchronous, int period = 128) : mode_(mode), period_(period)
    {
        name_ = "vanto-test-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand() % 100000);
        ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        start();
    }
    // Starts the server (again) under its name.
    void start()
    {
        std::vector<std::string> args{"-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p",
                                      mode_ == Mode::Synchronous ? "2048" : std::to_string(period_)};
        if (mode_ == Mode::Synchronous)
            args.insert(args.begin(), "-S");
        pid_ = startProgram("jackd", ".", args, std::getenv("VANTO_JACK_VERBOSE") ? "" : "/dev/null", true);
        running_ = waitUntilServing();
    }
    ~JackServer() { stop(); }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool running() const { return running_; }
    const std::string& name() const { return name_; }

    // signal: SIGTERM to stop it, SIGKILL to kill it.
    void stop(int signal = SIGTERM)
    {
        if (pid_ > 0)
            waitForExit(pid_, signal);
        pid_ = -1;
        running_ = false;
    }

private:
    static void silent(const char*) {}

    bool waitUntilServing()
    {
        jack_set_error_function(silent);
        jack_set_info_function(silent);
        for (int attempt = 0; attempt < 100; ++attempt) {
            jack_status_t status;
            jack_client_t* probe = jack_client_open("vanto-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                                    &status, name_.c_str());
            if (probe) {
                jack_client_close(probe);
                return true;
            }
            int exitStatus;
            if (::waitpid(pid_, &exitStatus, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    Mode mode_;
    int period_;
    std::string name_;
    pid_t pid_ = -1;
    bool running_ = false;
};
