#include <gtest/gtest.h>

#include <vector>

#include "video/annexb.h"
#include "video/video_probe.h"

namespace recmux {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Size(const Bytes &bytes)
{
    return static_cast<uint32_t>(bytes.size());
}

TEST(CodecDetection, FirstUnitPastDelimitersAndSeiTellsTheCodec)
{
    struct Case {
        Bytes frame;
        int32_t codec;
    } cases[] = {
        {{0, 0, 0, 1, 0x67, 0x42}, 0},
        {{0, 0, 0, 1, 0x65, 0x88}, 0},
        {{0, 0, 1, 0x68, 0xCE}, 0},
        {{0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x06, 0x05, 0, 0, 1, 0x67, 0x64}, 0},
        {{0, 0, 0, 1, 0x40, 0x01}, 1},
        {{0, 0, 0, 1, 0x46, 0x01, 0x50, 0, 0, 0, 1, 0x4E, 0x01, 0, 0, 1, 0x42, 0x01}, 1},
        {{0, 0, 0, 1, 0x26, 0x01}, 1},
        {{0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB6}, 2},
        {{0, 0, 0, 1, 0x09, 0xF0}, 0},
        {{0x67, 0x42, 0, 0}, 0},
        {{0, 0, 0}, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DetectVideoCodec(c.frame.data(), Size(c.frame)), c.codec)
            << "first bytes " << int(c.frame[3]) << " " << int(c.frame.size() > 4 ? c.frame[4] : 0);
    EXPECT_EQ(DetectVideoCodec(nullptr, 10), 0);
}

TEST(ParameterSets, OnlyTheSetsBeforeTheFirstPictureAreKept)
{
    const Bytes frame = {0, 0, 0, 1, 0x09, 0xF0,  // delimiter
                         0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E,  // SPS
                         0, 0, 1, 0x68, 0xCE, 0x38, 0x80,  // PPS behind a short start code
                         0, 0, 0, 1, 0x06, 0x05, 0x01,  // SEI
                         0, 0, 0, 1, 0x65, 0x88, 0x84,  // IDR slice
                         0, 0, 0, 1, 0x68, 0xFF};  // a PPS after the picture
    const Bytes expected = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80};
    EXPECT_EQ(LeadingParameterSets(AV_CODEC_ID_H264, frame.data(), frame.size()), expected);

    const Bytes slice_only = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    EXPECT_TRUE(LeadingParameterSets(AV_CODEC_ID_H264, slice_only.data(), slice_only.size()).empty());
}

TEST(ParameterSets, HevcAndMpeg4HeadersAreFound)
{
    const Bytes hevc = {0, 0, 0, 1, 0x40, 0x01, 0x0C, 0, 0, 0, 1, 0x42, 0x01, 0x01,
                        0, 0, 0, 1, 0x44, 0x01, 0xC1, 0, 0, 0, 1, 0x4E, 0x01, 0x05,
                        0, 0, 0, 1, 0x26, 0x01, 0xAF};
    const Bytes hevc_sets(hevc.begin(), hevc.begin() + 21);
    EXPECT_EQ(LeadingParameterSets(AV_CODEC_ID_HEVC, hevc.data(), hevc.size()), hevc_sets);

    const Bytes mpeg4 = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0x20, 0x08,
                         0, 0, 1, 0xB6, 0x10};
    const Bytes mpeg4_headers(mpeg4.begin(), mpeg4.begin() + 15);
    EXPECT_EQ(LeadingParameterSets(AV_CODEC_ID_MPEG4, mpeg4.data(), mpeg4.size()), mpeg4_headers);
    const Bytes vop_only = {0, 0, 1, 0xB6, 0x10};
    EXPECT_TRUE(LeadingParameterSets(AV_CODEC_ID_MPEG4, vop_only.data(), vop_only.size()).empty());
    EXPECT_TRUE(LeadingParameterSets(AV_CODEC_ID_H264, nullptr, 0).empty());
}

}  // namespace
}  // namespace recmux
