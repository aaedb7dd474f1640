#include "test_tone.h"

#include <cmath>
#include <numbers>
#include <string>

namespace recmux_tool {

std::vector<int16_t> SineSamples(double frequency, double dbfs, int rate, size_t count)
{
    const double peak = 32767 * std::pow(10, dbfs / 20);
    const double step = 2 * std::numbers::pi * frequency / rate;
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; i++) {
        const double value = peak * std::sin(step * static_cast<double>(i));
        samples[i] = static_cast<int16_t>(std::lround(value));
    }
    return samples;
}

std::unique_ptr<AudioSource> OpenTestTone(double seconds)
{
    const auto count = static_cast<size_t>(std::lround(seconds * kToneRate));
    return EncodePcm(SineSamples(kToneHz, kToneDbfs, kToneRate, count), kToneRate, kToneCode,
                     "the test tone, " + std::to_string(kToneHz) + " Hz at " +
                         std::to_string(static_cast<int>(kToneDbfs)) + " dBFS");
}

}  // namespace recmux_tool
