#include "video/sps_parser.h"

#include <algorithm>
#include <cstdio>

#include "platform/library_log.h"

namespace recmux {
namespace {

constexpr uint32_t kNalUnitTypeSps = 7;
// The standard's limit; larger counts only come from damaged or hostile input.
constexpr uint32_t kMaxRefFramesInPocCycle = 255;
// Beyond this no encoder or muxer we feed handles the picture; the coded size
// is at least one macroblock by construction.
constexpr int64_t kMaxDimension = 16384;

struct CodedSize {
    int64_t width;
    int64_t height;
    bool fieldCoded;
    uint32_t profileIdc;
    uint32_t levelIdc;
    bool constraintSet3;
};

// Inside a NAL unit 00 00 00, 00 00 01 and 00 00 02 never occur, so the first
// of them is where the next start code (or trailing padding) begins; a short
// parameter set must not borrow the bits of the NAL unit behind it.
uint32_t PayloadLength(const uint8_t *payload, uint32_t size)
{
    for (uint32_t i = 0; i + 2 < size; ++i) {
        if (payload[i] == 0 && payload[i + 1] == 0 && payload[i + 2] <= 2)
            return i;
    }
    return size;
}

bool HasChromaFormat(uint32_t profile_idc)
{
    switch (profile_idc) {
    case 100: case 110: case 122: case 244: case 44: case 83:
    case 86: case 118: case 128: case 138: case 144:
        return true;
    default:
        return false;
    }
}

// Only the delta_scale codes have to be passed over; the matrix is the decoder's.
// lastScale of the standard equals nextScale for as long as codes are read.
bool SkipScalingList(RbspBitReader &bits, int32_t sizeOfScalingList)
{
    int32_t nextScale = 8;
    for (int32_t j = 0; j < sizeOfScalingList && nextScale != 0; ++j) {
        int32_t delta_scale = 0;
        if (!bits.ReadSe(delta_scale) || delta_scale < -128 || delta_scale > 127)
            return false;
        nextScale = (nextScale + delta_scale + 256) % 256;
    }
    return true;
}

bool SkipChromaFormatFields(RbspBitReader &bits)
{
    uint32_t chroma_format_idc = 0, ignored = 0, seq_scaling_matrix_present_flag = 0;
    if (!bits.ReadUe(chroma_format_idc))
        return false;
    if (chroma_format_idc == 3 && !bits.ReadBits(1, ignored))  // separate_colour_plane_flag
        return false;
    if (!bits.ReadUe(ignored) || !bits.ReadUe(ignored)      // bit depths
        || !bits.ReadBits(1, ignored)                         // qpprime_y_zero_transform_bypass_flag
        || !bits.ReadBits(1, seq_scaling_matrix_present_flag))
        return false;
    if (!seq_scaling_matrix_present_flag)
        return true;
    const int32_t lists = chroma_format_idc == 3 ? 12 : 8;
    for (int32_t i = 0; i < lists; ++i) {
        uint32_t seq_scaling_list_present_flag = 0;
        if (!bits.ReadBits(1, seq_scaling_list_present_flag))
            return false;
        if (seq_scaling_list_present_flag && !SkipScalingList(bits, i < 6 ? 16 : 64))
            return false;
    }
    return true;
}

bool SkipPicOrderCountFields(RbspBitReader &bits, uint32_t pic_order_cnt_type)
{
    uint32_t ignored = 0;
    int32_t offset = 0;
    if (pic_order_cnt_type == 0)
        return bits.ReadUe(ignored);  // log2_max_pic_order_cnt_lsb_minus4
    if (pic_order_cnt_type != 1)
        return true;
    uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
    if (!bits.ReadBits(1, ignored) || !bits.ReadSe(offset) || !bits.ReadSe(offset)
        || !bits.ReadUe(num_ref_frames_in_pic_order_cnt_cycle)
        || num_ref_frames_in_pic_order_cnt_cycle > kMaxRefFramesInPocCycle)
        return false;
    for (uint32_t i = 0; i < num_ref_frames_in_pic_order_cnt_cycle; ++i) {
        if (!bits.ReadSe(offset))  // offset_for_ref_frame
            return false;
    }
    return true;
}

// seq_parameter_set_data() up to frame_mbs_only_flag; the cropping fields
// behind it are not needed because the coded size is what the probe wants.
bool ReadCodedSize(RbspBitReader &bits, CodedSize &size)
{
    uint32_t profile_idc = 0, constraint_flags = 0, level_idc = 0, ignored = 0, pic_order_cnt_type = 0;
    if (!bits.ReadBits(8, profile_idc) || !bits.ReadBits(8, constraint_flags)
        || !bits.ReadBits(8, level_idc)
        || !bits.ReadUe(ignored))       // seq_parameter_set_id
        return false;
    if (HasChromaFormat(profile_idc) && !SkipChromaFormatFields(bits))
        return false;
    if (!bits.ReadUe(ignored)  // log2_max_frame_num_minus4
        || !bits.ReadUe(pic_order_cnt_type) || !SkipPicOrderCountFields(bits, pic_order_cnt_type))
        return false;
    uint32_t pic_width_in_mbs_minus1 = 0, pic_height_in_map_units_minus1 = 0, frame_mbs_only_flag = 0;
    if (!bits.ReadUe(ignored)        // max_num_ref_frames
        || !bits.ReadBits(1, ignored)  // gaps_in_frame_num_value_allowed_flag
        || !bits.ReadUe(pic_width_in_mbs_minus1) || !bits.ReadUe(pic_height_in_map_units_minus1)
        || !bits.ReadBits(1, frame_mbs_only_flag))
        return false;
    // A map unit is a field macroblock pair when frames may be coded as fields.
    size.width = (int64_t{pic_width_in_mbs_minus1} + 1) * 16;
    size.height = (int64_t{pic_height_in_map_units_minus1} + 1) * 16 * (frame_mbs_only_flag ? 1 : 2);
    size.fieldCoded = !frame_mbs_only_flag;
    size.profileIdc = profile_idc;
    size.levelIdc = level_idc;
    size.constraintSet3 = constraint_flags & 0x10;
    return true;
}

bool SkipHrdParameters(RbspBitReader &bits)
{
    uint32_t cpb_cnt_minus1 = 0, ignored = 0;
    if (!bits.ReadUe(cpb_cnt_minus1) || cpb_cnt_minus1 > 31 || !bits.ReadBits(8, ignored))
        return false;
    for (uint32_t i = 0; i <= cpb_cnt_minus1; ++i) {
        if (!bits.ReadUe(ignored) || !bits.ReadUe(ignored) || !bits.ReadBits(1, ignored))
            return false;
    }
    return bits.ReadBits(20, ignored);
}

// The VUI up to max_num_reorder_frames; false when it does not state it.
bool ReadVuiReorderFrames(RbspBitReader &bits, uint32_t &reorder_frames)
{
    uint32_t flag = 0, value = 0;
    if (!bits.ReadBits(1, flag))  // aspect_ratio_info_present_flag
        return false;
    if (flag && (!bits.ReadBits(8, value) || (value == 255 && !bits.ReadBits(32, value))))
        return false;
    if (!bits.ReadBits(1, flag) || (flag && !bits.ReadBits(1, value)))  // overscan
        return false;
    if (!bits.ReadBits(1, flag)  // video_signal_type_present_flag
        || (flag && (!bits.ReadBits(4, value) || !bits.ReadBits(1, flag)
                     || (flag && !bits.ReadBits(24, value)))))
        return false;
    if (!bits.ReadBits(1, flag) || (flag && (!bits.ReadUe(value) || !bits.ReadUe(value))))
        return false;  // chroma_loc_info
    if (!bits.ReadBits(1, flag)  // timing_info_present_flag
        || (flag && (!bits.ReadBits(32, value) || !bits.ReadBits(32, value) || !bits.ReadBits(1, value))))
        return false;
    uint32_t nal_hrd = 0, vcl_hrd = 0;
    if (!bits.ReadBits(1, nal_hrd) || (nal_hrd && !SkipHrdParameters(bits))
        || !bits.ReadBits(1, vcl_hrd) || (vcl_hrd && !SkipHrdParameters(bits))
        || ((nal_hrd || vcl_hrd) && !bits.ReadBits(1, value))  // low_delay_hrd_flag
        || !bits.ReadBits(1, value)                             // pic_struct_present_flag
        || !bits.ReadBits(1, flag) || !flag)                    // bitstream_restriction_flag
        return false;
    return bits.ReadBits(1, value) && bits.ReadUe(value) && bits.ReadUe(value)
           && bits.ReadUe(value) && bits.ReadUe(value) && bits.ReadUe(reorder_frames);
}

// What the level's decoded picture buffer holds of pictures this size, at most 16.
uint32_t LevelReorderFrames(const CodedSize &size)
{
    static constexpr struct { uint32_t level; uint32_t maxDpbMbs; } kLevels[] = {
        {9, 396},      {10, 396},     {11, 900},     {12, 2376},    {13, 2376},
        {20, 2376},    {21, 4752},    {22, 8100},    {30, 8100},    {31, 18000},
        {32, 20480},   {40, 32768},   {41, 32768},   {42, 34816},   {50, 110400},
        {51, 184320},  {52, 184320},  {60, 696320},  {61, 696320},  {62, 696320},
    };
    const int64_t frame_mbs = size.width / 16 * (size.height / 16);
    for (const auto &level : kLevels) {
        if (level.level == size.levelIdc)
            return static_cast<uint32_t>(std::min<int64_t>(level.maxDpbMbs / frame_mbs, 16));
    }
    return 16;
}

}  // namespace

bool RbspBitReader::ReadBit(uint32_t &bit)
{
    if (bitsLeft_ == 0) {
        if (zeroBytes_ >= 2 && next_ < size_ && data_[next_] == 3) {
            ++next_;
            zeroBytes_ = 0;
        }
        if (next_ >= size_)
            return false;
        byte_ = data_[next_++];
        zeroBytes_ = byte_ == 0 ? zeroBytes_ + 1 : 0;
        bitsLeft_ = 8;
    }
    --bitsLeft_;
    bit = (byte_ >> bitsLeft_) & 1u;
    return true;
}

bool RbspBitReader::ReadBits(int32_t n, uint32_t &value)
{
    if (n < 0 || n > 32)
        return false;
    uint32_t result = 0;
    for (int32_t i = 0; i < n; ++i) {
        uint32_t bit = 0;
        if (!ReadBit(bit))
            return false;
        result = (result << 1) | bit;
    }
    value = result;
    return true;
}

bool RbspBitReader::ReadUe(uint32_t &value)
{
    int32_t leadingZeros = 0;
    for (uint32_t bit = 0; !bit;) {
        if (!ReadBit(bit) || (!bit && ++leadingZeros > 31))
            return false;
    }
    uint32_t suffix = 0;
    if (!ReadBits(leadingZeros, suffix))
        return false;
    value = ((uint32_t{1} << leadingZeros) - 1) + suffix;
    return true;
}

bool RbspBitReader::ReadSe(int32_t &value)
{
    uint32_t k = 0;
    if (!ReadUe(k))
        return false;
    // k is at most 2^32 - 2, so both halves fit a signed 32-bit value.
    value = (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
    return true;
}

bool GetResulotion(const uint8_t *data, uint32_t size, int32_t &width, int32_t &height,
                   int32_t &fieldCoded)
{
    if (!data || size < 5 || data[0] != 0 || data[1] != 0 || data[2] != 0 || data[3] != 1)
        return false;
    const uint8_t header = data[4];
    if ((header & 0x07) != 0x07)
        return false;
    const uint32_t nal_unit_type = header & 0x1F;
    char message[200];
    std::snprintf(message, sizeof message,
                  "GetResulotion  forbidden_zero_bit=%d, nal_ref_idc=%d, nal_unit_type=%d ",
                  header >> 7, (header >> 5) & 3, static_cast<int>(nal_unit_type));
    platform::DebugOutput(message);
    if (nal_unit_type != kNalUnitTypeSps)
        return false;

    const uint8_t *payload = data + 5;
    RbspBitReader bits(payload, PayloadLength(payload, size - 5));
    CodedSize coded{};
    if (!ReadCodedSize(bits, coded) || coded.width > kMaxDimension || coded.height > kMaxDimension)
        return false;
    width = static_cast<int32_t>(coded.width);
    height = static_cast<int32_t>(coded.height);
    fieldCoded = coded.fieldCoded ? 1 : 0;
    return true;
}

bool H264ReorderDepth(const uint8_t *payload, uint32_t size, uint32_t &depth)
{
    RbspBitReader bits(payload, PayloadLength(payload, size));
    CodedSize coded{};
    uint32_t ignored = 0, frame_cropping_flag = 0, vui_parameters_present_flag = 0;
    if (!ReadCodedSize(bits, coded) || coded.width > kMaxDimension || coded.height > kMaxDimension)
        return false;
    // Baseline and the intra profiles have no B slices: nothing is shown out of order.
    const bool intra_only = coded.constraintSet3 &&
                            (coded.profileIdc == 100 || coded.profileIdc == 110 ||
                             coded.profileIdc == 122 || coded.profileIdc == 244);
    if (coded.profileIdc == 66 || coded.profileIdc == 44 || intra_only) {
        depth = 0;
        return true;
    }
    if ((coded.fieldCoded && !bits.ReadBits(1, ignored))  // mb_adaptive_frame_field_flag
        || !bits.ReadBits(1, ignored)                     // direct_8x8_inference_flag
        || !bits.ReadBits(1, frame_cropping_flag)
        || (frame_cropping_flag && (!bits.ReadUe(ignored) || !bits.ReadUe(ignored)
                                    || !bits.ReadUe(ignored) || !bits.ReadUe(ignored)))
        || !bits.ReadBits(1, vui_parameters_present_flag))
        return false;
    uint32_t reorder_frames = 0;
    depth = vui_parameters_present_flag && ReadVuiReorderFrames(bits, reorder_frames)
                ? std::min<uint32_t>(reorder_frames, 16)
                : LevelReorderFrames(coded);
    return true;
}

}  // namespace recmux
