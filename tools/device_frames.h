// Splits a file of device audio into the frames a device would have sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace recmux_tool {

// A headerless piece, as long as the recorder's headerless blocks.
constexpr size_t kHeaderlessPiece = 320;

struct DeviceFrames {
    std::vector<std::span<const uint8_t>> frames;
    bool headered = false;      // voice frames, each with its 4-byte header
    size_t dropped_bytes = 0;   // an incomplete voice frame at the end
};

// A run of voice frames (0x00 0x01 L x, then 2L bytes; L > 0) when every
// header is one, the last frame perhaps cut short; otherwise headerless
// payload in 320-byte pieces, the last one shorter.
DeviceFrames SplitDeviceFrames(std::span<const uint8_t> bytes);

}  // namespace recmux_tool
