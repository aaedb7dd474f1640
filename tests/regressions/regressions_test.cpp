// One small case for each fault mended so far, so that none comes back.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <chrono>
#include <climits>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

int AcceptBytes(void *, uint8_t *, int size)
{
    return size;
}

struct Inside {
    recmux_writer *writer;
    std::vector<std::pair<int32_t, int32_t>> received;
    int32_t open = -1, closed = -1;
};

int32_t RECMUX_STDCALL CallFromInside(void *user, int32_t category, int32_t value)
{
    auto *inside = static_cast<Inside *>(user);
    inside->received.emplace_back(category, value);
    inside->open = recmux_writer_is_open(inside->writer);
    inside->closed = recmux_writer_close(&inside->writer);
    return 0;
}

// Close deadlocked on the recorder's own lock.
TEST(Regressions, CallsFromInsideACallbackFailAndReadinessIsStillAnnounced)
{
    Inside inside{recmux_writer_open_and_set_callback(nullptr, AcceptBytes), {}};
    recmux_writer *const writer = inside.writer;
    ASSERT_EQ(recmux_writer_set_msg_notify(writer, &inside, CallFromInside), 0);
    WriteUnits(writer, H264(50));
    EXPECT_EQ(inside.open + inside.closed, 2);
    EXPECT_EQ(inside.writer, writer);
    EXPECT_EQ(recmux_writer_is_open(writer), 0);
    EXPECT_EQ(recmux_writer_close(&inside.writer), 0);
    EXPECT_EQ(inside.received, (std::vector<std::pair<int32_t, int32_t>>{
                                   {RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_READY}, {RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_READY}}));
}

#ifndef _WIN32
// FIFOs, symlinks and /dev/zero are Linux's.
// Special files blocked the open, or were read without end.
TEST(Regressions, NamesThatAreNotRegularFilesAreRefusedAtOnce)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.Path("fifo.mp4").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.Path("cam.mp4.tmp").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.Path("folder.mp4"));
    std::filesystem::create_symlink(dir.Path("elsewhere"), dir.Path("link.mp4.tmp"));
    for (const char *name : {"fifo.mp4", "cam.mp4", "folder.mp4", "link.mp4"})
        EXPECT_EQ(recmux_writer_open(dir.Path(name).c_str()), nullptr) << name;
    for (const std::string &path : {dir.Path("fifo.mp4"), dir.Path("folder.mp4"), std::string("/dev/zero")})
        EXPECT_EQ(recmux_reader_open(path.c_str()), nullptr) << path;
    EXPECT_FALSE(Exists(dir.Path("elsewhere")));
    // A working name beyond PATH_MAX.
    EXPECT_EQ(recmux_writer_open(dir.Path(std::string(PATH_MAX, 'n') + ".mp4").c_str()), nullptr);
}
#endif

// The resampler was sized for any rate: 2147483647 Hz took minutes and gigabytes.
TEST(Regressions, SampleRatesNoDeviceUsesAreRefusedAndCostNothing)
{
    recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, AcceptBytes);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, INT32_MAX, 16), 1);
    EXPECT_EQ(recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 192000, 16), 0);
    const std::vector<uint8_t> voice(320, 0xd5);
    for (uint64_t i = 0; i < 50; i++) {
        WriteUnits(writer, {H264(50)[0]}, 1000000 + i * 40000);
        recmux_writer_write_audio(writer, voice.data(), 320, 1000000 + i * 40000);
    }
    EXPECT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

#ifndef _WIN32
// A child process of its own and its peak are Linux's.
// ASan's quarantine keeps every freed buffer resident: the peak says nothing there.
#ifdef __SANITIZE_ADDRESS__
constexpr long kAudioGrowthKilobytes = 1L << 30;
#else
constexpr long kAudioGrowthKilobytes = 8000;
#endif

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Before the output opened, 100 MB of G.726-16 (an hour and more) was all held,
// and after it, sound the video did not catch up with; now 30 seconds are. In a
// child, so that its peak is its own.
TEST(Regressions, QueuedAudioIsBoundedByPlayingTime)
{
    const Units &video = H264(50);
    for (size_t frames : {1, 30}) {
        EXPECT_EQ(InChild([&] {
                      recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, AcceptBytes);
                      recmux_writer_init_audio(writer, RECMUX_AUDIO_G726_16, 1, 8000, 16);
                      WriteUnits(writer, Units(video.begin(), video.begin() + frames));
                      const long before = PeakKilobytes();
                      const std::vector<uint8_t> big(1 << 20, 0x55), small(60000, 0x55);
                      // Alone longer than 30 seconds: refused.
                      int refused = recmux_writer_write_audio(writer, big.data(), 1 << 20, 1000000);
                      for (int i = 0; i < (frames == 1 ? 1700 : 200); i++)
                          refused += recmux_writer_write_audio(writer, small.data(), 60000, 1000000);
                      const long grown = PeakKilobytes() - before;
                      recmux_writer_close(&writer);
                      return refused == 1 && grown < kAudioGrowthKilobytes ? 0 : 1;
                  }),
                  0)
            << frames;
    }
}
#endif

