#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "synth/pitch_estimator.h"

namespace {

std::vector<float> tone(double hz, double rate, double seconds, std::mt19937& rng, double noise)
{
    std::normal_distribution<double> hiss(0.0, noise);
    std::vector<float> x(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        x[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * hz * t) + 0.3 * std::sin(2 * M_PI * 2 * hz * t + 0.3) +
                                  0.2 * std::sin(2 * M_PI * 3 * hz * t + 1.1) + hiss(rng));
    }
    return x;
}

TEST(PitchEstimator, MeasuresTonesWithHarmonicsToAFewHundredthsOfACent)
{
    std::mt19937 rng(3);
    double worst = 0.0;
    for (double hz = 30.0; hz < 4500.0; hz *= 1.0371) {
        const double cents = pitch::centsBetween(pitch::estimateFundamental(tone(hz, 48000, 0.3, rng, 0.001), 48000), hz);
        worst = std::max(worst, std::fabs(cents));
    }
    EXPECT_LT(worst, 0.05);
}

TEST(PitchEstimator, DoesNotJumpAnOctaveOnAStrongSecondHarmonic)
{
    std::vector<float> x(48000 / 3);
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / 48000;
        x[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 220 * t) + 0.9 * std::sin(2 * M_PI * 440 * t));
    }
    EXPECT_NEAR(pitch::estimateFundamental(x, 48000), 220.0, 0.01);
}

TEST(PitchEstimator, SilenceHasNoPitch)
{
    EXPECT_EQ(pitch::estimateFundamental(std::vector<float>(48000, 0.0f), 48000), 0.0);
    EXPECT_EQ(pitch::estimateFundamental(std::vector<float>(100, 0.5f), 48000), 0.0);
}

}  // namespace
