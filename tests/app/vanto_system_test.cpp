// The real program, started as a user would on a private JACK server: notes
// played into it come out retuned on "Vanto Out", and a terminate request
// closes it cleanly.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/config_file.h"
#include "support/engine_fixture.h"
#include "support/jack_server.h"
#include "support/midi_listener.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

bool portExists(const std::string& part)
{
    RtMidiIn outputs(RtMidi::UNIX_JACK, "Port Check");
    RtMidiOut inputs(RtMidi::UNIX_JACK, "Port Check");
    for (RtMidi* probe : {static_cast<RtMidi*>(&outputs), static_cast<RtMidi*>(&inputs)}) {
        for (unsigned i = 0; i < probe->getPortCount(); ++i) {
            if (probe->getPortName(i).find(part) != std::string::npos)
                return true;
        }
    }
    return false;
}

bool waitForPort(const std::string& part, bool present)
{
    for (int i = 0; i < 200; ++i) {
        if (portExists(part) == present)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

pid_t startProgram(const std::string& folder, const std::string& argument)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(VANTO_PATH, VANTO_PATH, argument.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int waitForExit(pid_t pid)
{
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(50ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

TEST(VantoProgram, RetunesLiveNotesAndClosesCleanly)
{
    JackServer server;
    ASSERT_TRUE(server.running());
    MidiKeyboard keyboard;  // the only foreign output port: input device 0
    TempDir folder;
    resetEngineRecords();
    settings.inputDevice = 0;
    settings.outputDevice = -1;
    ASSERT_EQ(saveConfig(folder.file("vanto.cfg").c_str()), 0);
    const std::string scalePath =
        folder.write("just fifths.txt", "name Just fifths\n7 j3/2\n12 j2\n1 c100\n2 c200\n3 c300\n4 c400\n"
                                        "5 c500\n6 c600\n8 c800\n9 c900\n10 c1000\n11 c1100\n");

    const pid_t program = startProgram(folder.path().string(), scalePath);
    ASSERT_TRUE(waitForPort("Vanto:Vanto Out", true)) << "the program did not open its output";
    ASSERT_TRUE(waitForPort("Vanto In", true)) << "the program did not open its input";
    MidiListener listener;
    ASSERT_TRUE(listener.connect("Vanto:Vanto Out"));
    keyboard.send({0x90, 67, 90});
    keyboard.send({0x90, 60, 80});
    keyboard.send({0x80, 67, 0});
    keyboard.send({0x80, 60, 0});
    // The opening's controllers may still be arriving; the notes are what counts.
    std::vector<MidiBytes> out;
    for (int attempt = 0; attempt < 100 && out.size() < 6; ++attempt) {
        out.clear();
        for (const MidiBytes& m : listener.waitFor(0, 0ms))
            if ((m[0] & 0xF0) != 0xB0)
                out.push_back(m);
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0], (MidiBytes{0xE7, 8272 & 0x7F, 8272 >> 7}));  // the just fifth, two cents sharp
    EXPECT_EQ(out[1], (MidiBytes{0x97, 67, 90}));
    EXPECT_EQ(out[2], (MidiBytes{0xE0, 0, 64}));
    EXPECT_EQ(out[3], (MidiBytes{0x90, 60, 80}));
    EXPECT_EQ(out[4], (MidiBytes{0x87, 67, 0}));
    EXPECT_EQ(out[5], (MidiBytes{0x80, 60, 0}));

    ::kill(program, SIGTERM);
    EXPECT_EQ(waitForExit(program), 0);
    EXPECT_TRUE(waitForPort("Vanto", false)) << "ports left behind";
}

}  // namespace
