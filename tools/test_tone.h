// The built-in test tone that comes with the test pattern.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio_source.h"
#include <recmux/recmux_writer.h>

namespace recmux_tool {

constexpr int kToneHz = 1000;
constexpr double kToneDbfs = -12;
constexpr int kToneRate = 8000;
constexpr int kToneCode = RECMUX_AUDIO_G711_ALAW;

// count samples of a sine at frequency Hz whose peak is dbfs below full scale.
std::vector<int16_t> SineSamples(double frequency, double dbfs, int rate, size_t count);

// seconds of the tone, encoded on the fly as G.711 A-law.
std::unique_ptr<AudioSource> OpenTestTone(double seconds);

}  // namespace recmux_tool