// Frames of a recording declared with a codec value it knows not were refused
// as another codec's; it has no video stream, so the output never opens.
TEST(Regressions, AnUnknownCodecValueRecordsNoVideoAndPublishesNothing)
{
    TempDir dir;
    recmux_writer *writer = recmux_writer_open(dir.Path("cam.mp4").c_str());
    ASSERT_EQ(recmux_writer_init_video(writer, 7, 640, 360, 0), 0);
    EXPECT_GT(WriteUnits(writer, H264(50)), 0u);
    recmux_writer_close(&writer);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path("")));
}

// A key frame carrying a filler unit, so that a few of them pass what the recorder holds.
std::vector<uint8_t> PaddedKeyFrame(size_t filler)
{
    std::vector<uint8_t> frame = H264(1)[0].bytes;
    frame.insert(frame.end(), {0, 0, 0, 1, 0x0C});
    frame.insert(frame.end(), filler, 0xFF);
    frame.push_back(0x80);
    return frame;
}

// Video held before the output opens is bounded (16 MiB): frames past it were
// refused, and the output never opened. At the bound it opens now.
TEST(Regressions, VideoHeldBeforeTheOutputOpensIsBoundedAndOpensItThere)
{
    TempDir dir;
    const std::vector<uint8_t> big = PaddedKeyFrame(5u << 19);
    recmux_writer *writer = recmux_writer_open(dir.Path("held.mp4").c_str());
    ASSERT_NE(writer, nullptr);
    uint64_t pts = 1000000;
    auto write = [&](const std::vector<uint8_t> &frame) {
        pts += 40000;
        return recmux_writer_write_video(writer, frame.data(), static_cast<uint32_t>(frame.size()),
                                         pts, 1);
    };
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(write(big), 0) << "the 7th passes the bound: the output opens" << i;
    EXPECT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_EQ(Probe(dir.Path("held.mp4"), "nb_read_frames"), "16");
}

// Past 2^32 ticks of the 90 kHz clock (13.25 h) a fragmented file stated
// its video duration as 0: its headers had 32 bits for it.
TEST(Regressions, AFragmentedRecordingPastThirteenHoursStatesItsLength)
{
    TempDir dir;
    const std::string path = dir.Path("long.mp4");
    recmux_writer *writer = recmux_writer_open(path.c_str());
    recmux_writer_set_file_type(writer, 1);
    // Outages of just under five minutes, which the recording keeps as they are.
    uint64_t pts = 1000000;
    for (size_t i = 0; i < 200; i++) {
        const auto &unit = H264(250)[i % 250];
        pts += i < 25 ? 40000 : 290000000;
        ASSERT_EQ(recmux_writer_write_video(writer, unit.bytes.data(), static_cast<uint32_t>(unit.bytes.size()), pts,
                                            unit.key),
                  0);
    }
    ASSERT_EQ(recmux_writer_close(&writer), 0);
    const double fed = static_cast<double>(pts - 1000000 - 24 * 40000) / 1e6;
    EXPECT_GT(fed, 13.25 * 3600);
    // The video's mdhd: version 1, 64-bit duration at 90 kHz.
    const std::string bytes = ReadAll(path);
    const size_t mdhd = bytes.find("mdhd") + 4;
    ASSERT_EQ(bytes.at(mdhd), 1);
    uint64_t ticks = 0;
    for (size_t i = 0; i < 8; i++)
        ticks = ticks << 8 | static_cast<uint8_t>(bytes.at(mdhd + 24 + i));
    EXPECT_NEAR(static_cast<double>(ticks) / 90000, fed, 300);
}

// A trun of 44 bytes that claims 83 million samples made FFmpeg's demuxer
// fill an index of 2 GB: a file declaring more samples than it has bytes is refused.
TEST(Regressions, AFileClaimingMoreSamplesThanBytesIsNotRead)
{
    TempDir dir;
    const std::string path = dir.Path("claims.mp4");
    ASSERT_EQ(RecordFile(path, H264(50), 1), 0);
    std::string bytes = ReadAll(path);
    const size_t count = bytes.find("trun") + 8;
    ASSERT_LT(count + 4, bytes.size());
    for (const char *claim : {"\x00\x00\x00\x05", "\x05\x00\x00\x00"}) {
        bytes.replace(count, 4, claim, 4);
        WriteAll(path, bytes);
        recmux_reader *reader = recmux_reader_open(path.c_str());
        EXPECT_EQ(reader != nullptr, claim[3] == 5);
        recmux_reader_close(&reader);
    }
}

using Messages = std::vector<std::pair<int32_t, int32_t>>;

int32_t RECMUX_STDCALL Collect(void *user, int32_t category, int32_t value)
{
    static_cast<Messages *>(user)->emplace_back(category, value);
    return 0;
}

// A declared size the describing encoder refused was accepted, every frame
// then lost, and the failed set-up announced again on each: the stream's own
// size is recorded.
TEST(Regressions, TheStreamsOwnSizeWinsOverADeclaredOne)
{
    TempDir dir;
    const std::string path = dir.Path("wide.mp4");
    Messages received;
    recmux_writer *writer = recmux_writer_open(path.c_str());
    recmux_writer_set_msg_notify(writer, &received, Collect);
    recmux_writer_init_video(writer, RECMUX_VIDEO_H264, 16400, 16, 0);
    EXPECT_EQ(WriteUnits(writer, H264(50)), 50u);
    EXPECT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_EQ(received, (Messages{{RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_READY},
                                  {RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_READY}}));
    EXPECT_EQ(Probe(path, "width,height"), "640,360");
}

}  // namespace
