// vanto-relay started as a rack builder would, on a private JACK server:
// devices chosen by name and awaited, notes retuned, the scale reloaded on
// SIGHUP, a clean end on SIGTERM, and its answers to bad requests.

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/config_file.h"
#include "support/engine_fixture.h"
#include "support/jack_probe.h"
#include "support/jack_server.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

int linesIn(const std::string& path)
{
    const std::string text = readText(path);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

bool waitForLines(const std::string& path, int lines)
{
    for (int i = 0; i < 200 && linesIn(path) < lines; ++i)
        std::this_thread::sleep_for(50ms);
    return linesIn(path) >= lines;
}

bool listenTo(JackProbe& listener, const std::string& port)
{
    return waitForJackPort(port, true) && listener.connect(port, listener.inName());
}

class VantoRelay : public ::testing::Test {
protected:
    int run(const std::vector<std::string>& arguments)
    {
        return waitForExit(startProgram(VANTO_RELAY_PATH, folder.path().string(), arguments, output(), true));
    }
    std::string output() const { return folder.file("output.txt"); }

    JackServer server;
    JackProbe keyboard{"Tester Keys", "keys"};
    TempDir folder;
};

TEST_F(VantoRelay, ListsDevicesAndRefusesBadRequests)
{
    ASSERT_EQ(run({"--list"}), 0);
    EXPECT_NE(readText(output()).find("  0  Tester Keys:keys\n"), std::string::npos) << readText(output());
    EXPECT_NE(readText(output()).find("  0  Vanto Out"), std::string::npos);
    EXPECT_EQ(run({"--frobnicate"}), 2);
    EXPECT_EQ(run({"a.txt", "b.txt"}), 2);
    EXPECT_EQ(run({"--in", "keys", "--out", "7"}), 1);
    EXPECT_EQ(run({folder.write("bad.txt", "1 j0/5\n")}), 2);
    EXPECT_NE(readText(output()).find("bad.txt\" did not load: Negative just intervals do not exist."), std::string::npos);
    EXPECT_EQ(run({"missing.scl"}), 2);
    EXPECT_NE(readText(output()).find("\"missing.scl\" did not load: File not found."), std::string::npos);
    for (const char* option : {"--help", "--version"}) {
        EXPECT_EQ(run({option}), 0) << option;
        EXPECT_EQ(readText(output()).rfind(option[2] == 'h' ? "usage: vanto-relay" : "vanto-relay 1.", 0), 0u);
    }
    EXPECT_TRUE(waitForJackPort("Vanto", false)) << "ports left behind";
}

// The keyboard asked for is plugged in only after the start.
TEST_F(VantoRelay, RelaysAKeyboardPluggedInLaterReloadsOnHangupAndEndsCleanly)
{
    Engine engine;
    const std::string config = folder.file("rack.cfg");
    ASSERT_EQ(engine.saveConfig(config.c_str()), 0);
    const std::string scale = folder.write("fifths.scl", "Just fifth\n2\n3/2\n2/1\n");
    const pid_t relay = startProgram(VANTO_RELAY_PATH, folder.path().string(),
                                     {"--config", config, "--in", "LATE keys", "--out", "virtual", scale}, output(), true);
    ASSERT_TRUE(waitForLines(output(), 1));
    EXPECT_EQ(readText(output()), "vanto-relay: Waiting for LATE keys\n");
    JackProbe late("Late Keys", "keys");
    ASSERT_TRUE(waitForLines(output(), 2)) << readText(output());
    EXPECT_NE(readText(output()).find("\nvanto-relay: Late Keys:keys -> Vanto Out, scale Just fifth\n"), std::string::npos);
    JackProbe listener("Listener");
    ASSERT_TRUE(listenTo(listener, "Vanto:Vanto Out"));
    ASSERT_TRUE(waitForLines(output(), 3));
    EXPECT_NE(readText(output()).find("\nvanto-relay: Late Keys \u2192 Vanto \u2192 Listener\n"), std::string::npos);
    // Degree 1 of 2: the just fifth, two cents sharp.
    std::vector<MidiBytes> out = playUntilHeard(late, listener, {{0x90, 61, 90}}, 2);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0][1] | (out[0][2] << 7), 8272);
    EXPECT_EQ(out[1][1], 67);

    folder.write("fifths.scl", "Equal fifth\n2\n700.0\n1200.0\n");
    ::kill(relay, SIGHUP);
    ASSERT_TRUE(waitForLines(output(), 4)) << "no line after the reload";
    EXPECT_NE(readText(output()).find("scale Equal fifth\n"), std::string::npos);
    out = playUntilHeard(late, listener, {{0x90, 61, 90}}, 2);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[out.size() - 2][1] | (out[out.size() - 2][2] << 7), 8192);

    listener.clear();
    ::kill(relay, SIGUSR1);
    ASSERT_TRUE(waitForLines(output(), 5)) << readText(output());
    EXPECT_GE(listener.settle().size(), 16u * 3 + 1) << "sustain, sound and notes off on every channel, and the key played";

    // A reload that fails keeps the scale that plays, and says why.
    folder.write("fifths.scl", "Broken\n2\n-3/2\n2/1\n");
    ::kill(relay, SIGHUP);
    ASSERT_TRUE(waitForLines(output(), 7)) << readText(output());
    EXPECT_NE(readText(output()).find("fifths.scl\" did not load: Line 3: "), std::string::npos) << readText(output());
    EXPECT_NE(readText(output()).find("(Equal fifth plays)"), std::string::npos);
    ::kill(relay, SIGTERM);
    EXPECT_EQ(waitForExit(relay), 0);
    EXPECT_TRUE(waitForJackPort("Vanto", false)) << "ports left behind";
}

// A second relay on the same keyboard says so and waits until the first
// lets it go.
TEST_F(VantoRelay, ASecondVantoOnTheSameKeyboardWaitsForTheFirst)
{
    TempDir second;
    const std::vector<std::string> arguments{"--in", "Tester Keys", "--out", "virtual"};
    const pid_t first = startProgram(VANTO_RELAY_PATH, folder.path().string(), arguments, output(), true);
    ASSERT_TRUE(waitForLines(output(), 1));
    const std::string secondOutput = second.file("output.txt");
    const pid_t other = startProgram(VANTO_RELAY_PATH, second.path().string(), arguments, secondOutput, true);
    ASSERT_TRUE(waitForLines(secondOutput, 3)) << readText(secondOutput);
    EXPECT_NE(readText(secondOutput).find("Another Vanto (Vanto) already plays Tester Keys:keys."), std::string::npos);
    ::kill(first, SIGTERM);
    EXPECT_EQ(waitForExit(first), 0);
    ASSERT_TRUE(waitForLines(secondOutput, 4)) << readText(secondOutput);
    EXPECT_NE(readText(secondOutput).find("Waiting for Tester Keys:keys (another Vanto plays it)\n"
                                          "vanto-relay: Vanto Out is not connected\n"), std::string::npos)
        << "the keyboard taken once let go: only the output is left to connect";
    ::kill(other, SIGTERM);
    EXPECT_EQ(waitForExit(other), 0);
}

}  // namespace
