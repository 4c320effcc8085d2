#include <gtest/gtest.h>

#include "engine/output_senders.h"
#include "support/engine_fixture.h"

namespace {

class OutputSendersTest : public EngineTest {};

TEST_F(OutputSendersTest, PitchBendSendsLeastSignificantBitsFirst)
{
    engine.sendPitchBend(0, 16383);
    engine.sendPitchBend(5, 0);
    engine.sendPitchBend(15, 8192);
    engine.sendPitchBend(1, 0x7FFFF);  // bits above 13 are dropped
    const std::vector<ShortMessage> expected = {{0xE0, 127, 127}, {0xE5, 0, 0}, {0xEF, 0, 64}, {0xE1, 127, 127}};
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(output.malformedWords, 0);
}

TEST_F(OutputSendersTest, InitEventsGoToTheirChannelAllUsedChannelsOrOnce)
{
    engine.sendInitEvent({0x90, 3, 60, 100});
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0], (ShortMessage{0x93, 60, 100}));
    output.clear();
    engine.sendInitEvent({0x90, 15, 60, 100});
    EXPECT_EQ(sent(), (std::vector<ShortMessage>{{0x9F, 60, 100}}));
    output.clear();
    engine.sendInitEvent({0x90, 16, 60, 100});
    EXPECT_EQ(sent().size(), 15u);
    output.clear();
    engine.sendInitEvent({0xFF, 16, 0, 0});
    engine.sendInitEvent({0xF8, 7, 0, 0});
    engine.sendInitEvent({0xF2, 16, 5, 6});
    const std::vector<ShortMessage> expected = {{0xFF, 0, 0}, {0xF8, 0, 0}, {0xF2, 5, 6}};
    EXPECT_EQ(sent(), expected);
}

// A count outside the array is bounded to it.
TEST_F(OutputSendersTest, InitMessageSendsEachEventInOrder)
{
    engine.settings.initEventCount = 3;
    engine.settings.initMessage[0] = {0xC0, 0, 4, 0};
    engine.settings.initMessage[1] = {0xB0, 1, 7, 90};
    engine.settings.initMessage[2] = {0xF6, 0, 0, 0};
    engine.sendInitMessage();
    EXPECT_EQ(sent(), (std::vector<ShortMessage>{{0xC0, 4, 0}, {0xB1, 7, 90}, {0xF6, 0, 0}}));
    for (const int count : {0, -3, 1000}) {
        output.clear();
        engine.settings.initEventCount = count;
        engine.sendInitMessage();
        EXPECT_EQ(sent().size(), count > 0 ? size_t{MaxInitEvents} : 0u) << count;
    }
}

}  // namespace
