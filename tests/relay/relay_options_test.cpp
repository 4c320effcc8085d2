#include <gtest/gtest.h>

#include "engine/settings.h"
#include "relay/relay_options.h"

namespace {

TEST(RelayOptions, DevicesAreFoundByNumberOrByPartOfTheirName)
{
    const std::vector<std::string> inputs = {"USB Keyboard:MIDI 1", "Sequencer:out", "2"};
    EXPECT_EQ(findInputDevice("1", inputs), 1);
    EXPECT_EQ(findInputDevice("keyboard", inputs), 0);
    EXPECT_EQ(findInputDevice("SEQ", inputs), 1);
    EXPECT_EQ(findInputDevice("3", inputs), std::nullopt);  // no fourth device, and no name holds "3"
    EXPECT_EQ(findInputDevice("", inputs), std::nullopt);
    EXPECT_EQ(findInputDevice("99999999999999999999", inputs), std::nullopt);
    const std::vector<std::string> outputs = {"FLUID Synth:midi_00"};
    EXPECT_EQ(findOutputDevice("0", outputs), -1);  // "Vanto Out", first in the list
    EXPECT_EQ(findOutputDevice("Virtual", outputs), -1);
    EXPECT_EQ(findOutputDevice("1", outputs), 0);
    EXPECT_EQ(findOutputDevice("fluid", outputs), 0);
    EXPECT_EQ(findOutputDevice("2", outputs), std::nullopt);
}

TEST(RelayOptions, ArgumentsFollowTheUsage)
{
    const char* good[] = {"vanto-relay", "--config", "rack.cfg", "--in", "keys", "--kbm", "w.kbm",
                          "--output-mode", "mpe", "scale.scl"};
    RelayOptions options;
    ASSERT_TRUE(parseRelayOptions(10, good, options));
    EXPECT_EQ(options.outputMode, OutputMpe);
    EXPECT_EQ(options.configPath, "rack.cfg");
    EXPECT_EQ(options.input, "keys");
    EXPECT_FALSE(options.output);
    EXPECT_EQ(options.mappingPath, "w.kbm");
    EXPECT_EQ(options.scalePath, "scale.scl");
    const char* hands[] = {"vanto-relay", "--pitch-wheel", "bend", "--player-bend-range", "12", "--mpe-input", "24",
                           "--layout", "offset:31", "s.scl"};
    RelayOptions playing;
    ASSERT_TRUE(parseRelayOptions(10, hands, playing));
    EXPECT_EQ(playing.keysPerChannel, 31);
    EXPECT_EQ(playing.pitchWheelUse, PitchWheelBendNotes);
    EXPECT_EQ(playing.playerBendRange, 12);
    EXPECT_TRUE(playing.mpeInput);
    EXPECT_EQ(playing.inputBendRange, 24);
    EXPECT_EQ(playing.scalePath, "s.scl") << "a range is a number; the scale is not taken for one";
    for (const std::vector<const char*>& bad : {std::vector<const char*>{"vanto-relay", "--in"},
                                                 {"vanto-relay", "--loud"},
                                                 {"vanto-relay", "--output-mode", "loud"},
                                                 {"vanto-relay", "--pitch-wheel", "up"},
                                                 {"vanto-relay", "--player-bend-range", "0"},
                                                 {"vanto-relay", "--mpe-input", "97"},
                                                 {"vanto-relay", "--layout", "offset:0"},
                                                 {"vanto-relay", "--layout", "offset:129"},
                                                 {"vanto-relay", "--layout", "31"},
                                                 {"vanto-relay", "a.scl", "b.scl"}}) {
        RelayOptions o;
        EXPECT_FALSE(parseRelayOptions(static_cast<int>(bad.size()), bad.data(), o)) << bad.back();
    }
}

}  // namespace
