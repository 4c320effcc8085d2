// Runs the built vanto-table as a scale author would.

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/config_file.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace {

ToolRun runTool(const std::string& arguments)
{
    return ::runTool(VANTO_TABLE_PATH, arguments);
}

class VantoTableTest : public EngineTest {
protected:
    TempDir dir;
    // Quoted for the shell: the name has a space in it.
    std::string justMajor()
    {
        return "'" + dir.write("just major.txt", "name Just major\ndegrees 7\n1 j9/8\n2 j5/4\n3 j4/3\n4 j3/2\n5 j5/3\n6 j15/8\n7 j2/1\n") + "'";
    }
};

TEST_F(VantoTableTest, PrintsTheTableOfAScaleFile)
{
    const ToolRun run = runTool(justMajor());
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 129u);
    EXPECT_EQ(run.lines[0], "key outputKey bendValue bendGroup targetHz");
    EXPECT_EQ(run.lines[1 + 60], "60 60 8192 0 261.626");
    EXPECT_EQ(run.lines[1 + 64], "64 67 8272 4 392.439");  // 3/2: +2 cents
    EXPECT_EQ(run.lines[1 + 67], "67 72 8192 0 523.252");  // one octave up
    EXPECT_EQ(run.lines[1 + 62], "62 64 7632 2 327.0325");  // 5/4: -14 cents
}

// 261.626 Hz rounds to key 60 itself, 3C 00 00 as MIDI Tuning data.
TEST_F(VantoTableTest, PrintsEachModesColumnsAndWritesATuningDump)
{
    const ToolRun mpe = runTool("--output-mode mpe " + justMajor());
    ASSERT_EQ(mpe.exitCode, 0);
    EXPECT_EQ(mpe.lines[0], "key outputKey memberBend targetHz");
    EXPECT_EQ(mpe.lines[1 + 64], "64 67 8195 392.439");  // +2 cents at 48 semitones: 3 steps
    const std::string dump = dir.file("major.syx");
    const ToolRun mts = runTool("--output-mode mts --syx '" + dump + "' " + justMajor());
    ASSERT_EQ(mts.exitCode, 0);
    EXPECT_EQ(mts.lines[0], "key tuningBytes targetHz");
    EXPECT_EQ(mts.lines[1 + 60], "60 3C 00 00 261.626");
    const std::string bytes = readText(dump);
    ASSERT_EQ(bytes.size(), 408u);
    EXPECT_EQ(bytes.substr(0, 22), std::string("\xF0\x7E\x7F\x08\x01\x00Just major      ", 22));
    EXPECT_EQ(bytes.substr(22 + 3 * 60, 3), std::string("\x3C\x00\x00", 3));

    const ToolRun nowhere = runTool("--syx " + dir.file("no/such/folder/x.syx") + " " + justMajor());
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_EQ(nowhere.lines.back().rfind("The tuning dump could not be written to ", 0), 0u) << nowhere.lines.back();
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

TEST_F(VantoTableTest, AppliesMovesAndTheConfiguredInstrument)
{
    engine.settings.pitchWheelRange = 12;
    engine.settings.referenceFrequency = 442.0;
    const std::string config = dir.file("vanto.cfg");
    ASSERT_EQ(engine.saveConfig(config.c_str()), 0);
    const ToolRun run = runTool("--config " + config + " --modulate 64 --shift-centre " + justMajor());
    ASSERT_EQ(run.exitCode, 0);
    std::istringstream line(run.lines[1 + 64]);
    int key, outputKey, bend, group;
    double target;
    line >> key >> outputKey >> bend >> group >> target;
    EXPECT_EQ(group, 0);  // re-rooted on key 64
    EXPECT_NEAR(target, 261.626 * 1.5, 1e-6);
    EXPECT_EQ(outputKey, 67);
    EXPECT_NEAR(bend, 8192 + (1200 * std::log2(1.5) - 700 - 1200 * std::log2(442.0 / 440)) / 100 * 8192 / 12, 1);

    const ToolRun back = runTool("--modulate 0 --demodulate 127 --reset " + justMajor());
    ASSERT_EQ(back.exitCode, 0);
    EXPECT_EQ(back.lines[1 + 60], "60 60 8192 0 261.626");
}

// A .scl file brings the .kbm of its name; --kbm names another.
TEST_F(VantoTableTest, PrintsMappedScalesWithSilentKeysDashed)
{
    const std::string scale = dir.write("major.scl", "Major\n7\n9/8\n5/4\n4/3\n3/2\n5/3\n15/8\n2/1\n");
    dir.write("major.kbm", "12\n0\n127\n60\n60\n261.6255653\n7\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n");
    const ToolRun run = runTool(scale);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines[1 + 61], "61 - - - -");
    EXPECT_EQ(run.lines[1 + 67], "67 67 8272 4 392.43834795");
    const ToolRun linear = runTool("--kbm " + dir.write("linear.kbm", "0\n0\n127\n60\n69\n440\n0\n") + " " + scale);
    ASSERT_EQ(linear.exitCode, 0);
    EXPECT_EQ(linear.lines[1 + 69], "69 69 8192 2 440");  // degree 9: the third of the next octave
    const ToolRun bad = runTool("--kbm " + dir.write("bad.kbm", "12\n") + " " + scale);
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.lines.at(0), "Line 2: The first key is missing.");
}

