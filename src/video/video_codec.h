#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace recmux {

// The caller's video codec value: 0 or 264 H.264, 1, 265 or 256 H.265, 2 MPEG-4 Part 2.
inline AVCodecID VideoCodecId(int32_t value)
{
    switch (value) {
    case 0:
    case 264:
        return AV_CODEC_ID_H264;
    case 1:
    case 265:
    case 256:
        return AV_CODEC_ID_HEVC;
    case 2:
        return AV_CODEC_ID_MPEG4;
    default:
        return AV_CODEC_ID_NONE;
    }
}

// The value the recorder uses for a codec it records; -1 for any other.
inline int32_t VideoCodecValue(AVCodecID codec_id)
{
    switch (codec_id) {
    case AV_CODEC_ID_H264:
        return 0;
    case AV_CODEC_ID_HEVC:
        return 1;
    case AV_CODEC_ID_MPEG4:
        return 2;
    default:
        return -1;
    }
}

}  // namespace recmux
