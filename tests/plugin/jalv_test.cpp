// The plugin in a real host: jalv runs it as a JACK client between a
// keyboard and a recorder on a private server.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "plugin/plugin_parameters.h"
#include "support/jack_probe.h"
#include "support/jack_server.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace {

TEST(PluginInJalv, RetunesBetweenAKeyboardAndARecorderAtTheFramesOfTheNotes)
{
    JackServer server;
    ASSERT_TRUE(server.running());
    TempDir folder;
    // A folder that holds the bundle alone, for the host to find it by.
    std::filesystem::create_directories(folder.path() / "lv2");
    std::filesystem::create_directory_symlink(VANTO_BUNDLE_DIR, folder.path() / "lv2" / "vanto.lv2");
    ::setenv("LV2_PATH", (folder.path() / "lv2").c_str(), 1);
    int commands[2];
    ASSERT_EQ(::pipe2(commands, O_CLOEXEC), 0);  // jalv reads commands until its input ends
    const pid_t jalv = startProgram("jalv", folder.path().string(), {"-n", "Vanto LV2", VantoPluginUri},
                                    folder.path() / "jalv.txt", true, commands[0]);
    ::close(commands[0]);
    // The clients wait for jalv's ports by connecting to them: opening and
    // closing a client of our own while jalv starts can hang in libjack.
    JackProbe keyboard("Keyboard");
    JackProbe recorder("Recorder");
    bool connected = false;
    for (int i = 0; i < 200 && !connected; ++i) {
        connected = keyboard.connect(keyboard.outName(), "Vanto LV2:midi_in") &&
                    recorder.connect("Vanto LV2:midi_out", recorder.inName());
        if (!connected)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(connected) << readText((folder.path() / "jalv.txt").string());
    recorder.settle();
    recorder.clear();

    std::mt19937 random(11);
    for (int i = 0; i < 10; ++i) {
        const auto key = static_cast<unsigned char>(60 + i);
        keyboard.send({0x90, key, 100}, random() % keyboard.period());
        keyboard.send({0x80, key, 0}, random() % keyboard.period());
    }
    const std::vector<TimedEvent> heard = recorder.waitFor(30);
    const std::vector<uint64_t> sent = keyboard.sentFrames();
    ASSERT_EQ(heard.size(), 30u);
    ASSERT_EQ(sent.size(), 20u);
    for (size_t i = 0, out = 0; i < sent.size(); ++i) {
        const size_t answers = i % 2 == 0 ? 2 : 1;  // bend and note on; note off
        for (size_t a = 0; a < answers; ++a, ++out)
            EXPECT_EQ(heard[out].frame, sent[i]) << "event " << i;
    }
    EXPECT_EQ(heard[0].bytes[0] & 0xF0, 0xE0);
    EXPECT_EQ(heard[1].bytes, (MidiBytes{static_cast<unsigned char>(0x90 | (heard[0].bytes[0] & 0x0F)), 60, 100}));
    ::close(commands[1]);
    EXPECT_EQ(waitForExit(jalv), 0);
}

}  // namespace
