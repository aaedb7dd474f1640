// How far a stream's presentation order departs from its decode order.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace recmux {

// The most frames a decoder holds back before it shows one, from the
// parameter sets of a key frame: H.264's VUI or level, H.265's
// sps_max_num_reorder_pics. An MPEG-4 B-VOP is never a reference, so one frame
// at most. What cannot be read is taken at the codec's largest.
uint32_t ReorderDepth(AVCodecID codec, const std::vector<uint8_t> &parameter_sets);

}  // namespace recmux
