// The real program, started as a user would on a private JACK server: notes
// played into it come out retuned on "Vanto Out", it outlives the server and
// comes back with it, and a terminate request closes it cleanly.

#include <gtest/gtest.h>

#include "engine/config_file.h"
#include "support/engine_fixture.h"
#include "support/jack_probe.h"
#include "support/jack_server.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

TEST(VantoProgram, AnswersHelpAndVersionWithoutAWindow)
{
    TempDir folder;
    for (const char* option : {"--help", "--version"}) {
        ASSERT_EQ(waitForExit(startProgram(VANTO_PATH, folder.path().string(), {option}, folder.file("out.txt"))), 0);
        EXPECT_EQ(readText(folder.file("out.txt")).rfind(option[2] == 'h' ? "usage: vanto" : "vanto 1.", 0), 0u);
    }
}

TEST(VantoProgram, RetunesLiveNotesOutlivesTheServerAndClosesCleanly)
{
    JackServer server;
    ASSERT_TRUE(server.running());
    auto keyboard = std::make_unique<JackProbe>("Tester", "keys");  // the only foreign output port: input device 0
    TempDir folder;
    Engine engine;
    engine.settings.inputDevice = 0;
    engine.settings.outputDevice = -1;
    ASSERT_EQ(engine.saveConfig(folder.file("vanto.cfg").c_str()), 0);
    const std::string scalePath =
        folder.write("just fifths.txt", "name Just fifths\n7 j3/2\n12 j2\n1 c100\n2 c200\n3 c300\n4 c400\n"
                                        "5 c500\n6 c600\n8 c800\n9 c900\n10 c1000\n11 c1100\n");

    const pid_t program = startProgram(VANTO_PATH, folder.path().string(), {scalePath});
    ASSERT_TRUE(waitForJackPort("Vanto:Vanto Out", true)) << "the program did not open its output";
    ASSERT_TRUE(waitForJackPort("Vanto In", true)) << "the program did not open its input";
    ASSERT_TRUE(keyboard->waitUntilConnectedTo("Vanto:Vanto In"));
    auto listener = std::make_unique<JackProbe>("Listener");
    ASSERT_TRUE(listener->connect("Vanto:Vanto Out", listener->inName()));
    const std::vector<MidiBytes> out =
        playUntilHeard(*keyboard, *listener, {{0x90, 67, 90}, {0x90, 60, 80}, {0x80, 67, 0}, {0x80, 60, 0}}, 6);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0], (MidiBytes{0xE7, 8272 & 0x7F, 8272 >> 7}));  // the just fifth, two cents sharp
    EXPECT_EQ(out[1], (MidiBytes{0x97, 67, 90}));
    EXPECT_EQ(out[2], (MidiBytes{0xE0, 0, 64}));
    EXPECT_EQ(out[3], (MidiBytes{0x90, 60, 80}));
    EXPECT_EQ(out[4], (MidiBytes{0x87, 67, 0}));
    EXPECT_EQ(out[5], (MidiBytes{0x80, 60, 0}));

    for (unsigned char key = 40; key < 60; ++key)  // notes in flight as the server goes
        keyboard->send({0x90, key, 100});
    std::this_thread::sleep_for(200ms);
    keyboard.reset();
    listener.reset();
    server.stop();
    std::this_thread::sleep_for(1500ms);  // the program looks once a second
    server.start();
    ASSERT_TRUE(server.running());
    JackProbe newKeyboard("Tester", "keys");
    ASSERT_TRUE(waitForJackPort("Vanto:Vanto Out", true)) << "Vanto Out did not come back";
    JackProbe newListener("Listener");
    ASSERT_TRUE(newListener.connect("Vanto:Vanto Out", newListener.inName()));
    const std::vector<MidiBytes> heard = playUntilHeard(newKeyboard, newListener, {{0x90, 62, 100}}, 2);
    ASSERT_EQ(heard.size(), 2u) << "the keyboard is not relayed after the server returned";
    EXPECT_EQ(heard[1], (MidiBytes{0x92, 62, 100}));

    // It ends with 62 still held and 64 held by the pedal: both end.
    const std::vector<MidiBytes> pedalled = playUntilHeard(newKeyboard, newListener, {{0xB0, 64, 127}, {0x90, 64, 90}, {0x80, 64, 0}}, 3);
    ASSERT_EQ(pedalled.size(), 3u);
    newListener.clear();
    ::kill(program, SIGTERM);
    EXPECT_EQ(waitForExit(program), 0);
    int noteOffs = 0, pedalsUp = 0;
    for (const TimedEvent& event : newListener.settle()) {
        noteOffs += event.bytes == MidiBytes{0x82, 62, 0};
        pedalsUp += (event.bytes[0] & 0xF0) == 0xB0 && event.bytes[1] == 64 && event.bytes[2] == 0;
    }
    EXPECT_EQ(noteOffs, 1);
    EXPECT_EQ(pedalsUp, 15);
    EXPECT_TRUE(waitForJackPort("Vanto", false)) << "ports left behind";
}

}  // namespace
