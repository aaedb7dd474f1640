// The two frame sources: the test pattern gives well-formed access units, and
// the Annex B reader splits a stream back into exactly those units.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "annexb_source.h"
#include "test_pattern.h"

namespace recmux_tool {
namespace {

std::vector<AccessUnit> Drain(FrameSource &source)
{
    std::vector<AccessUnit> units;
    AccessUnit unit;
    while (source.Next(unit))
        units.push_back(unit);
    EXPECT_FALSE(source.Failed());
    return units;
}

std::vector<AccessUnit> Pattern(VideoCodec codec, int fps, int frames)
{
    std::unique_ptr<FrameSource> source = OpenTestPattern(codec, fps, frames);
    EXPECT_NE(source, nullptr);
    return source ? Drain(*source) : std::vector<AccessUnit>();
}

int FirstNalType(const AccessUnit &unit, VideoCodec codec)
{
    const uint8_t header = unit.bytes.at(4);
    return codec == VideoCodec::H264 ? header & 0x1f : (header >> 1) & 0x3f;
}

class TempFile {
public:
    explicit TempFile(const std::string &name)
        : path_(std::filesystem::temp_directory_path() /
                ("recmux_tool_" + std::to_string(getpid()) + "_" + name))
    {
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string Path() const { return path_.string(); }
    void Write(const std::vector<uint8_t> &bytes) const
    {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> Concatenate(const std::vector<AccessUnit> &units)
{
    std::vector<uint8_t> stream;
    for (const AccessUnit &unit : units)
        stream.insert(stream.end(), unit.bytes.begin(), unit.bytes.end());
    return stream;
}

std::vector<AccessUnit> ReadBack(const TempFile &file, VideoCodec codec)
{
    std::unique_ptr<FrameSource> source = OpenAnnexBFile(file.Path(), codec);
    EXPECT_NE(source, nullptr);
    return source ? Drain(*source) : std::vector<AccessUnit>();
}

TEST(CodecFromExtension, KnowsTheElementaryStreamNamesInAnyCase)
{
    EXPECT_EQ(CodecFromExtension("a.h264"), VideoCodec::H264);
    EXPECT_EQ(CodecFromExtension("dir.x/A.264"), VideoCodec::H264);
    EXPECT_EQ(CodecFromExtension("a.HEVC"), VideoCodec::H265);
    EXPECT_EQ(CodecFromExtension("a.h265"), VideoCodec::H265);
    EXPECT_EQ(CodecFromExtension("a.265"), VideoCodec::H265);
    EXPECT_FALSE(CodecFromExtension("a.mp4"));
    EXPECT_FALSE(CodecFromExtension("h264"));
    EXPECT_FALSE(CodecFromExtension("a.h264.bak"));
}

class PatternTest : public ::testing::TestWithParam<VideoCodec> {};

TEST_P(PatternTest, GivesOneUnitPerPictureWithParameterSetsBeforeEveryKeyFrame)
{
    const VideoCodec codec = GetParam();
    const std::vector<AccessUnit> units = Pattern(codec, 10, 35);
    ASSERT_EQ(units.size(), 35u);
    for (size_t i = 0; i < units.size(); i++) {
        const std::vector<uint8_t> &bytes = units[i].bytes;
        ASSERT_GT(bytes.size(), 5u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
                  (std::vector<uint8_t>{0, 0, 0, 1}));
        EXPECT_EQ(units[i].key, i % 10 == 0) << "unit " << i;
        if (units[i].key) {
            EXPECT_EQ(FirstNalType(units[i], codec), codec == VideoCodec::H264 ? 7 : 32);
        }
    }
}

TEST_P(PatternTest, ReadsBackAsTheSameUnitsAcrossReadChunks)
{
    const VideoCodec codec = GetParam();
    const std::vector<AccessUnit> written = Pattern(codec, 25, 300);
    const std::vector<uint8_t> stream = Concatenate(written);
    ASSERT_GT(stream.size(), 64u * 1024) << "the stream must span more than one read";
    TempFile file("roundtrip.es");
    file.Write(stream);
    const std::vector<AccessUnit> read = ReadBack(file, codec);
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < read.size(); i++) {
        EXPECT_EQ(read[i].bytes, written[i].bytes) << "unit " << i;
        EXPECT_EQ(read[i].key, written[i].key) << "unit " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(BothCodecs, PatternTest,
                         ::testing::Values(VideoCodec::H264, VideoCodec::H265),
                         [](const ::testing::TestParamInfo<VideoCodec> &info) {
                             return info.param == VideoCodec::H264 ? "H264" : "H265";
                         });

TEST(AnnexBSource, KeepsZerosAfterTheLastUnit)
{
    std::vector<AccessUnit> units = Pattern(VideoCodec::H265, 25, 3);
    units.back().bytes.insert(units.back().bytes.end(), {0, 0});
    TempFile file("trailing.hevc");
    file.Write(Concatenate(units));
    EXPECT_EQ(Concatenate(ReadBack(file, VideoCodec::H265)), Concatenate(units));
}

TEST(AnnexBSource, AnEmptyFileEndsAtOnceWithoutFailure)
{
    TempFile file("empty.h264");
    file.Write({});
    EXPECT_TRUE(ReadBack(file, VideoCodec::H264).empty());
}

TEST(AnnexBSource, AMissingFileIsNotOpened)
{
    EXPECT_EQ(OpenAnnexBFile("/nonexistent/recmux/in.h264", VideoCodec::H264), nullptr);
}

}  // namespace
}  // namespace recmux_tool
