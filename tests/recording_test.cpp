// Recordings made from real encoder output, judged by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "media_fixture.h"
#include "recorder/CMP4Writer.h"
#include "test_files.h"

namespace recmux {
namespace {

using test::AccessUnit;
using test::DecodeErrors;
using test::Exists;
using test::FrameMd5s;
using test::ProbeVideo;
using test::ReadAll;
using test::TempDir;

constexpr uint64_t kStart = 5000000;
constexpr uint64_t kFrameInterval = 40000;

struct Fixture {
    std::string stream;
    std::vector<AccessUnit> units;
};

// Streams are encoded once per test binary: the encoders are the slow part.
const Fixture &Stream(const std::string &name, int frames,
                      const std::string &options)
{
    static TempDir dir;
    static std::map<std::string, Fixture> made;
    auto found = made.find(name);
    if (found != made.end())
        return found->second;
    Fixture fixture;
    fixture.stream = dir.Path(name);
    if (test::MakeElementaryStream(fixture.stream, frames, options))
        fixture.units = test::SplitAccessUnits(fixture.stream);
    return made.emplace(name, std::move(fixture)).first->second;
}

const Fixture &H264() { return Stream("plain.h264", 100, "-c:v libx264 -bf 0 -g 25 -f h264"); }

// Feeds every unit at 25 fps timestamps; returns how many were accepted.
int Record(IWriter &writer, const std::vector<AccessUnit> &units, uint64_t interval = kFrameInterval)
{
    int accepted = 0;
    for (size_t i = 0; i < units.size(); i++)
        accepted += writer.WriteVideo(units[i].bytes.data(), static_cast<uint32_t>(units[i].bytes.size()),
                                      kStart + i * interval, units[i].key);
    return accepted;
}

int RecordFile(const std::string &path, const std::vector<AccessUnit> &units, int32_t file_type = 0)
{
    CMP4Writer writer;
    if (!writer.Open(path.c_str()))
        return -1;
    writer.SetFileType(file_type);
    const int accepted = Record(writer, units);
    return writer.Close() ? accepted : -1;
}

void ExpectFaithfulCopy(const std::string &mp4, const Fixture &input, int accepted,
                        const std::string &codec)
{
    EXPECT_EQ(ProbeVideo(mp4, "codec_name"), codec);
    EXPECT_EQ(ProbeVideo(mp4, "width"), "640");
    EXPECT_EQ(ProbeVideo(mp4, "height"), "360");
    EXPECT_EQ(ProbeVideo(mp4, "nb_read_frames"), std::to_string(accepted));
    EXPECT_EQ(ProbeVideo(mp4, "r_frame_rate"), "25/1");
    EXPECT_EQ(DecodeErrors(mp4), "");
    EXPECT_EQ(FrameMd5s(mp4), FrameMd5s(input.stream));
}

TEST(Recording, H264BecomesAFaithfulPlainMp4)
{
    const Fixture &input = H264();
    ASSERT_EQ(input.units.size(), 100u);
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    const int accepted = RecordFile(mp4, input.units);
    ASSERT_EQ(accepted, 100);
    EXPECT_FALSE(Exists(mp4 + ".tmp"));
    ExpectFaithfulCopy(mp4, input, accepted, "h264");
    const double duration = std::stod(ProbeVideo(mp4, "duration"));
    EXPECT_NEAR(duration, 4.0, 0.05);
}

TEST(Recording, NonAsciiUtf8NamesWorkEndToEnd)
{
    TempDir dir;
    const std::string mp4 = dir.Path("\xE6\x9D\xB1\xE4\xBA\xAC_\xC3\x9C.mp4");
    ASSERT_EQ(RecordFile(mp4, H264().units), 100);
    EXPECT_FALSE(Exists(mp4 + ".tmp"));
    EXPECT_EQ(ProbeVideo(mp4, "nb_read_frames"), "100");
}

TEST(Recording, FragmentedFileHasFragments)
{
    const Fixture &input = H264();
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    ASSERT_EQ(RecordFile(mp4, input.units, 1), 100);
    EXPECT_NE(ReadAll(mp4).find("moof"), std::string::npos);
    ExpectFaithfulCopy(mp4, input, 100, "h264");
}

TEST(Recording, SampleEntryCarriesTheStreamsOwnProfile)
{
    const Fixture &input = Stream("baseline.h264", 100,
                                  "-c:v libx264 -profile:v baseline -g 25 -f h264");
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    ASSERT_EQ(RecordFile(mp4, input.units), 100);
    EXPECT_EQ(ProbeVideo(mp4, "profile"), "Constrained Baseline");
    ExpectFaithfulCopy(mp4, input, 100, "h264");
}

TEST(Recording, H265AndMpeg4Record)
{
    const Fixture &hevc = Stream("plain.hevc", 100,
                                 "-c:v libx265 -x265-params log-level=error:bframes=0:keyint=25 -f hevc");
    const Fixture &mpeg4 = Stream("plain.m4v", 100, "-c:v mpeg4 -bf 0 -g 25 -f m4v");
    TempDir dir;
    ASSERT_EQ(RecordFile(dir.Path("hevc.mp4"), hevc.units), 100);
    ExpectFaithfulCopy(dir.Path("hevc.mp4"), hevc, 100, "hevc");
    ASSERT_EQ(RecordFile(dir.Path("mpeg4.mp4"), mpeg4.units), 100);
    ExpectFaithfulCopy(dir.Path("mpeg4.mp4"), mpeg4, 100, "mpeg4");
}

TEST(Recording, BFrameStreamKeepsEveryFrame)
{
    const Fixture &input = Stream("bframes.h264", 100, "-c:v libx264 -bf 2 -g 25 -f h264");
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    ASSERT_EQ(RecordFile(mp4, input.units), 100);
    EXPECT_EQ(ProbeVideo(mp4, "nb_read_frames"), "100");
    EXPECT_EQ(ProbeVideo(mp4, "width"), "640");
    EXPECT_EQ(ProbeVideo(mp4, "height"), "360");
}

std::string g_callback_bytes;

int SaveBytes(void *, uint8_t *buf, int size)
{
    g_callback_bytes.append(reinterpret_cast<char *>(buf), static_cast<size_t>(size));
    return size;
}

TEST(Recording, CallbackOutputStaysFragmentedWhateverTheFileType)
{
    const Fixture &input = H264();
    g_callback_bytes.clear();
    CMP4Writer writer;
    ASSERT_TRUE(writer.OpenWithCallback(nullptr, SaveBytes));
    writer.SetFileType(0);
    ASSERT_EQ(Record(writer, input.units), 100);
    ASSERT_TRUE(writer.Close());

    TempDir dir;
    const std::string mp4 = dir.Path("callback.mp4");
    test::WriteAll(mp4, g_callback_bytes);
    EXPECT_NE(g_callback_bytes.find("moof"), std::string::npos);
    ExpectFaithfulCopy(mp4, input, 100, "h264");
}

TEST(Recording, TimestampsAreReportedAndTheRateComesFromThem)
{
    const Fixture &input = H264();
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    // 29.97 fps, as a camera's microsecond timestamps give it.
    ASSERT_EQ(Record(writer, input.units, 33367), 100);
    uint64_t begin = 0, end = 0;
    EXPECT_TRUE(writer.GetBeginPts(&begin));
    EXPECT_EQ(begin, kStart);
    EXPECT_FALSE(writer.GetEndPts(nullptr));
    ASSERT_TRUE(writer.Close());
    EXPECT_TRUE(writer.GetEndPts(&end));
    EXPECT_EQ(end, kStart + 99 * 33367);
    EXPECT_EQ(ProbeVideo(mp4, "r_frame_rate"), "30000/1001");
}

TEST(Recording, FramesBeforeTheFirstKeyFrameAreRefused)
{
    const Fixture &input = H264();
    TempDir dir;
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(dir.Path("cam.mp4").c_str()));
    const AccessUnit &delta = input.units[1];
    ASSERT_FALSE(delta.key);
    EXPECT_FALSE(writer.WriteVideo(delta.bytes.data(), static_cast<uint32_t>(delta.bytes.size()),
                                   kStart, 0));
    const uint8_t no_size[] = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    EXPECT_FALSE(writer.WriteVideo(no_size, sizeof no_size, kStart, 1));
    uint64_t begin = 0;
    EXPECT_FALSE(writer.GetBeginPts(&begin));
    EXPECT_EQ(Record(writer, input.units), 100);
    EXPECT_TRUE(writer.GetBeginPts(&begin));
    EXPECT_EQ(begin, kStart);
}

TEST(Recording, UntrustedFramesAreRefusedAndNothingIsQueued)
{
    TempDir dir;
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(dir.Path("cam.mp4").c_str()));
    ASSERT_TRUE(writer.InitVideo(0, 640, 360, 0));
    EXPECT_FALSE(writer.InitVideo(1, 320, 240, 0));
    const uint8_t byte = 0;
    EXPECT_FALSE(writer.WriteVideo(nullptr, 10, kStart, 1));
    EXPECT_FALSE(writer.WriteVideo(&byte, 0x80000000u, kStart, 1));
    EXPECT_TRUE(writer.Close());
    EXPECT_FALSE(Exists(dir.Path("cam.mp4")));
    EXPECT_FALSE(Exists(dir.Path("cam.mp4.tmp")));
}

