// Scala scales and keyboard mappings, driven by the fixture files: each good
// file states what it must load as in "! check" and "! key" comments, each
// bad file the error it must give in an "! error" comment.

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/note_allocation.h"
#include "engine/scale_in_force.h"
#include "engine/scale_loading.h"
#include "scale/keyboard_mapping.h"
#include "scale/scala_files.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path Fixtures = VANTO_FIXTURES_DIR;

struct Directive {
    std::string word;
    std::string rest;
};

// "! word rest" comment lines, for the words a test knows.
std::vector<Directive> directives(const fs::path& file)
{
    std::vector<Directive> result;
    std::istringstream lines(readText(file.string()));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string bang, word, rest;
        words >> bang >> word;
        std::getline(words >> std::ws, rest);
        if (bang == "!" && (word == "check" || word == "error" || word == "scale" || word == "key"))
            result.push_back({word, rest});
    }
    return result;
}

std::vector<fs::path> filesIn(const fs::path& folder)
{
    std::vector<fs::path> files{fs::directory_iterator(folder), fs::directory_iterator()};
    std::sort(files.begin(), files.end());
    return files;
}

std::string withLineEnds(const std::string& text, const char* ending)
{
    std::string result;
    for (const char c : text)
        result += c == '\n' ? std::string(ending) : std::string(1, c);
    return result;
}

void expectRelativelyNear(double actual, double expected, const std::string& where)
{
    EXPECT_NEAR(actual, expected, std::abs(expected) * 1e-9) << where;
}

void checkScale(Engine& engine, const std::string& check, const std::string& where)
{
    std::istringstream words(check);
    std::string field;
    words >> field;
    double a = 0, b = 0;
    if (field == "name") {
        std::string name;
        std::getline(words >> std::ws, name);
        EXPECT_STREQ(engine.scale.name, name.c_str()) << where;
    } else if (field == "degrees" && words >> a) {
        EXPECT_EQ(engine.scale.degrees, a) << where;
    } else if (field == "ratio" && words >> a >> b) {
        expectRelativelyNear(engine.scale.ratio[static_cast<int>(a)], b, where);
    } else if (field == "period" && words >> a) {
        expectRelativelyNear(engine.scale.ratio[engine.scale.degrees], a, where);
    } else if (field == "octave" && words >> a) {
        EXPECT_EQ(engine.scale.octavePeriod, a) << where;
    } else {
        ADD_FAILURE() << where << ": unknown check " << check;
    }
}

class ScalaFilesTest : public EngineTest {
protected:
    TempDir dir;

    void loadMapped(const char* scaleFile, const char* mappingFile)
    {
        ASSERT_EQ(engine.loadScale((Fixtures / "scl/good" / scaleFile).c_str()), "");
        ASSERT_EQ(engine.loadKeyboardMapping((Fixtures / "kbm/good" / mappingFile).c_str()), "");
        ASSERT_TRUE(engine.buildTuningTable());
    }
};

TEST_F(ScalaFilesTest, GoodScalesLoadAsTheirChecksSayWithAnyLineEnds)
{
    for (const fs::path& file : filesIn(Fixtures / "scl/good")) {
        for (const char* ending : {"\n", "\r\n", "\r"}) {
            const std::string copy = dir.write(file.filename().string(), withLineEnds(readText(file.string()), ending));
            const std::string where = file.filename().string() + " ending " + std::to_string(std::strlen(ending));
            ASSERT_EQ(engine.loadScale(copy.c_str()), "") << where;
            EXPECT_EQ(engine.scale.pitch, ScalaDefaultPitch);
            EXPECT_EQ(engine.scale.centre, 60);
            for (const Directive& d : directives(file))
                checkScale(engine, d.rest, where);
        }
    }
    std::string most = "The most notes\n127\n";
    for (int note = 1; note <= MaxDegrees; ++note)
        most += std::to_string(10 * note) + ".0\n";
    EXPECT_EQ(engine.loadScale(dir.write("most.scl", most).c_str()), "");
}

TEST_F(ScalaFilesTest, BadScalesAreRefusedNamingTheLineAndChangeNothing)
{
    engine.moveCentre(67, MoveModulate, 0);
    const Scale before = engine.scale;
    const double pitch = engine.currentPitch;
    for (const fs::path& file : filesIn(Fixtures / "scl/bad")) {
        const std::vector<Directive> expected = directives(file);
        ASSERT_EQ(expected.size(), 1u) << file;
        EXPECT_EQ(engine.loadScale(file.c_str()), expected[0].rest) << file;
        EXPECT_EQ(std::memcmp(&before, &engine.scale, sizeof engine.scale), 0) << file;
        EXPECT_EQ(engine.currentPitch, pitch) << file;
    }
}

// Every mapping is built in its scale's own mode; a scale of octaves is also
// built the other way, walking degrees, which must agree.
TEST_F(ScalaFilesTest, MappingsTuneEveryKeyAsTheFormatSays)
{
    for (const fs::path& file : filesIn(Fixtures / "kbm/good")) {
        const std::vector<Directive> checks = directives(file);
        ASSERT_EQ(checks.at(0).word, "scale") << file;
        loadMapped(checks[0].rest.c_str(), file.filename().c_str());
        const TuningTable built = engine.tuningTable;
        for (const Directive& d : checks) {
            if (d.word != "key")
                continue;
            std::istringstream words(d.rest);
            int key = 0;
            std::string hz;
            words >> key >> hz;
            const std::string where = file.filename().string() + " key " + std::to_string(key);
            EXPECT_EQ(engine.tuningTable.unmapped[key], hz == "-") << where;
            if (hz != "-")
                expectRelativelyNear(engine.tuningTable.targetFrequency[key], std::stod(hz), where);
        }
        if (!engine.scale.octavePeriod)
            continue;
        engine.scale.octavePeriod = 0;
        engine.buildTuningTable();
        for (int k = 0; k < KeyCount; ++k) {
            EXPECT_EQ(engine.tuningTable.unmapped[k], built.unmapped[k]);
            expectRelativelyNear(engine.tuningTable.targetFrequency[k], built.targetFrequency[k], file.string());
        }
    }
}

