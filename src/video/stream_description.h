// What a sample entry says about a video stream, read from the stream's own
// headers: no encoder is needed to describe what the camera already did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace recmux {

struct StreamDescription {
    // 0 when the headers do not tell it (parameter sets without a picture).
    int32_t width = 0;
    int32_t height = 0;
    int profile = FF_PROFILE_UNKNOWN;
    int level = FF_LEVEL_UNKNOWN;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    // Annex B: SPS/PPS, VPS/SPS/PPS, or the MPEG-4 headers before the first VOP.
    std::vector<uint8_t> parameterSets;
};

// False when the key frame carries no parameter sets: nothing could describe
// its stream to a player.
bool DescribeKeyFrame(AVCodecID codec_id, const uint8_t *data, size_t size,
                      StreamDescription &description);

}  // namespace recmux
