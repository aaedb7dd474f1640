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

// The bytes of a 16-bit mono PCM WAV holding audio; nothing when its data
// would not fit the 32-bit sizes of a RIFF file.
std::optional<std::vector<uint8_t>> WavBytes(const WavAudio &audio);

}  // namespace recmux_tool
