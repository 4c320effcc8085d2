#include <cmath>

#include <gtest/gtest.h>

#include "engine/scale_in_force.h"
#include "scale/scale.h"
#include "support/engine_fixture.h"

namespace {

TEST(DefaultScale, IsTwelveToneEqualOnMiddleC)
{
    resetEngineRecords();
    setDefaultScale();
    EXPECT_STREQ(scale.name, "12 tone equal temperament");
    EXPECT_EQ(scale.degrees, 12);
    EXPECT_EQ(scale.centre, 60);
    EXPECT_EQ(scale.pitch, 261.626);
    EXPECT_EQ(scale.octavePeriod, 1);
    EXPECT_EQ(scale.ratio[0], 1.0);
    EXPECT_NEAR(scale.ratio[7], 1.498307, 1e-6);
    EXPECT_NEAR(scale.ratio[12], 2.0, 1e-15);
    EXPECT_EQ(scale.ratio[13], 0.0);
    EXPECT_EQ(currentPitch, scale.pitch);
    EXPECT_EQ(currentCentre, scale.centre);
}

}  // namespace
