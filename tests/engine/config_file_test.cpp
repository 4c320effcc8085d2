#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "engine/config_file.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"

namespace {

class ConfigFileTest : public EngineTest {
protected:
    void fillEvents(int count)
    {
        engine.settings.initEventCount = count;
        for (int i = 0; i < count; ++i)
            engine.settings.initMessage[i] = {static_cast<uint8_t>(0x80 + 16 * (i % 7)), static_cast<uint8_t>(i % 17),
                                       static_cast<uint8_t>(i), static_cast<uint8_t>(127 - i)};
    }
    std::vector<uint8_t> defaultImage()
    {
        const Settings s = defaultSettings();
        uint8_t image[MaxConfigFileSize];
        const int length = encodeConfig(s, image);
        return {image, image + length};
    }
    TempDir dir;
};

TEST_F(ConfigFileTest, DefaultsGiveTheDocumentedBytes)
{
    const std::string path = dir.file("vanto.cfg");
    ASSERT_EQ(engine.saveConfig(path.c_str()), 0);
    std::vector<uint8_t> expected = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 16, 69, 0, 0, 0, 0, 0, 0x80, 0x7B, 0x40};
    for (int c = 0; c < 16; ++c)  // every channel but 10 in use
        expected.insert(expected.end(), {c != 9, 0, 0, 0});
    for (int r = 0; r < 9; ++r)  // the first four relays on
        expected.insert(expected.end(), {r < 4, 0, 0, 0});
    expected.insert(expected.end(), {1, 10, 91, 92, 93, 95, 64, 7, 128, 128, 128, 128, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(readBytes(path), expected);

    Settings keys = defaultSettings();
    keys.commandKey = 36;
    keys.demodulateKey = 37;
    keys.resetPitchKey = 38;
    keys.initMessageKey = 39;
    uint8_t image[MaxConfigFileSize];
    encodeConfig(keys, image);
    EXPECT_EQ(std::vector<uint8_t>(image + 127, image + 131), (std::vector<uint8_t>{36, 37, 38, 39}));
}

TEST_F(ConfigFileTest, RoundTripsKeepEveryField)
{
    for (int count : {0, 3, 40}) {
        engine.settings = defaultSettings();
        engine.settings.inputDevice = -1;
        engine.settings.outputDevice = 7;
        engine.settings.pitchWheelRange = 12;
        engine.settings.inputChannel = 4;
        engine.settings.referenceKey = 127;
        engine.settings.referenceFrequency = 442.125;
        engine.settings.useChannel[9] = 1;
        engine.settings.useChannel[2] = 0;
        engine.settings.relay[8] = 1;
        engine.settings.controlBarController[5] = 74;
        engine.settings.commandKey = 36;
        engine.settings.demodulateKey = 37;
        engine.settings.resetPitchKey = 38;
        engine.settings.initMessageKey = 128;
        engine.settings.shiftCentre = 1;
        engine.settings.sendInitOnOpen = 0;
        fillEvents(count);
        const Settings saved = engine.settings;
        const std::string path = dir.file("round.cfg");
        ASSERT_EQ(engine.saveConfig(path.c_str()), 0);
        EXPECT_EQ(readBytes(path).size(), static_cast<size_t>(143 + 4 * count));
        engine.settings = defaultSettings();
        ASSERT_EQ(engine.loadConfig(path.c_str()), 0);
        uint8_t a[MaxConfigFileSize], b[MaxConfigFileSize];
        ASSERT_EQ(encodeConfig(engine.settings, a), encodeConfig(saved, b));
        EXPECT_EQ(std::memcmp(a, b, static_cast<size_t>(143 + 4 * count)), 0) << count;
        EXPECT_EQ(engine.settings.initEventCount, count);
        EXPECT_EQ(engine.settings.referenceFrequency, 442.125);
    }
}

// Settings beyond the original record travel in one block after the events,
// written only when one of them differs from its default.
TEST_F(ConfigFileTest, ExtensionBlockFollowsTheEventsOnlyWhenNeeded)
{
    fillEvents(3);
    uint8_t image[MaxConfigFileSize];
    ASSERT_EQ(encodeConfig(engine.settings, image), 143 + 12);
    engine.settings.releaseTime = 2000;
    const int length = encodeConfig(engine.settings, image);
    const uint8_t block[] = {'V', 'N', 'T', 'X', 1, 0, 8, 0, 0, 0, 1, 0, 4, 0, 0xD0, 0x07, 0, 0};
    ASSERT_EQ(length, 155 + static_cast<int>(sizeof block));
    EXPECT_EQ(std::memcmp(image + 155, block, sizeof block), 0);
    Settings read = defaultSettings();
    decodeConfig(image, length, read);
    EXPECT_EQ(read.releaseTime, 2000);
    EXPECT_EQ(read.initEventCount, 3);

    struct Damage {
        int at;
        uint8_t value;
        int32_t releaseTime;
    } damages[] = {{155, 'W', 0},          // not the block
                   {155 + 6, 9, 0},        // count beyond the file
                   {155 + 12, 9, 0},       // field longer than the block
                   {155 + 10, 200, 0},     // unknown tag: skipped
                   {155 + 16, 0xFF, MaxReleaseTime}};  // limited
    for (const Damage& d : damages) {
        uint8_t damaged[MaxConfigFileSize];
        std::memcpy(damaged, image, sizeof damaged);
        damaged[d.at] = d.value;
        Settings s = defaultSettings();
        s.releaseTime = 1;
        decodeConfig(damaged, length, s);
        EXPECT_EQ(s.releaseTime, d.releaseTime) << "byte " << d.at;
        EXPECT_EQ(s.initEventCount, 3);
    }
    Settings cut = defaultSettings();
    decodeConfig(image, length - 1, cut);
    EXPECT_EQ(cut.releaseTime, 0);

    engine.settings.outputMode = OutputMpe;
    engine.settings.mpeBendRange = 24;
    engine.settings.pitchWheelUse = PitchWheelBendNotes;
    engine.settings.playerBendRange = 12;
    engine.settings.mpeController = 1;
    engine.settings.inputBendRange = 24;
    engine.settings.keyLayout = KeyLayoutChannelOffset;
    engine.settings.keysPerChannel = 56;
    Settings modes = defaultSettings();
    decodeConfig(image, encodeConfig(engine.settings, image), modes);
    EXPECT_EQ(modes.outputMode, OutputMpe);
    EXPECT_EQ(modes.mpeBendRange, 24);
    EXPECT_EQ(modes.pitchWheelUse, PitchWheelBendNotes);
    EXPECT_EQ(modes.playerBendRange, 12);
    EXPECT_EQ(modes.mpeController, 1);
    EXPECT_EQ(modes.inputBendRange, 24);
    EXPECT_EQ(modes.keyLayout, KeyLayoutChannelOffset);
    EXPECT_EQ(modes.keysPerChannel, 56);
    engine.settings.keyLayout = KeyLayoutOneChannel;
    engine.settings.keysPerChannel = MaxKeysPerChannel;
    engine.settings.mpeController = 0;
    engine.settings.inputBendRange = 48;
    engine.settings.outputMode = OutputPitchBend;
    engine.settings.mpeBendRange = 48;
    engine.settings.pitchWheelUse = PitchWheelIgnore;
    engine.settings.playerBendRange = 2;

    std::strcpy(engine.settings.inputDeviceName, "USB Keyboard:MIDI 1");
    std::memset(engine.settings.outputDeviceName, 'x', MaxDeviceNameLength);
    engine.settings.outputDeviceName[MaxDeviceNameLength] = '\0';
    std::strcpy(engine.settings.scalePath, "/home/me/43.scl");
    std::strcpy(engine.settings.mappingPath, "/home/me/43.kbm");
    const int named = encodeConfig(engine.settings, image);
    EXPECT_EQ(named, length + 4 + 19 + 4 + MaxDeviceNameLength + 2 * (4 + 15));
    Settings names = defaultSettings();
    decodeConfig(image, named, names);
    for (auto text : {&Settings::inputDeviceName, &Settings::outputDeviceName, &Settings::scalePath, &Settings::mappingPath})
        EXPECT_STREQ(names.*text, engine.settings.*text);
    EXPECT_EQ(names.releaseTime, 2000);
}

TEST_F(ConfigFileTest, ShortFilesOverlayOnlyTheirLeadingFields)
{
    fillEvents(3);
    const Settings before = engine.settings;
    std::vector<uint8_t> image = defaultImage();
    image[139] = 3;  // count 3, no events stored
    image[8] = 24;
    decodeConfig(image.data(), static_cast<int>(image.size()), engine.settings);
    EXPECT_EQ(engine.settings.initEventCount, 3);
    EXPECT_EQ(engine.settings.pitchWheelRange, 24);
    EXPECT_EQ(std::memcmp(engine.settings.initMessage, before.initMessage, sizeof before.initMessage), 0);

    image[139] = 0;
    ASSERT_EQ(engine.loadConfig(dir.writeBytes("143.cfg", image).c_str()), 0);
    EXPECT_EQ(engine.settings.initEventCount, 0);

    fillEvents(3);
    engine.settings.sendInitOnOpen = 0;
    image.resize(139);
    image[8] = 5;
    ASSERT_EQ(engine.loadConfig(dir.writeBytes("139.cfg", image).c_str()), 0);
    EXPECT_EQ(engine.settings.pitchWheelRange, 5);
    EXPECT_EQ(engine.settings.sendInitOnOpen, 1);
    EXPECT_EQ(engine.settings.initEventCount, 0);

    engine.settings.referenceFrequency = 415.0;
    engine.settings.outputDevice = 9;
    image.resize(14);  // cuts referenceFrequency in two
    ASSERT_EQ(engine.loadConfig(dir.writeBytes("14.cfg", image).c_str()), 0);
    EXPECT_EQ(engine.settings.referenceFrequency, 415.0);
    EXPECT_EQ(engine.settings.outputDevice, -1);
    EXPECT_EQ(engine.settings.initEventCount, 0);

    const uint8_t huge[] = {0x71, 0x71, 0x71, 0x71};  // an input device far beyond any list
    decodeConfig(huge, 4, engine.settings);
    EXPECT_EQ(engine.settings.inputDevice, MaxDeviceNumber);

    // What a short file holds is limited as it is read, as a whole one is checked.
    image = defaultImage();
    image.resize(120);
    image[8] = 127;
    image[9] = 99;
    std::string note;
    ASSERT_EQ(engine.loadConfig(dir.writeBytes("120.cfg", image).c_str(), nullptr, &note), 0);
    EXPECT_EQ(engine.settings.pitchWheelRange, 24);
    EXPECT_EQ(engine.settings.inputChannel, AllChannels);
    EXPECT_EQ(note, "");
    for (const double frequency : {0.0, -440.0, 1e308}) {
        std::memcpy(image.data() + 11, &frequency, sizeof frequency);
        engine.settings.referenceFrequency = 415.0;
        ASSERT_EQ(engine.loadConfig(dir.writeBytes("hz.cfg", image).c_str(), nullptr, &note), 0);
        EXPECT_EQ(engine.settings.referenceFrequency, 440.0);
        EXPECT_NE(note.find("outside 1 Hz to 100 kHz: 440 Hz is used"), std::string::npos) << note;
    }
}

// A file that cannot be a configuration is refused whole; short files and
// whole ones, with or without an extension block, load.
TEST_F(ConfigFileTest, PlainlyForeignFilesAreRefusedAndChangeNothing)
{
    const std::vector<uint8_t> good = defaultImage();
    const Settings before = engine.settings;
    const struct {
        int at;
        uint8_t value;
        const char* reason;
    } damages[] = {
        {139, 41, "it names 41 init events, where 0 to 40 are possible"},
        {139, 1, "it ends within its init events"},
        {8, 88, "its pitch-wheel range is 88, where at most 24 is possible"},
        {9, 17, "its input channel is 17, where at most 16 is possible"},
        {10, 200, "its reference key is 200, where at most 127 is possible"},
        {128, 129, "its highest command key is 129, where at most 128 is possible"},
        {18, 0xFF, "its reference frequency is not a number"},
        {3, 0x80, "a device number in it is below -1"},
    };
    for (const auto& d : damages) {
        std::vector<uint8_t> image = good;
        image[static_cast<size_t>(d.at)] = d.value;
        if (d.at == 18)
            image[17] = 0xFF;  // with 18: all exponent bits, a NaN
        std::string problem;
        EXPECT_EQ(engine.loadConfig(dir.writeBytes("bad.cfg", image).c_str(), &problem), -2) << d.reason;
        EXPECT_EQ(problem, std::string("This is not a Vanto configuration file: ") + d.reason + ".");
        EXPECT_EQ(std::memcmp(&before, &engine.settings, sizeof before), 0) << d.reason;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_EQ(engine.loadConfig(dir.writeBytes("long.cfg", longer).c_str()), -2);
    EXPECT_EQ(engine.loadConfig(dir.write("guide.txt", std::string(4000, 'x')).c_str()), -2);
    EXPECT_EQ(engine.loadConfig(dir.writeBytes("short.cfg", std::vector<uint8_t>(good.begin(), good.begin() + 100)).c_str()), 0);
    engine.settings.releaseTime = 300;
    ASSERT_EQ(engine.saveConfig(dir.file("block.cfg").c_str()), 0);
    engine.settings = defaultSettings();
    EXPECT_EQ(engine.loadConfig(dir.file("block.cfg").c_str()), 0);
    EXPECT_EQ(engine.settings.releaseTime, 300);
}

// A count outside the array is clamped to it; an event cut by the end of the
// file keeps what it held before.
TEST_F(ConfigFileTest, EventsBeyondTheArrayOrTheFile)
{
    std::vector<uint8_t> image = defaultImage();
    for (int32_t stored : {41, 100000, -1, INT32_MIN}) {
        image.resize(143);
        for (int i = 0; i < 4; ++i)
            image[139 + i] = static_cast<uint8_t>(static_cast<uint32_t>(stored) >> (8 * i));
        image.insert(image.end(), 60 * 4, 0xAB);
        decodeConfig(image.data(), static_cast<int>(image.size()), engine.settings);
        EXPECT_EQ(engine.settings.initEventCount, stored > 0 ? MaxInitEvents : 0) << stored;
    }
    EXPECT_EQ(engine.settings.initMessage[39].param2, 0xAB);

    fillEvents(3);
    const InitEvent third = engine.settings.initMessage[2];
    image = defaultImage();
    image[139] = 3;
    image.insert(image.end(), {0x90, 1, 2, 3, 0xB0, 4, 5, 6, 0xC0, 7});
    decodeConfig(image.data(), static_cast<int>(image.size()), engine.settings);
    EXPECT_EQ(engine.settings.initEventCount, 3);
    EXPECT_EQ(engine.settings.initMessage[1].status, 0xB0);
    EXPECT_EQ(std::memcmp(&engine.settings.initMessage[2], &third, sizeof third), 0);
}

TEST_F(ConfigFileTest, UnreadableFilesLeaveTheSettingsUntouched)
{
    engine.settings.pitchWheelRange = 7;
    EXPECT_EQ(engine.loadConfig(dir.file("missing.cfg").c_str()), -1);
    EXPECT_EQ(engine.loadConfig(dir.path().c_str()), -1);
    ASSERT_EQ(::mkfifo(dir.file("pipe.cfg").c_str(), 0600), 0);
    EXPECT_EQ(engine.loadConfig(dir.file("pipe.cfg").c_str()), -1);  // at once, not waiting for a writer
    EXPECT_EQ(engine.settings.pitchWheelRange, 7);
}

TEST_F(ConfigFileTest, SavingThroughALinkReplacesWhatItPointsTo)
{
    std::filesystem::create_directory(dir.path() / "real");
    const std::string real = dir.write("real/settings.cfg", "old");
    std::filesystem::create_symlink("real/settings.cfg", dir.path() / "vanto.cfg");
    engine.settings.pitchWheelRange = 12;
    ASSERT_EQ(engine.saveConfig(dir.file("vanto.cfg").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "vanto.cfg"));
    EXPECT_EQ(readBytes(real).size(), 143u);
    EXPECT_EQ(readBytes(real)[8], 12);
}

TEST_F(ConfigFileTest, FailedSaveKeepsTheExistingFile)
{
    const std::string path = dir.file("vanto.cfg");
    engine.settings.pitchWheelRange = 9;
    ASSERT_EQ(engine.saveConfig(path.c_str()), 0);
    const std::vector<uint8_t> before = readBytes(path);
    engine.settings.pitchWheelRange = 3;

    // The temporary file cannot be created: a folder stands in its place.
    std::filesystem::create_directory(path + ".saving");
    std::string reason;
    EXPECT_EQ(engine.saveConfig(path.c_str(), &reason), -1);
    EXPECT_EQ(reason, "Is a directory");
    EXPECT_EQ(readBytes(path), before);
    std::filesystem::remove(path + ".saving");

    // The data cannot all be written: the file size limit stops it part-way.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = engine.saveConfig(path.c_str());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_FALSE(std::filesystem::exists(path + ".saving"));

    EXPECT_EQ(engine.saveConfig(dir.file("no/such/folder/x.cfg").c_str()), -1);
    EXPECT_EQ(engine.saveConfig("/proc/vanto-test.cfg"), -1);
}

}  // namespace
