#pragma once
// Estimates the fundamental frequency of a sustained tone: YIN's cumulative
// mean normalised difference finds the period without octave errors, then
// the difference function's minimum near a multiple of it, interpolated by a
// parabola, refines it to a small fraction of a sample.

#include <cmath>
#include <cstddef>
#include <vector>

namespace pitch {

// The squared-difference function d(lag) over a window of the signal.
inline double difference(const float* x, size_t window, size_t lag)
{
    double sum = 0.0;
    for (size_t i = 0; i < window; ++i) {
        const double delta = static_cast<double>(x[i]) - x[i + lag];
        sum += delta * delta;
    }
    return sum;
}

// The lag of the first dip of the normalised difference below threshold;
// 0 when there is none, so no clear period.
inline size_t coarsePeriod(const float* x, size_t window, size_t minLag, size_t maxLag)
{
    double running = 0.0;
    for (size_t lag = 1; lag <= maxLag; ++lag) {
        const double d = difference(x, window, lag);
        running += d;
        const double normalised = running > 0 ? d * lag / running : 1.0;
        if (lag < minLag)
            continue;
        if (normalised < 0.15) {
            // Walk down to the bottom of this dip.
            size_t bottom = lag;
            double value = d;
            while (bottom + 1 <= maxLag) {
                const double next = difference(x, window, bottom + 1);
                if (next >= value)
                    break;
                value = next;
                ++bottom;
            }
            return bottom;
        }
    }
    return 0;
}

// The sub-sample position of the difference minimum near lag.
inline double refinedMinimum(const float* x, size_t window, size_t lag)
{
    size_t at = lag;
    for (int step = 0; step < 4; ++step) {
        const double here = difference(x, window, at);
        const double below = difference(x, window, at - 1);
        const double above = difference(x, window, at + 1);
        if (below < here && below <= above)
            --at;
        else if (above < here)
            ++at;
        else
            break;
    }
    const double a = difference(x, window, at - 1);
    const double b = difference(x, window, at);
    const double c = difference(x, window, at + 1);
    const double denominator = a - 2 * b + c;
    const double offset = denominator > 0 ? 0.5 * (a - c) / denominator : 0.0;
    return static_cast<double>(at) + offset;
}

// Hz of the tone in samples (mono, at rate), between 20 Hz and 5 kHz; 0 when
// there is no periodic tone.
inline double estimateFundamental(const std::vector<float>& samples, double rate)
{
    const size_t minLag = static_cast<size_t>(rate / 5000.0);
    const size_t maxLag = static_cast<size_t>(rate / 20.0);
    const size_t window = static_cast<size_t>(rate * 0.05);
    // Many periods apart, the interpolation error is shared out among them.
    const size_t span = static_cast<size_t>(rate * 0.08);
    if (samples.size() < window + span + maxLag + 2)
        return 0.0;
    const size_t coarse = coarsePeriod(samples.data(), window, minLag, maxLag);
    if (coarse < 2)
        return 0.0;
    // Doubling the number of periods each step keeps every step's guess
    // well within half a period of the true multiple.
    double period = refinedMinimum(samples.data(), window, coarse);
    for (size_t periods = 2; period * static_cast<double>(periods) <= static_cast<double>(span); periods *= 2) {
        const auto guess = static_cast<size_t>(std::lround(period * static_cast<double>(periods)));
        period = refinedMinimum(samples.data(), window, guess) / static_cast<double>(periods);
    }
    return rate / period;
}

inline double centsBetween(double measured, double target)
{
    return 1200.0 * std::log2(measured / target);
}

}  // namespace pitch
