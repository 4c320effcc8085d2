#include <sys/stat.h>

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "engine/scale_in_force.h"
#include "engine/scale_loading.h"
#include "scale/scale_parser.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"

namespace {

class ScaleParserTest : public EngineTest {
protected:
    // nullptr when the file loads, else its error message (without the line).
    const char* loadFile(const std::string& path)
    {
        error_ = engine.loadScale(path.c_str());
        error_ = error_.substr(0, error_.find('\n'));
        return error_.empty() ? nullptr : error_.c_str();
    }
    const char* load(const std::string& contents) { return loadFile(dir.write("scale.txt", contents)); }
    TempDir dir;

private:
    std::string error_;
};

struct LineCase {
    const char* line;
    const char* error;  // nullptr: loads
    int degree;         // degree whose ratio is checked, 0 for none
    double ratio;
};

TEST_F(ScaleParserTest, SingleLinesGiveTheirResults)
{
    const LineCase cases[] = {
        {"names x", ScaleError::UnrecognisedCommand, 0, 0},
        {"-1 r2", ScaleError::UnrecognisedCommand, 0, 0},
        {"+1 r2", ScaleError::UnrecognisedCommand, 0, 0},
        {"0 r2", ScaleError::DegreeOutOfRange, 0, 0},
        {"128 r2", ScaleError::DegreeOutOfRange, 0, 0},
        {"127 r2", nullptr, 127, 2.0},
        {"99999999999 r2", ScaleError::DegreeOutOfRange, 0, 0},
        {"007 r2", nullptr, 7, 2.0},
        {"12x r3", nullptr, 12, 3.0},
        {"1 x2", ScaleError::UnrecognisedDegreeType, 0, 0},
        {"5", ScaleError::UnrecognisedDegreeType, 0, 0},
        {"5   ", ScaleError::UnrecognisedDegreeType, 0, 0},
        {"1r1.5", ScaleError::UnrecognisedDegreeType, 0, 0},
        {"1 c-100", nullptr, 1, 0.943874},
        {"1 C1200", nullptr, 1, 2.0},
        {"1 c", nullptr, 1, 1.0},
        {"1 e-1:12", nullptr, 1, 0.943874},
        {"1 e0:12", nullptr, 1, 1.0},
        {"1 e7", nullptr, 1, 128.0},
        {"1 E 3:12", nullptr, 1, 1.189207},
        {"1 e5:0", ScaleError::DivideByZero, 0, 0},
        {"1 e5:-12", ScaleError::NegativeEqualTempered, 0, 0},
        {"1 e99999999999:99999999999", nullptr, 1, 2.0},
        {"1 j3", nullptr, 1, 3.0},
        {"1 j1/2", nullptr, 1, 0.5},
        {"1 j0/0", ScaleError::DivideByZero, 0, 0},
        {"1 j0/5", ScaleError::NegativeJustInterval, 0, 0},
        {"1 j-3/2", ScaleError::NegativeJustInterval, 0, 0},
        {"1 j3/-2", ScaleError::NegativeJustInterval, 0, 0},
        {"1 j3/2 ; fifth", nullptr, 1, 1.5},
        {"1 J 7/4", nullptr, 1, 1.75},
        {"1 j3 ; 3 or a/b", ScaleError::DivideByZero, 0, 0},
        {"1 r0", ScaleError::NegativeRatio, 0, 0},
        {"1 r-1.5", ScaleError::NegativeRatio, 0, 0},
        {"1 r", ScaleError::NegativeRatio, 0, 0},
        {"1 r nan", ScaleError::NegativeRatio, 0, 0},
        {"1 rinf", ScaleError::IntervalOutOfRange, 0, 0},
        {"1 c1e400", ScaleError::IntervalOutOfRange, 0, 0},
        {"1 c-1e400", ScaleError::IntervalOutOfRange, 0, 0},
        {"1 e2147483647:1", ScaleError::IntervalOutOfRange, 0, 0},
        {"\t 3 R1.25", nullptr, 3, 1.25},
        {"; a comment", nullptr, 0, 0},
        {"// another", nullptr, 0, 0},
        {"/", nullptr, 0, 0},
        {"   \t", nullptr, 0, 0},
        {"x", ScaleError::UnrecognisedCommand, 0, 0},
        {"degrees 0", ScaleError::DegreesOutOfRange, 0, 0},
        {"degrees 128", ScaleError::DegreesOutOfRange, 0, 0},
        {"degrees 127", nullptr, 0, 0},
        {"degrees -4", ScaleError::DegreesOutOfRange, 0, 0},
        {"centre 128", ScaleError::CentreOutOfRange, 0, 0},
        {"centre -1", ScaleError::CentreOutOfRange, 0, 0},
        {"centre 0", nullptr, 0, 0},
        {"centre 127", nullptr, 0, 0},
        {"pitch 0", ScaleError::PitchOutOfRange, 0, 0},
        {"pitch -440", ScaleError::PitchOutOfRange, 0, 0},
        {"pitch", ScaleError::PitchOutOfRange, 0, 0},
        {"pitch inf", ScaleError::PitchOutOfRange, 0, 0},
        {"pitch 1e308", ScaleError::PitchOutOfRange, 0, 0},
        {"pitch 0.99", ScaleError::PitchOutOfRange, 0, 0},
        {"3 r1e308", ScaleError::IntervalOutOfRange, 0, 0},  // aims beyond hearing, as a period of 10^12 does
        {"12 r1e12", ScaleError::IntervalOutOfRange, 0, 0},
        {"1 r0.001", ScaleError::IntervalOutOfRange, 0, 0},
        {"1 r382", nullptr, 1, 382},
    };
    for (const LineCase& c : cases) {
        for (const char* ending : {"\n", "\r\n", ""}) {
            resetEngineRecords(engine);
            engine.setDefaultScale();
            const char* error = load(std::string(c.line) + ending);
            const std::string where = std::string("line '") + c.line + "' ending " + (ending[0] ? "break" : "none");
            if (c.error) {
                EXPECT_STREQ(error, c.error) << where;
                EXPECT_STREQ(engine.scale.name, "12 tone equal temperament") << where;
                continue;
            }
            ASSERT_EQ(error, nullptr) << where << ": " << error;
            if (c.degree) {
                EXPECT_NEAR(engine.scale.ratio[c.degree], c.ratio, 1e-6) << where;
            }
        }
    }
}

// A successful load also discards a modulation.
// A value with characters left over loads as it always did, with a warning
// that names the line; an error names its line after the message.
TEST_F(ScaleParserTest, MistakesAreToldWithTheirLine)
{
    std::vector<std::string> warnings;
    const std::string typos = dir.write("typos.txt", "degrees 12\n7 j3:2\n5 c701,955\n4 j5/4 major third\n3 e3/12\n2 r1.1x\n12 j2\n");
    ASSERT_EQ(engine.loadScale(typos.c_str(), &warnings), "");
    const std::vector<std::string> expected = {
        "Line 2: '3:2' was read as 3 \u2014 did you mean j3/2?",
        "Line 3: '701,955' was read as 701 \u2014 did you mean c701.955?",
        "Line 5: '3/12' was read as 3 \u2014 did you mean e3:12?",
        "Line 6: '1.1x' was read as 1.1.",
    };
    EXPECT_EQ(warnings, expected);
    EXPECT_EQ(engine.scale.ratio[7], 3.0);
    EXPECT_EQ(engine.loadScale(dir.write("bad.txt", "name x\n\n1 j0/5\n").c_str()), "Negative just intervals do not exist.\nLine 3: 1 j0/5");
    EXPECT_EQ(engine.loadScale(dir.write("far.txt", "degrees 3\n3 r1e9\n").c_str()), "Interval out of range.\nLine 2: 3 r1e9");
}

TEST_F(ScaleParserTest, CommandsSetTheirFieldsInAnyCase)
{
    engine.moveCentre(67, MoveModulate, 1);
    ASSERT_EQ(load("NAME Major\nDegrees 7\nCENTRE 62\npitch 440 ; A\n"), nullptr);
    EXPECT_STREQ(engine.scale.name, "Major");
    EXPECT_EQ(engine.scale.degrees, 7);
    EXPECT_EQ(engine.scale.centre, 62);
    EXPECT_EQ(engine.scale.pitch, 440.0);
    EXPECT_EQ(engine.currentCentre, 62);
    EXPECT_EQ(engine.currentPitch, 440.0);
    ASSERT_EQ(load("name  Pelog ; 7 notes  \nname\n"), nullptr);
    EXPECT_STREQ(engine.scale.name, "");
    ASSERT_EQ(load("name  Pelog ; 7 notes  \n"), nullptr);
    EXPECT_STREQ(engine.scale.name, "Pelog ; 7 notes  ");
}

TEST_F(ScaleParserTest, EmptyFileLoadsTheFileDefaults)
{
    ASSERT_EQ(load(""), nullptr);
    EXPECT_STREQ(engine.scale.name, "Default Scale");
    EXPECT_EQ(engine.scale.degrees, 12);
    EXPECT_EQ(engine.scale.centre, 60);
    EXPECT_EQ(engine.scale.pitch, 261.626);
    EXPECT_EQ(engine.scale.octavePeriod, 0);
    for (double r : engine.scale.ratio)
        EXPECT_EQ(r, 1.0);
}

TEST_F(ScaleParserTest, WorkedExamplesLoad)
{
    ASSERT_EQ(load("; just major scale\nname Just major\ncentre 60\npitch 261.626\ndegrees 7\n1 j9/8\n2 j5/4\n"
                   "3 j4/3\n4 j3/2\n5 j5/3\n6 j15/8\n7 j2/1\nend\n"),
              nullptr);
    EXPECT_STREQ(engine.scale.name, "Just major");
    EXPECT_EQ(engine.scale.degrees, 7);
    const double just[] = {1.0, 1.125, 1.25, 4.0 / 3, 1.5, 5.0 / 3, 1.875, 2.0, 1.0};
    for (int k = 0; k <= 8; ++k)
        EXPECT_DOUBLE_EQ(engine.scale.ratio[k], just[k]) << k;
    EXPECT_EQ(engine.scale.octavePeriod, 1);

    ASSERT_EQ(load("Name Mixed\nDEGREES 5\n1 c200\n2 E2:5\n3 r1.5\n4 j7/4\n5 R2\n"), nullptr);
    EXPECT_STREQ(engine.scale.name, "Mixed");
    EXPECT_NEAR(engine.scale.ratio[1], 1.122462, 1e-6);
    EXPECT_NEAR(engine.scale.ratio[2], 1.319508, 1e-6);
    EXPECT_EQ(engine.scale.ratio[3], 1.5);
    EXPECT_EQ(engine.scale.ratio[4], 1.75);
    EXPECT_EQ(engine.scale.ratio[5], 2.0);
    EXPECT_EQ(engine.scale.octavePeriod, 1);
    EXPECT_EQ(engine.scale.centre, 60);
    EXPECT_EQ(engine.scale.pitch, 261.626);
}

TEST_F(ScaleParserTest, OctavePeriodIsReadAtTheFinalDegreeCount)
{
    for (const char* period : {"12 r2", "12 j2/1", "12 j4/2", "12 e12:12", "12 c1200"}) {
        ASSERT_EQ(load(std::string(period) + "\n"), nullptr) << period;
        EXPECT_EQ(engine.scale.octavePeriod, 1) << period;
    }
    ASSERT_EQ(load("12 r2.001\n"), nullptr);
    EXPECT_EQ(engine.scale.octavePeriod, 0);
    ASSERT_EQ(load("5 r2\ndegrees 5\n"), nullptr);
    EXPECT_EQ(engine.scale.octavePeriod, 1);
    ASSERT_EQ(load("degrees 5\n5 r2\ndegrees 6\n"), nullptr);
    EXPECT_EQ(engine.scale.octavePeriod, 0);
}

TEST_F(ScaleParserTest, NothingAfterEndIsExamined)
{
    ASSERT_EQ(load("name Kept\nend\nthis is no command\n0 r2\n"), nullptr);
    EXPECT_STREQ(engine.scale.name, "Kept");
}

TEST_F(ScaleParserTest, LongLinesAreReadWhole)
{
    const std::string longName(150, 'n');
    ASSERT_EQ(load("name " + longName + "\n"), nullptr);
    EXPECT_EQ(std::string(engine.scale.name), longName.substr(0, 100));
    // Beyond 299 characters a line is still one line: no bogus second line.
    ASSERT_EQ(load("; " + std::string(400, 'x') + " not a command\n1 j3/2" + std::string(500, ' ') + "; x\n"), nullptr);
    EXPECT_EQ(engine.scale.ratio[1], 1.5);
    EXPECT_STREQ(load(std::string(MaxScaleLineLength + 1, ';')), ScaleError::LineTooLong);
}

TEST_F(ScaleParserTest, FailedLoadChangesNothing)
{
    engine.moveCentre(67, MoveModulate, 1);
    const Scale before = engine.scale;
    const double pitch = engine.currentPitch;
    const uint8_t centre = engine.currentCentre;
    EXPECT_STREQ(load("name Broken\ncentre 50\n1 j0/5\n"), ScaleError::NegativeJustInterval);
    EXPECT_STREQ(loadFile(dir.file("missing.txt")), ScaleError::FileNotFound);
    EXPECT_STREQ(loadFile(dir.path().string()), ScaleError::NotAFile);
    ASSERT_EQ(::mkfifo(dir.file("pipe.scl").c_str(), 0600), 0);
    EXPECT_STREQ(loadFile(dir.file("pipe.scl")), ScaleError::NotAFile);  // at once, not waiting for a writer
    EXPECT_EQ(engine.loadKeyboardMapping(dir.file("pipe.scl").c_str()), ScaleError::NotAFile);
    EXPECT_EQ(std::memcmp(&before, &engine.scale, sizeof engine.scale), 0);
    EXPECT_EQ(engine.currentPitch, pitch);
    EXPECT_EQ(engine.currentCentre, centre);
}

TEST_F(ScaleParserTest, EveryExampleScaleLoads)
{
    int loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VANTO_SCALES_DIR)) {
        if (entry.path().extension() == ".kbm")
            EXPECT_EQ(engine.loadKeyboardMapping(entry.path().c_str()), "") << entry.path();
        else
            EXPECT_EQ(loadFile(entry.path().string()), nullptr) << entry.path();
        EXPECT_TRUE(engine.buildTuningTable());
        ++loaded;
    }
    EXPECT_GE(loaded, 5);
}

}  // namespace