TEST_F(ScalaFilesTest, BadMappingsAreRefusedAndTheMappingInForceStays)
{
    loadMapped("just_major.scl", "white_keys.kbm");
    const KeyboardMapping before = engine.keyboardMapping;
    const double pitch = engine.currentPitch;
    for (const fs::path& file : filesIn(Fixtures / "kbm/bad")) {
        const std::vector<Directive> expected = directives(file);
        ASSERT_EQ(expected.size(), 1u) << file;
        EXPECT_EQ(engine.loadKeyboardMapping(file.c_str()), expected[0].rest) << file;
        EXPECT_EQ(std::memcmp(&before, &engine.keyboardMapping, sizeof before), 0) << file;
        EXPECT_EQ(engine.currentPitch, pitch) << file;
    }
    EXPECT_EQ(engine.loadKeyboardMapping(dir.file("none.kbm").c_str()), "File not found.");
}

TEST_F(ScalaFilesTest, UnmappedKeysAreSilentYetServeAsCommandKeys)
{
    loadMapped("just_major.scl", "white_keys.kbm");
    play(engine, "+61 -61");
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(engine.noteAllocation.lastKey, 61);
    engine.settings.commandKey = 61;
    const double pitch = engine.currentPitch;
    play(engine, "+61 +63");  // an unmapped target changes nothing, and a mapped one may follow
    EXPECT_EQ(engine.currentPitch, pitch);
    play(engine, "+67");
    EXPECT_DOUBLE_EQ(engine.currentPitch, pitch * 1.5);
}

TEST_F(ScalaFilesTest, CommandKeysKeepTheirMeaningUnderAMapping)
{
    loadMapped("just_major.scl", "white_keys.kbm");
    const double home = engine.tuningTable.targetFrequency[60];
    ASSERT_TRUE(engine.moveCentre(67, MoveModulate, 0));
    EXPECT_DOUBLE_EQ(engine.tuningTable.targetFrequency[60], home * 1.5);
    EXPECT_TRUE(engine.tuningTable.unmapped[61]);
    ASSERT_TRUE(engine.moveCentre(67, MoveDemodulate, 0));
    EXPECT_DOUBLE_EQ(engine.tuningTable.targetFrequency[60], home);
    ASSERT_TRUE(engine.moveCentre(65, MoveModulate, 1));  // re-rooted on F: its pattern starts there
    EXPECT_DOUBLE_EQ(engine.tuningTable.targetFrequency[65], home * 4 / 3);
    EXPECT_DOUBLE_EQ(engine.tuningTable.targetFrequency[67], home * 4 / 3 * 9 / 8);
    EXPECT_FALSE(engine.tuningTable.unmapped[70]);
    EXPECT_TRUE(engine.tuningTable.unmapped[71]);
    EXPECT_FALSE(engine.moveCentre(66, MoveModulate, 1));
    ASSERT_TRUE(engine.moveCentre(0, MoveReset, 0));
    EXPECT_DOUBLE_EQ(engine.tuningTable.targetFrequency[60], home);
    EXPECT_TRUE(engine.tuningTable.unmapped[61]);
}

TEST_F(ScalaFilesTest, OctavesOfADegreeShareAChannelUnderAMapping)
{
    loadMapped("just_major.scl", "white_keys.kbm");
    play(engine, "+48 +60 +72 +64 +76 +67");
    EXPECT_EQ(engine.noteAllocation.keyChannel[48], engine.noteAllocation.keyChannel[72]);
    EXPECT_EQ(engine.noteAllocation.keyChannel[64], engine.noteAllocation.keyChannel[76]);
    EXPECT_NE(engine.noteAllocation.keyChannel[60], engine.noteAllocation.keyChannel[67]);
}

TEST_F(ScalaFilesTest, AMappingStaysAcrossScaleLoadsUntilCleared)
{
    loadMapped("just_major.scl", "white_keys.kbm");
    ASSERT_EQ(engine.loadScale((Fixtures / "scl/good/12tet.scl").c_str()), "");
    engine.buildTuningTable();
    EXPECT_TRUE(engine.tuningTable.unmapped[61]);
    EXPECT_EQ(engine.tuningStatusText(), "12 tone equal temperament  |  white_keys.kbm");
    engine.clearKeyboardMapping();
    engine.buildTuningTable();
    EXPECT_FALSE(engine.tuningTable.unmapped[61]);
    EXPECT_EQ(engine.tuningStatusText(), "12 tone equal temperament");
    EXPECT_NEAR(engine.tuningTable.targetFrequency[69], 440.0, 1e-9);
}

TEST_F(ScalaFilesTest, ACompanionMappingIsFoundBesideItsScale)
{
    const std::string scl = dir.write("Pelog.SCL", "Pelog\n1\n2/1\n");
    EXPECT_EQ(companionMappingPath(scl), "");
    dir.write("Pelog.kbm", "0\n");
    EXPECT_EQ(companionMappingPath(scl), dir.file("Pelog.kbm"));
    EXPECT_EQ(companionMappingPath(dir.write("Pelog.txt", "")), "");
}

}  // namespace