// A board of 31 keys per channel: a row per index, 593 of them.
TEST_F(VantoTableTest, PrintsARowPerIndexOfALayoutOverChannels)
{
    std::string edo = "31 equal\n31\n";
    for (int step = 1; step < 31; ++step)
        edo += std::to_string(step * 1200.0 / 31) + "\n";
    const ToolRun run = runTool("--layout offset:31 " + dir.write("31.scl", edo + "2/1\n"));
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 1u + 593);
    EXPECT_EQ(run.lines[0], "index outputKey bendValue bendGroup targetHz");
    EXPECT_EQ(run.lines[1 + 60].substr(0, 9), "60 60 819") << "degree 0 on middle C";
    EXPECT_EQ(run.lines[1 + 91].rfind("91 72 ", 0), 0u) << "an octave above, 31 indices on";
    EXPECT_EQ(runTool("--layout offset:200 " + justMajor()).exitCode, 2);
}

TEST_F(VantoTableTest, ReportsBadScalesAndBadArguments)
{
    const ToolRun bad = runTool(dir.write("bad.txt", "1 j0/5\n"));
    EXPECT_EQ(bad.exitCode, 1);
    ASSERT_EQ(bad.lines.size(), 2u);
    EXPECT_EQ(bad.lines[0], "Negative just intervals do not exist.");
    EXPECT_EQ(bad.lines[1], "Line 1: 1 j0/5");
    const ToolRun typo = runTool(dir.write("typo.txt", "7 j3:2\n"));
    EXPECT_EQ(typo.exitCode, 0);
    EXPECT_EQ(typo.lines.at(0), "Line 1: '3:2' was read as 3 \u2014 did you mean j3/2?");
    EXPECT_EQ(runTool(dir.file("missing.txt")).lines.at(0), "File not found.");
    EXPECT_EQ(runTool("").exitCode, 2);
    EXPECT_EQ(runTool("--help").lines.at(0).rfind("usage: vanto-table", 0), 0u);
    EXPECT_EQ(runTool("--version").exitCode, 0);
    for (const std::string key : {"128", "-5", "12x", "--layout offset:31 --modulate 593"})
        EXPECT_EQ(runTool("--modulate " + key + " " + justMajor()).exitCode, 2) << key;
    EXPECT_EQ(runTool("--modulate").exitCode, 2);
    EXPECT_EQ(runTool("--frobnicate " + justMajor()).exitCode, 2);
    EXPECT_EQ(runTool("a.txt b.txt").exitCode, 2);
    EXPECT_EQ(runTool("--config " + dir.file("none.cfg") + " " + justMajor()).exitCode, 1);
    // As vanto reads it: a pipe is refused at once, a file vanto refuses too.
    ASSERT_EQ(::mkfifo(dir.file("pipe.cfg").c_str(), 0600), 0);
    EXPECT_EQ(runTool("--config " + dir.file("pipe.cfg") + " " + justMajor()).exitCode, 1);
    const ToolRun refused = runTool("--config " + dir.write("guide.cfg", std::string(4000, 'x')) + " " + justMajor());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.lines.at(0).rfind("This is not a Vanto configuration file", 0), 0u);
}

}  // namespace