TEST(Recording, UnknownCodecValueRecordsNoVideoAndPublishesNothing)
{
    const Fixture &input = H264();
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    ASSERT_TRUE(writer.InitVideo(7, 640, 360, 0));
    Record(writer, input.units);
    EXPECT_TRUE(writer.Close());
    EXPECT_FALSE(Exists(mp4));
    EXPECT_FALSE(Exists(mp4 + ".tmp"));
}

TEST(Recording, AnUnreadableFinalFileIsNeverReplaced)
{
    const Fixture &input = H264();
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    // Appears while the frames are held back.
    test::WriteAll(mp4, "not an mp4");
    // The set-up fails for good when the frame interval is known, at frame 9:
    // that frame, every later one and the sound are refused.
    EXPECT_EQ(Record(writer, input.units), 8);
    const uint8_t voice[] = {0xD5, 0xD5};
    EXPECT_FALSE(writer.WriteAudio(voice, sizeof voice, kStart));
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(ReadAll(mp4), "not an mp4");
    EXPECT_FALSE(Exists(mp4 + ".tmp"));
}

struct Messages {
    CMP4Writer *writer;
    std::vector<std::pair<int32_t, int32_t>> received;
    bool reentered_is_open = true;
};

int Collect(void *user, int32_t category, int32_t value)
{
    auto *messages = static_cast<Messages *>(user);
    messages->received.emplace_back(category, value);
    messages->reentered_is_open = messages->writer->IsOpen();
    return 0;
}

