#pragma once

#include <cstdint>

namespace recmux {

// The caller's codec value (0 H.264, 1 H.265, 2 MPEG-4 Part 2) of a key frame,
// read from the header of its first NAL unit past any delimiter or SEI.
int32_t DetectVideoCodec(const uint8_t *data, uint32_t size);

// The picture size that FFmpeg's decoder finds in one frame; false if none.
bool DecodeFrameSize(int32_t codec, const uint8_t *data, uint32_t size, int32_t &width,
                     int32_t &height);

}  // namespace recmux
