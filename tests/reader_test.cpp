// The reader against MP4s made by the ffmpeg tool and by our recorder, judged
// by ffprobe's packet list and by decoding what it hands back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

const std::string kPattern = "-f lavfi -i testsrc2=size=640x360:rate=25 ";
const std::string kX264Mp4 = "-pix_fmt yuv420p -c:v libx264 -g 25 ";
const std::string kH264Mp4 = kPattern + "-frames:v 60 -bf 0 " + kX264Mp4;

struct ReadBack {
    std::string video;  // the video packets one after another
    std::vector<std::string> key_flags, audio_sizes;
    int skipped = 0;
};

// Everything the reader hands back; a failed read followed by a good one was a skipped packet.
ReadBack ReadFile(const std::string &path)
{
    ReadBack back;
    recmux_reader *reader = recmux_reader_open(path.c_str());
    std::vector<uint8_t> buffer(8 << 20);
    for (int failed = 0; reader && failed < 64;) {
        int32_t size = static_cast<int32_t>(buffer.size()), media = -1, key = -1;
        if (recmux_reader_read_frame(reader, buffer.data(), &size, nullptr, &media, &key) != 0) {
            failed++;
            continue;
        }
        back.skipped += failed;
        failed = 0;
        if (media == RECMUX_MEDIA_VIDEO) {
            back.video.append(reinterpret_cast<char *>(buffer.data()), static_cast<size_t>(size));
            back.key_flags.push_back(key ? "K" : "_");
        } else {
            EXPECT_EQ(key, 1);
            back.audio_sizes.push_back(std::to_string(size));
        }
    }
    recmux_reader_close(&reader);
    return back;
}

// Every video packet back in file order with ffprobe's key flags, and the
// elementary stream they make decodes to the frames of the file.
void ExpectFaithful(const std::string &mp4, const std::string &extension)
{
    ASSERT_FALSE(mp4.empty());
    const ReadBack back = ReadFile(mp4);
    std::vector<std::string> flags = Packets(mp4, "v:0", "flags");
    for (std::string &flag : flags)
        flag = flag.substr(0, 1);
    ASSERT_FALSE(flags.empty());
    EXPECT_EQ(back.key_flags, flags);
    EXPECT_EQ(back.key_flags[0], "K");
    EXPECT_EQ(back.audio_sizes, Packets(mp4, "a:0", "size"));
    TempDir dir;
    const std::string stream = dir.Path("video" + extension);
    WriteAll(stream, back.video);
    EXPECT_EQ(FrameMd5s(stream), FrameMd5s(mp4));
    EXPECT_EQ(DecodeErrors(stream), "");
}

