// vanto-relay started as a rack builder would, on a private JACK server:
// devices chosen by name and awaited, notes retuned, the scale reloaded on
// SIGHUP, a clean end on SIGTERM, and its answers to bad requests.

#include <map>
#include <memory>
#include <set>
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

// A controller's stream as an MPE board sends it: its configuration, then
// fifteen notes on channels 2 to 16, each with its bend, timbre and pressure
// before it starts and moving while it sounds. In 12-tone equal temperament
// at the same range, each member must carry exactly its note's messages.
TEST_F(VantoRelay, RelaysAnMpeControllerNoteByNoteOntoMembers)
{
    Engine engine;
    for (int32_t& used : engine.settings.useChannel)
        used = 1;
    const std::string config = folder.file("mpe.cfg");
    ASSERT_EQ(engine.saveConfig(config.c_str()), 0);
    const pid_t relay = startProgram(VANTO_RELAY_PATH, folder.path().string(),
                                     {"--config", config, "--in", "keys", "--out", "virtual", "--output-mode", "mpe", "--mpe-input"},
                                     output(), true);
    JackProbe listener("Listener");
    ASSERT_TRUE(listenTo(listener, "Vanto:Vanto Out"));
    ASSERT_EQ(playUntilHeard(keyboard, listener, {{0x90, 60, 1}, {0x80, 60, 0}}, 3).size(), 3u) << "bend, Note On, Note Off";
    listener.settle();
    listener.clear();

    std::vector<MidiBytes> stream = {{0xB0, 101, 0}, {0xB0, 100, 6}, {0xB0, 6, 15},
                                     {0xB1, 101, 0}, {0xB1, 100, 0}, {0xB1, 6, 48}};
    std::map<int, std::vector<MidiBytes>> expected;  // by input channel, as its member should carry it
    std::map<int, std::vector<size_t>> causes;       // and the stream's message each leaves with
    const auto add = [&](int channel, std::initializer_list<unsigned char> message) {
        stream.push_back(message);
        expected[channel].push_back(message);
        causes[channel].push_back(stream.size() - 1);
    };
    for (unsigned char c = 1; c < 16; ++c) {
        add(c, {static_cast<unsigned char>(0xE0 + c), static_cast<unsigned char>(c * 7), 0x40});
        add(c, {static_cast<unsigned char>(0xB0 + c), 74, static_cast<unsigned char>(c * 8)});
        add(c, {static_cast<unsigned char>(0xD0 + c), 0});
        add(c, {static_cast<unsigned char>(0x90 + c), static_cast<unsigned char>(40 + 3 * c), 100});
        causes[c] = std::vector<size_t>(4, stream.size() - 1);  // what came before the note leaves with it
    }
    for (unsigned char step = 1; step <= 4; ++step) {
        for (unsigned char c = 1; c < 16; ++c) {
            add(c, {static_cast<unsigned char>(0xE0 + c), static_cast<unsigned char>(step * 20), static_cast<unsigned char>(0x40 + step * c / 4)});
            add(c, {static_cast<unsigned char>(0xD0 + c), static_cast<unsigned char>(step * 30)});
            add(c, {static_cast<unsigned char>(0xB0 + c), 74, static_cast<unsigned char>(127 - step * c)});
        }
    }
    for (unsigned char c = 1; c < 16; ++c)
        add(c, {static_cast<unsigned char>(0x80 + c), static_cast<unsigned char>(40 + 3 * c), 0});
    for (const MidiBytes& message : stream)
        keyboard.send(message);
    const std::vector<TimedEvent> heard = listener.settle();
    ASSERT_EQ(heard.size(), 15u * 17) << "the set-up goes no further; every other message leaves once";

    // Each note's member, from its Note On; the member's messages, with the
    // input's channel put back, are the note's.
    const std::vector<uint64_t> sent = keyboard.sentFrames();
    ASSERT_GE(sent.size(), stream.size());
    const size_t first = sent.size() - stream.size();
    std::map<int, std::vector<MidiBytes>> carried;
    std::map<int, std::vector<uint64_t>> carriedFrames;
    for (const TimedEvent& event : heard) {
        carried[event.bytes[0] & 0x0F].push_back(event.bytes);
        carriedFrames[event.bytes[0] & 0x0F].push_back(event.frame);
    }
    std::set<int> members;
    for (const auto& [channel, messages] : expected) {
        int member = -1;
        for (const TimedEvent& event : heard) {
            if ((event.bytes[0] & 0xF0) == 0x90 && event.bytes[1] == messages[3][1])
                member = event.bytes[0] & 0x0F;
        }
        ASSERT_GT(member, 0) << "note of channel " << channel + 1;
        members.insert(member);
        std::vector<MidiBytes> back = carried[member];
        for (MidiBytes& message : back)
            message[0] = static_cast<unsigned char>((message[0] & 0xF0) | channel);
        EXPECT_EQ(back, messages) << "channel " << channel + 1 << " on member " << member + 1;
        std::vector<uint64_t> frames;
        for (const size_t cause : causes[channel])
            frames.push_back(sent[first + cause]);
        EXPECT_EQ(carriedFrames[member], frames) << "each leaves at its cause's frame: channel " << channel + 1;
    }
    EXPECT_EQ(members.size(), 15u);
    ::kill(relay, SIGTERM);
    EXPECT_EQ(waitForExit(relay), 0);
}

}  // namespace
