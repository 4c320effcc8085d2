#include <gtest/gtest.h>

#include "app/settings.h"

namespace {

TEST(SettingsDefaults, MatchAFreshStart)
{
    const Settings s = defaultSettings();
    EXPECT_EQ(s.inputDevice, 0);
    EXPECT_EQ(s.outputDevice, -1);
    EXPECT_EQ(s.inputChannel, AllChannels);
    EXPECT_EQ(s.pitchWheelRange, 2);
    EXPECT_EQ(s.referenceKey, 69);
    EXPECT_EQ(s.referenceFrequency, 440.0);
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(s.useChannel[c], c == 9 ? 0 : 1) << c;
    const int32_t relays[] = {1, 1, 1, 1, 0, 0, 0, 0, 0};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(s.relay[i], relays[i]) << i;
    const uint8_t controllers[] = {1, 10, 91, 92, 93, 95, 64, 7};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(s.controlBarController[i], controllers[i]) << i;
    EXPECT_EQ(s.commandKey, NoKey);
    EXPECT_EQ(s.demodulateKey, NoKey);
    EXPECT_EQ(s.resetPitchKey, NoKey);
    EXPECT_EQ(s.initMessageKey, NoKey);
    EXPECT_EQ(s.shiftCentre, 0);
    EXPECT_EQ(s.sendInitOnOpen, 1);
    EXPECT_EQ(s.initEventCount, 0);
}

}  // namespace
