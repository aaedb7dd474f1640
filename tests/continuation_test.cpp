// Opening a recorder on the name of an existing recording continues it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "media_fixture.h"
#include "recorder/CMP4Writer.h"
#include "test_files.h"

namespace recmux {
namespace {

using test::AccessUnit;
using test::DecodeErrors;
using test::Exists;
using test::ProbeVideo;
using test::ReadAll;
using test::RunCommand;
using test::TempDir;

struct Progress {
    std::vector<int32_t> video;
    std::vector<std::pair<int32_t, int32_t>> other;
};

int Collect(void *user, int32_t category, int32_t value)
{
    auto *progress = static_cast<Progress *>(user);
    if (category == RECMUX_MSG_COPIED_VIDEO)
        progress->video.push_back(value);
    else
        progress->other.emplace_back(category, value);
    return 0;
}

std::vector<AccessUnit> Units(const TempDir &dir, const std::string &name, int frames,
                              const std::string &options)
{
    const std::string path = dir.Path(name);
    if (!test::MakeElementaryStream(path, frames, options))
        return {};
    return test::SplitAccessUnits(path);
}

int Feed(IWriter &writer, const std::vector<AccessUnit> &units)
{
    int accepted = 0;
    for (size_t i = 0; i < units.size(); i++)
        accepted += writer.WriteVideo(units[i].bytes.data(),
                                      static_cast<uint32_t>(units[i].bytes.size()),
                                      1000000 + i * 40000, units[i].key);
    return accepted;
}

std::vector<long> PacketDts(const std::string &path)
{
    std::istringstream lines(RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                        "packet=dts -of csv=p=0 '" + path + "'"));
    std::vector<long> dts;
    for (std::string line; std::getline(lines, line);)
        dts.push_back(std::stol(line));
    return dts;
}

TEST(Continuation, SecondSessionAppendsToTheFirst)
{
    TempDir dir;
    const auto first = Units(dir, "first.h264", 750, "-c:v libx264 -bf 0 -g 25 -f h264");
    const auto second = Units(dir, "second.h264", 250, "-c:v libx264 -bf 0 -g 25 -f h264");
    ASSERT_EQ(first.size(), 750u);
    const std::string mp4 = dir.Path("cam.mp4");
    {
        CMP4Writer writer;
        ASSERT_TRUE(writer.Open(mp4.c_str()));
        ASSERT_EQ(Feed(writer, first), 750);
        ASSERT_TRUE(writer.Close());
    }
    Progress progress;
    CMP4Writer writer;
    writer.SetMsgNotify(&progress, Collect);
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    EXPECT_TRUE(writer.IsOpen());
    uint64_t end = 0;
    EXPECT_FALSE(writer.GetEndPts(&end));
    ASSERT_EQ(Feed(writer, second), 250);
    ASSERT_TRUE(writer.Close());

    std::vector<int32_t> expected(750);
    for (int32_t i = 0; i < 750; i++)
        expected[static_cast<size_t>(i)] = i + 1;
    EXPECT_EQ(progress.video, expected);
    EXPECT_FALSE(Exists(mp4 + ".tmp"));
    EXPECT_EQ(ProbeVideo(mp4, "nb_read_frames"), "1000");
    EXPECT_EQ(ProbeVideo(mp4, "r_frame_rate"), "25/1");
    EXPECT_EQ(DecodeErrors(mp4), "");
    const auto dts = PacketDts(mp4);
    ASSERT_EQ(dts.size(), 1000u);
    for (size_t i = 1; i < dts.size(); i++)
        ASSERT_LT(dts[i - 1], dts[i]) << i;
}

TEST(Continuation, H265StaysH265)
{
    TempDir dir;
    const auto units = Units(dir, "in.hevc", 60,
                             "-c:v libx265 -x265-params log-level=error:bframes=0:keyint=25 -f hevc");
    const std::string mp4 = dir.Path("cam.mp4");
    for (int session = 0; session < 2; session++) {
        CMP4Writer writer;
        ASSERT_TRUE(writer.Open(mp4.c_str()));
        ASSERT_EQ(Feed(writer, units), 60);
        ASSERT_TRUE(writer.Close());
    }
    EXPECT_EQ(ProbeVideo(mp4, "codec_name"), "hevc");
    EXPECT_EQ(ProbeVideo(mp4, "nb_read_frames"), "120");
    EXPECT_EQ(DecodeErrors(mp4), "");
}

// Files made by the ffmpeg tool that the copy must keep whole.
bool MakeMp4(const std::string &path, const std::string &inputs_and_options)
{
    return std::system(("ffmpeg -nostdin -v error -y " + inputs_and_options + " '" + path + "'")
                           .c_str()) == 0;
}

TEST(Continuation, KeyFramesAbove2MiBAndThirdTracksAreCopiedWhole)
{
    TempDir dir;
    const std::string big = dir.Path("big.mp4");
    ASSERT_TRUE(MakeMp4(big, "-f lavfi -i 'nullsrc=s=1920x1080:r=25,geq=lum=random(1)*255:cb=128:cr=128' "
                             "-frames:v 3 -c:v libx264 -preset ultrafast -qp 0 -g 1 -pix_fmt yuv420p"));
    const std::string subtitles = dir.Path("subs.srt");
    test::WriteAll(subtitles, "1\n00:00:00,000 --> 00:00:01,500\nhello\n\n");
    const std::string with_text = dir.Path("text.mp4");
    ASSERT_TRUE(MakeMp4(with_text, "-f lavfi -i testsrc2=s=320x240:r=25 -i '" + subtitles +
                                       "' -frames:v 40 -c:v libx264 -bf 0 -c:s mov_text"));
    ASSERT_GT(std::stol(RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                   "packet=size -of csv=p=0 '" + big + "' | head -1")),
              2l << 20);

    for (const auto &[path, frames] : {std::pair{big, "3"}, std::pair{with_text, "40"}}) {
        CMP4Writer writer;
        ASSERT_TRUE(writer.Open(path.c_str())) << path;
        ASSERT_TRUE(writer.Close());
        EXPECT_EQ(ProbeVideo(path, "nb_read_frames"), frames) << path;
        EXPECT_EQ(DecodeErrors(path), "") << path;
    }
}

TEST(Continuation, RecordingsThatCannotBeContinuedAreNotOpened)
{
    TempDir dir;
    const std::string text = dir.Path("text.mp4");
    test::WriteAll(text, "not a recording");
    const std::string mjpeg = dir.Path("mjpeg.mp4");
    ASSERT_TRUE(MakeMp4(mjpeg, "-f lavfi -i testsrc2=s=320x240:r=25 -frames:v 10 -c:v mjpeg"));
    const std::string audio_only = dir.Path("audio.mp4");
    ASSERT_TRUE(MakeMp4(audio_only, "-f lavfi -i sine=d=1 -c:a aac"));
    for (const std::string &path : {text, mjpeg, audio_only}) {
        const std::string before = ReadAll(path);
        CMP4Writer writer;
        EXPECT_FALSE(writer.Open(path.c_str())) << path;
        EXPECT_FALSE(writer.IsOpen()) << path;
        EXPECT_EQ(ReadAll(path), before) << path;
        EXPECT_FALSE(Exists(path + ".tmp")) << path;
    }
}

}  // namespace
}  // namespace recmux
