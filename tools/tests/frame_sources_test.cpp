// The two frame sources: the test pattern gives well-formed access units, and the
// Annex B reader splits a stream back into exactly those units.
#include <gtest/gtest.h>

#include "annexb_source.h"
#include "test_pattern.h"
#include "tool_test_support.h"

namespace recmux_tool {
namespace {

std::vector<AccessUnit> Pattern(VideoCodec codec, int fps, int frames)
{
    std::unique_ptr<FrameSource> source = OpenTestPattern(codec, AVRational{fps, 1}, frames);
    EXPECT_NE(source, nullptr);
    return source ? Drain<AccessUnit>(*source) : std::vector<AccessUnit>();
}

std::vector<uint8_t> Concatenate(const std::vector<AccessUnit> &units)
{
    std::vector<uint8_t> stream;
    for (const AccessUnit &unit : units)
        stream.insert(stream.end(), unit.bytes.begin(), unit.bytes.end());
    return stream;
}

std::vector<AccessUnit> ReadBack(const std::vector<uint8_t> &stream, VideoCodec codec)
{
    const TempFile file("stream.es", stream);
    std::unique_ptr<FrameSource> source = OpenAnnexBFile(file.Path(), codec);
    EXPECT_NE(source, nullptr);
    return source ? Drain<AccessUnit>(*source) : std::vector<AccessUnit>();
}

TEST(CodecFromExtension, KnowsTheElementaryStreamNamesInAnyCase)
{
    for (const char *name : {"a.h264", "dir.x/A.264"})
        EXPECT_EQ(CodecFromExtension(name), VideoCodec::H264) << name;
    for (const char *name : {"a.HEVC", "a.h265", "a.265"})
        EXPECT_EQ(CodecFromExtension(name), VideoCodec::H265) << name;
    for (const char *name : {"a.mp4", "h264", "a.h264.bak"})
        EXPECT_FALSE(CodecFromExtension(name)) << name;
}

class PatternTest : public ::testing::TestWithParam<VideoCodec> {};

// Parameter sets (SPS, VPS) open every key frame, one every second; the stream reads
// back unit for unit across more than one read.
TEST_P(PatternTest, GivesKeyedUnitsThatReadBackTheSame)
{
    const VideoCodec codec = GetParam();
    const std::vector<AccessUnit> units = Pattern(codec, 10, 300);
    ASSERT_EQ(units.size(), 300u);
    for (size_t i = 0; i < units.size(); i++) {
        const std::vector<uint8_t> &bytes = units[i].bytes;
        ASSERT_GT(bytes.size(), 5u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
        ASSERT_EQ(units[i].key, i % 10 == 0) << "unit " << i;
        if (units[i].key) {
            EXPECT_EQ(codec == VideoCodec::H264 ? bytes[4] & 0x1f : (bytes[4] >> 1) & 0x3f,
                      codec == VideoCodec::H264 ? 7 : 32);
        }
    }
    const std::vector<uint8_t> stream = Concatenate(units);
    ASSERT_GT(stream.size(), 64u * 1024) << "the stream must span more than one read";
    const std::vector<AccessUnit> read = ReadBack(stream, codec);
    ASSERT_EQ(read.size(), units.size());
    for (size_t i = 0; i < read.size(); i++) {
        EXPECT_EQ(read[i].bytes, units[i].bytes) << "unit " << i;
        EXPECT_EQ(read[i].key, units[i].key) << "unit " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(BothCodecs, PatternTest, ::testing::Values(VideoCodec::H264, VideoCodec::H265),
                         [](const auto &info) { return info.param == VideoCodec::H264 ? "H264" : "H265"; });

TEST(AnnexBSource, KeepsTrailingZerosAndEndsCleanlyOnAnEmptyFile)
{
    std::vector<AccessUnit> units = Pattern(VideoCodec::H265, 25, 3);
    units.back().bytes.insert(units.back().bytes.end(), {0, 0});
    EXPECT_EQ(Concatenate(ReadBack(Concatenate(units), VideoCodec::H265)), Concatenate(units));
    EXPECT_TRUE(ReadBack({}, VideoCodec::H264).empty());
    EXPECT_EQ(OpenAnnexBFile("/nonexistent/recmux/in.h264", VideoCodec::H264), nullptr);
}

}  // namespace
}  // namespace recmux_tool
