// Whole files in and out, for the audio inputs and the voice command.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace recmux_tool {

// The whole of an audio or voice-frame file (at most 1 GiB); false after
// saying why on stderr.
bool ReadAudioFile(const std::string &path, std::vector<uint8_t> &bytes);

// Writes bytes as the whole of path; false after saying why on stderr.
bool WriteWholeFile(const std::string &path, std::span<const uint8_t> bytes);

}  // namespace recmux_tool
