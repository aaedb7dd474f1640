#include "video/reorder_depth.h"

#include <algorithm>

#include "video/annexb.h"
#include "video/sps_parser.h"

namespace recmux {
namespace {

constexpr uint32_t kMaxDepth = 16;
constexpr uint32_t kH264Sps = 7;
constexpr uint32_t kHevcSps = 33;

bool SkipBits(RbspBitReader &bits, int32_t count)
{
    uint32_t ignored = 0;
    for (; count > 32; count -= 32) {
        if (!bits.ReadBits(32, ignored))
            return false;
    }
    return bits.ReadBits(count, ignored);
}

bool SkipProfileTierLevel(RbspBitReader &bits, uint32_t sub_layers)
{
    uint32_t present[8] = {};
    if (!SkipBits(bits, 96))  // general profile, tier and level
        return false;
    for (uint32_t i = 0; i < sub_layers; ++i) {
        if (!bits.ReadBits(2, present[i]))
            return false;
    }
    if (sub_layers > 0 && !SkipBits(bits, 2 * static_cast<int32_t>(8 - sub_layers)))
        return false;
    for (uint32_t i = 0; i < sub_layers; ++i) {
        if ((present[i] & 2 && !SkipBits(bits, 88)) || (present[i] & 1 && !SkipBits(bits, 8)))
            return false;
    }
    return true;
}

// seq_parameter_set_rbsp() up to the highest sub-layer's sps_max_num_reorder_pics.
bool HevcReorderDepth(const uint8_t *payload, uint32_t size, uint32_t &depth)
{
    RbspBitReader bits(payload, size);
    uint32_t sub_layers = 0, value = 0, flag = 0;
    if (!SkipBits(bits, 4) || !bits.ReadBits(3, sub_layers) || sub_layers > 6 || !SkipBits(bits, 1) ||
        !SkipProfileTierLevel(bits, sub_layers) || !bits.ReadUe(value) || !bits.ReadUe(value) ||
        (value == 3 && !SkipBits(bits, 1)) || !bits.ReadUe(value) || !bits.ReadUe(value) ||
        !bits.ReadBits(1, flag))
        return false;
    for (int i = 0; flag && i < 4; ++i) {  // conformance window
        if (!bits.ReadUe(value))
            return false;
    }
    if (!bits.ReadUe(value) || !bits.ReadUe(value) || !bits.ReadUe(value) || !bits.ReadBits(1, flag))
        return false;
    for (uint32_t i = flag ? 0 : sub_layers; i <= sub_layers; ++i) {
        if (!bits.ReadUe(value) || !bits.ReadUe(depth) || !bits.ReadUe(value))
            return false;
    }
    return true;
}

}  // namespace

uint32_t ReorderDepth(AVCodecID codec, const std::vector<uint8_t> &parameter_sets)
{
    if (codec == AV_CODEC_ID_MPEG4)
        return 1;
    const uint8_t *cursor = parameter_sets.data();
    const uint8_t *end = cursor + parameter_sets.size();
    NalUnit unit{};
    while (NextNalUnit(cursor, end, unit)) {
        uint32_t depth = kMaxDepth;
        const auto size = static_cast<uint32_t>(unit.size);
        if (codec == AV_CODEC_ID_H264 && size > 1 && (unit.data[0] & 0x1f) == kH264Sps)
            return H264ReorderDepth(unit.data + 1, size - 1, depth) ? std::min(depth, kMaxDepth) : kMaxDepth;
        if (codec == AV_CODEC_ID_HEVC && size > 2 && (unit.data[0] >> 1 & 0x3f) == kHevcSps)
            return HevcReorderDepth(unit.data + 2, size - 2, depth) ? std::min(depth, kMaxDepth) : kMaxDepth;
    }
    return kMaxDepth;
}

}  // namespace recmux
