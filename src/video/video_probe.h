#pragma once

#include <cstdint>

namespace recmux {

// The picture size that FFmpeg's decoder finds in one frame; false if none.
bool DecodeFrameSize(int32_t codec, const uint8_t *data, uint32_t size, int32_t &width,
                     int32_t &height);

}  // namespace recmux