TEST(ReaderRoundTrip, EveryCodecAndLayoutComesBackWhole)
{
    TempDir dir;
    WriteAll(dir.Path("cues.srt"), "1\n00:00:00,000 --> 00:00:01,000\nfirst\n\n2\n00:00:01,000 --> 00:00:01,500\nsecond\n");
    const struct {
        const char *name, *extension;
        std::string args;
        bool others = false;  // packets of other tracks, to be skipped
    } cases[] = {
        {"h264.mp4", ".h264", kH264Mp4},
        {"h264_b.mp4", ".h264", kPattern + "-frames:v 60 -bf 3 " + kX264Mp4},
        {"hevc.mp4", ".hevc", kPattern + "-frames:v 60 -pix_fmt yuv420p -c:v libx265 -x265-params log-level=error:keyint=25"},
        {"mpeg4.mp4", ".m4v", kPattern + "-frames:v 60 -c:v mpeg4 -bf 2 -g 25"},
        {"frag.mp4", ".h264", kPattern + "-frames:v 60 " + kX264Mp4 + "-movflags frag_keyframe+empty_moov"},
        {"aac.mp4", ".h264", kPattern + "-f lavfi -i sine=frequency=440:sample_rate=48000 -frames:v 50 " + kX264Mp4 +
                                 "-c:a aac -t 2"},
        {"tracks.mp4", ".h264",
         kPattern + kPattern + "-i '" + dir.Path("cues.srt") +
             "' -map 0 -map 1 -map 2 -frames:v 40 -pix_fmt yuv420p -c:v:0 libx264 -c:v:1 mpeg4 -c:s mov_text",
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string mp4 = Fixture(c.name, c.args);
        ExpectFaithful(mp4, c.extension);
        const size_t others = Packets(mp4, "v:1", "flags").size() + Packets(mp4, "s", "flags").size();
        EXPECT_EQ(others > 0, c.others);
        EXPECT_EQ(static_cast<size_t>(ReadFile(mp4).skipped), others);
    }
    SCOPED_TRACE("ours");
    ASSERT_EQ(RecordFile(dir.Path("ours.mp4"), H264(100)), 0);
    ExpectFaithful(dir.Path("ours.mp4"), ".h264");
}

TEST(ReaderDamage, ACutFileEndsEarlyAndACorruptPacketIsSkipped)
{
    TempDir dir;
    const std::string whole = ReadAll(Fixture("faststart.mp4", kPattern + "-frames:v 60 " + kX264Mp4 + "-movflags faststart"));
    WriteAll(dir.Path("cut.mp4"), whole.substr(0, whole.size() / 2));
    const size_t cut = ReadFile(dir.Path("cut.mp4")).key_flags.size();
    EXPECT_GT(cut, 0u);
    EXPECT_LT(cut, 60u);

    const std::string mp4 = Fixture("h264.mp4", kH264Mp4);
    const std::vector<std::string> positions = Packets(mp4, "v:0", "pos");
    ASSERT_EQ(positions.size(), 60u);
    std::string bytes = ReadAll(mp4);
    // A NAL length far past the end of its sample.
    bytes.replace(std::stoul(positions[10]), 4, "\xff\xff\xff\xff");
    WriteAll(dir.Path("corrupt.mp4"), bytes);
    const ReadBack back = ReadFile(dir.Path("corrupt.mp4"));
    EXPECT_EQ(back.skipped, 1);
    EXPECT_EQ(back.key_flags.size(), 59u);
}

// The movie header's duration comes back as what 32 bits of milliseconds hold;
// a file whose timescale FFmpeg would replace by 1 is refused.
TEST(ReaderDuration, TheMovieHeaderGivesAClampedDurationOrTheFileIsRefused)
{
    const std::string made = ReadAll(Fixture("h264.mp4", kH264Mp4));
    const size_t mvhd = made.find("mvhd");
    ASSERT_NE(mvhd, std::string::npos);
    ASSERT_EQ(made[mvhd + 4], 0) << "version 0: 32-bit timescale and duration, 12 bytes into the body";
    const struct {
        uint32_t timescale, duration;
        int32_t ms;  // -1: refused
    } cases[] = {
        {1000, 2400, 2400},
        {1, 0xFFFFFFFF, INT32_MAX},
        {1000, 0xFFFFFFFF, INT32_MAX},
        {0, 2400, -1},
        {0x80000000, 2400, -1},
    };
    TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.duration) + " at timescale " + std::to_string(c.timescale));
        std::string bytes = made;
        for (size_t i = 0; i < 4; i++) {
            bytes[mvhd + 16 + i] = static_cast<char>(c.timescale >> (24 - 8 * i));
            bytes[mvhd + 20 + i] = static_cast<char>(c.duration >> (24 - 8 * i));
        }
        WriteAll(dir.Path("patched.mp4"), bytes);
        recmux_reader *reader = recmux_reader_open(dir.Path("patched.mp4").c_str());
        ASSERT_EQ(reader != nullptr, c.ms >= 0);
        int32_t ms = -1;
        EXPECT_EQ(reader ? recmux_reader_get_duration(reader, &ms) : 0, 0);
        EXPECT_EQ(ms, c.ms);
        recmux_reader_close(&reader);
    }
}

}  // namespace
