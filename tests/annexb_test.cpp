#include <gtest/gtest.h>

#include <vector>

#include "video/annexb.h"

namespace recmux {
namespace {

using Bytes = std::vector<uint8_t>;

// Header bytes as encoders write them, with the bytes that really follow them.
// Only a frame that holds a unit that is not empty makes a sample.
TEST(CodecDetection, TheFirstUnitPastDelimitersSeiAndEmptyUnitsNamesTheCodecByItsType)
{
    constexpr AVCodecID H264 = AV_CODEC_ID_H264, HEVC = AV_CODEC_ID_HEVC,
                        MPEG4 = AV_CODEC_ID_MPEG4, NONE = AV_CODEC_ID_NONE;
    struct Case {
        const char *what;
        Bytes frame;
        AVCodecID codec;
        bool holds = true;
    } cases[] = {
        {"H.264 SPS, nal_ref_idc 3", {0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F}, H264},
        {"H.264 SPS, nal_ref_idc 1", {0, 0, 0, 1, 0x27, 0x42, 0xC0, 0x1E}, H264},
        {"H.264 PPS, nal_ref_idc 1", {0, 0, 0, 1, 0x28, 0xCE, 0x38, 0x80}, H264},
        {"H.264 IDR, nal_ref_idc 1, short start code", {0, 0, 1, 0x25, 0x88, 0x84, 0x00}, H264},
        {"H.264 IDR, nal_ref_idc 2, behind AUD and SEI",
         {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x06, 0x05, 0x01, 0, 0, 1, 0x45, 0x88, 0x84}, H264},
        {"H.264 IDR with nal_ref_idc 0 is no H.264", {0, 0, 0, 1, 0x05, 0x88, 0x84}, MPEG4},
        {"H.264 AUD alone", {0, 0, 0, 1, 0x09, 0xF0}, MPEG4},
        {"H.264 SPS behind AUD and an empty unit",
         {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F}, H264},
        {"H.265 VPS", {0, 0, 0, 1, 0x40, 0x01, 0x0C, 0x01}, HEVC},
        {"H.265 VPS behind an empty unit", {0, 0, 0, 1, 0, 0, 0, 0, 1, 0x40, 0x01, 0x0C, 0x01}, HEVC},
        {"H.265 TRAIL_N, all-zero type and layer", {0, 0, 1, 0x00, 0x01, 0xAF, 0x0A}, MPEG4},
        {"H.265 SPS behind AUD and SEI",
         {0, 0, 0, 1, 0x46, 0x01, 0x50, 0, 0, 0, 1, 0x4E, 0x01, 0x05, 0, 0, 1, 0x42, 0x01, 0x01}, HEVC},
        {"H.265 IDR_N_LP", {0, 0, 1, 0x28, 0x01, 0xAF}, HEVC},
        {"H.265 CRA", {0, 0, 0, 1, 0x2A, 0x01, 0xAF}, HEVC},
        {"H.265 slice that does not start its picture", {0, 0, 0, 1, 0x26, 0x01, 0x2F}, MPEG4},
        {"H.265 VPS of layer 1", {0, 0, 0, 1, 0x40, 0x09, 0x0C, 0x01}, MPEG4},
        {"H.265 VPS without temporal id", {0, 0, 0, 1, 0x40, 0x00, 0x0C, 0x01}, MPEG4},
        {"MPEG-4 sequence and object", {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09}, MPEG4},
        {"MPEG-4 object and layer as FFmpeg writes them",
         {0, 0, 1, 0x00, 0, 0, 1, 0x20, 0x00, 0xC4, 0x8D}, MPEG4},
        {"no start code", {0x67, 0x42, 0, 0}, NONE, false},
        {"too short", {0, 0, 0}, NONE, false},
        {"16 zero bytes", Bytes(16, 0), NONE, false},
        {"a bare start code", {0, 0, 0, 1}, MPEG4, false},
        {"start codes with zero bytes between", {0, 0, 1, 0, 0, 0, 0, 1, 0, 0}, MPEG4, false},
        {"a length-prefixed SPS", {0, 0, 0, 0x1A, 0x67, 0x64, 0x00, 0x1F}, NONE, false},
        {"zero bytes before the first start code", {0, 0, 0, 0, 0, 1, 0x67, 0x64}, NONE},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FrameCodec(c.frame.data(), c.frame.size()), c.codec) << c.what;
        EXPECT_EQ(HoldsNalUnit(c.frame.data(), c.frame.size()), c.holds) << c.what;
    }
    EXPECT_EQ(FrameCodec(nullptr, 10), NONE);
    EXPECT_FALSE(HoldsNalUnit(nullptr, 10));
}

TEST(ParameterSets, OnlyTheSetsBeforeTheFirstPictureAreKept)
{
    const Bytes h264 = {0, 0, 0, 1, 0x09, 0xF0,              // delimiter
                        0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E,  // SPS
                        0, 0, 1, 0x68, 0xCE, 0x38, 0x80,     // PPS behind a short start code
                        0, 0, 0, 1, 0x06, 0x05, 0x01,        // SEI
                        0, 0, 0, 1, 0x65, 0x88, 0x84,        // IDR slice
                        0, 0, 0, 1, 0x68, 0xFF};             // a PPS after the picture
    const Bytes hevc = {0, 0, 0, 1, 0x40, 0x01, 0x0C, 0, 0, 0, 1, 0x42, 0x01, 0x01, 0, 0, 0, 1,
                        0x44, 0x01, 0xC1, 0, 0, 0, 1, 0x4E, 0x01, 0x05, 0, 0, 0, 1, 0x26, 0x01, 0xAF};
    const Bytes mpeg4 = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0x20, 0x08, 0, 0, 1, 0xB6, 0x10};
    const struct {
        AVCodecID codec;
        Bytes frame, sets;
    } cases[] = {
        {AV_CODEC_ID_H264, h264, {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80}},
        {AV_CODEC_ID_H264, Bytes(h264.begin() + 28, h264.end()), {}},
        {AV_CODEC_ID_H264, Bytes{0, 0, 0, 1, 0, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88}, {0, 0, 0, 1, 0x68, 0xCE}},
        {AV_CODEC_ID_HEVC, hevc, Bytes(hevc.begin(), hevc.begin() + 21)},
        {AV_CODEC_ID_MPEG4, mpeg4, Bytes(mpeg4.begin(), mpeg4.begin() + 15)},
        {AV_CODEC_ID_MPEG4, Bytes(mpeg4.begin() + 15, mpeg4.end()), {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LeadingParameterSets(c.codec, c.frame.data(), c.frame.size()), c.sets) << c.codec;
    EXPECT_TRUE(LeadingParameterSets(AV_CODEC_ID_H264, nullptr, 0).empty());
}

}  // namespace
}  // namespace recmux