TEST(Recording, ReadinessIsAnnouncedAndCallsFromTheCallbackAreRefused)
{
    const Fixture &input = H264();
    TempDir dir;
    CMP4Writer writer;
    Messages messages{&writer, {}, true};
    ASSERT_TRUE(writer.Open(dir.Path("cam.mp4").c_str()));
    writer.SetMsgNotify(&messages, Collect);
    Record(writer, input.units);
    EXPECT_TRUE(writer.Close());
    const std::vector<std::pair<int32_t, int32_t>> ready = {
        {RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_READY}, {RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_READY}};
    EXPECT_EQ(messages.received, ready);
    EXPECT_FALSE(messages.reentered_is_open);
}

TEST(RecorderThreads, VideoOnOneThreadOtherCallsOnAnother)
{
    const Fixture &input = H264();
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    std::atomic<bool> done{false};
    std::thread video([&] {
        EXPECT_EQ(Record(writer, input.units), 100);
        done = true;
    });
    const uint8_t voice[] = {0x80, 0, 0xa0, 0};
    uint64_t pts = 0;
    while (!done) {
        EXPECT_TRUE(writer.IsOpen());
        writer.GetBeginPts(&pts);
        writer.GetEndPts(&pts);
        writer.SetMsgNotify(nullptr, nullptr);
        writer.WriteAudio(voice, sizeof voice, kStart);
    }
    video.join();
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(ProbeVideo(mp4, "nb_read_frames"), "100");
}

// Recorders share FFmpeg's global state and nothing else: eight at once, half
// fragmented, each with its sound, must not race (run under ThreadSanitizer).
TEST(RecorderThreads, EightRecordersOnEightThreads)
{
    const Fixture &input = H264();
    TempDir dir;
    std::vector<std::thread> threads;
    std::vector<int> accepted(8, 0);
    for (int n = 0; n < 8; n++) {
        threads.emplace_back([&, n] {
            CMP4Writer writer;
            if (!writer.Open(dir.Path("cam" + std::to_string(n) + ".mp4").c_str()))
                return;
            writer.SetFileType(n % 2);
            writer.InitAudio(RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
            const std::vector<uint8_t> alaw(320, 0xd5);
            for (size_t i = 0; i < input.units.size(); i++) {
                const AccessUnit &unit = input.units[i];
                accepted[static_cast<size_t>(n)] +=
                    writer.WriteVideo(unit.bytes.data(), static_cast<uint32_t>(unit.bytes.size()),
                                      kStart + i * kFrameInterval, unit.key);
                writer.WriteAudio(alaw.data(), static_cast<uint32_t>(alaw.size()),
                                  kStart + i * kFrameInterval);
            }
            writer.Close();
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int n = 0; n < 8; n++) {
        EXPECT_EQ(accepted[static_cast<size_t>(n)], 100) << n;
        EXPECT_EQ(ProbeVideo(dir.Path("cam" + std::to_string(n) + ".mp4"), "nb_read_frames"), "100");
    }
}

}  // namespace
}  // namespace recmux
