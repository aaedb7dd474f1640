// Recorders on several threads, run under ThreadSanitizer: calls on one
// recorder from two threads, and eight recorders at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "media_fixture.h"
#include "recorder/CMP4Writer.h"
#include "test_files.h"

namespace recmux {
namespace {

using namespace test;

constexpr uint64_t kStart = 5000000;

size_t Write(IWriter &writer, const AccessUnit &unit, uint64_t pts)
{
    return writer.WriteVideo(unit.bytes.data(), static_cast<uint32_t>(unit.bytes.size()), pts, unit.key);
}

TEST(RecorderThreads, VideoOnOneThreadSoundAndQueriesOnAnother)
{
    const Units &units = H264(100);
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    CMP4Writer recorder;
    IWriter &writer = recorder;
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    ASSERT_TRUE(writer.InitAudio(RECMUX_AUDIO_G711_ALAW, 1, 8000, 16));
    std::atomic<bool> done{false};
    std::atomic<int> sound{0};
    std::thread video([&] {
        size_t accepted = 0;
        for (size_t i = 0; i < units.size(); i++) {
            accepted += Write(writer, units[i], kStart + i * 40000);
            // Keeps the sound in step, so that both threads really overlap.
            while (sound < static_cast<int>(i) / 2)
                std::this_thread::yield();
        }
        EXPECT_EQ(accepted, 100u);
        done = true;
    });
    const std::vector<uint8_t> alaw(160, 0xd5);
    uint64_t pts = 0;
    while (!done) {
        EXPECT_TRUE(writer.IsOpen());
        if (writer.GetBeginPts(&pts) && writer.WriteAudio(alaw.data(), 160, 0))
            sound++;
        writer.GetEndPts(&pts);
        writer.SetMsgNotify(nullptr, nullptr);
        std::this_thread::yield();
    }
    video.join();
    ASSERT_TRUE(writer.Close());
    EXPECT_TRUE(writer.Kept());
    EXPECT_EQ(Probe(mp4, "nb_read_frames"), "100");
    EXPECT_EQ(Probe(mp4, "codec_name", "a:0"), "aac");
}

// Recorders share FFmpeg's global state and nothing else: eight at once, half
// fragmented, each with its sound, must not race.
TEST(RecorderThreads, EightRecordersOnEightThreads)
{
    const Units &units = H264(100);
    TempDir dir;
    std::vector<std::thread> threads;
    std::vector<size_t> accepted(8, 0);
    for (int n = 0; n < 8; n++) {
        threads.emplace_back([&, n] {
            CMP4Writer writer;
            writer.Open(dir.Path("cam" + std::to_string(n) + ".mp4").c_str());
            writer.SetFileType(n % 2);
            writer.InitAudio(RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
            const std::vector<uint8_t> alaw(320, 0xd5);
            for (size_t i = 0; i < units.size(); i++) {
                accepted[static_cast<size_t>(n)] += Write(writer, units[i], kStart + i * 40000);
                writer.WriteAudio(alaw.data(), 320, kStart + i * 40000);
            }
            writer.Close();
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int n = 0; n < 8; n++) {
        EXPECT_EQ(accepted[static_cast<size_t>(n)], 100u) << n;
        EXPECT_EQ(Probe(dir.Path("cam" + std::to_string(n) + ".mp4"), "nb_read_frames"), "100");
    }
}

}  // namespace
}  // namespace recmux
