// 16-bit mono PCM WAV files, read from untrusted bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace recmux_tool {

struct WavAudio {
    int rate = 0;
    std::vector<int16_t> samples;
};

// "RIFF" and "WAVE" at their places: the bytes claim to be a WAV.
bool LooksLikeWav(std::span<const uint8_t> bytes);

// Nothing, with *problem saying why, unless the bytes are a well-formed WAV of
// 16-bit mono PCM whose every length fits inside them.
std::optional<WavAudio> ParseWav(std::span<const uint8_t> bytes, std::string *problem);

}  // namespace recmux_tool
