// Nothing a caller passes makes a recorder hold memory or compute without bound.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "media_fixture.h"
#include <recmux/recmux_writer.h>
#include "test_files.h"

namespace {

using recmux::test::AccessUnit;
using recmux::test::TempDir;

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

const AccessUnit &KeyFrame()
{
    static TempDir dir;
    static const std::vector<AccessUnit> units = [] {
        const std::string path = dir.Path("key.h264");
        return recmux::test::MakeElementaryStream(path, 1, "-c:v libx264 -f h264")
                   ? recmux::test::SplitAccessUnits(path)
                   : std::vector<AccessUnit>{};
    }();
    return units.at(0);
}

int AcceptBytes(void *, uint8_t *, int size)
{
    return size;
}

// Before the output opens, 100 MB of G.726-16 in 1 MiB buffers (an hour and
// more of sound) is held as 30 seconds; in a child, so that its peak is its own.
TEST(ResourceBounds, QueuedAudioIsBoundedByPlayingTimeWhateverTheBufferSize)
{
    const AccessUnit &key = KeyFrame();
    const pid_t child = fork();
    if (child == 0) {
        recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, AcceptBytes);
        recmux_writer_init_audio(writer, RECMUX_AUDIO_G726_16, 1, 8000, 16);
        recmux_writer_write_video(writer, key.bytes.data(),
                                  static_cast<uint32_t>(key.bytes.size()), 1000000, 1);
        const long before = PeakKilobytes();
        const std::vector<uint8_t> big(1 << 20, 0x55), small(60000, 0x55);
        int refused = recmux_writer_write_audio(writer, big.data(), 1 << 20, 1000000);
        for (int i = 0; i < 1700; i++)
            refused += recmux_writer_write_audio(writer, small.data(), 60000, 1000000);
        const long grown = PeakKilobytes() - before;
        recmux_writer_close(&writer);
        std::_Exit(refused == 1 && grown < kAudioGrowthKilobytes ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ResourceBounds, SampleRatesNoDeviceUsesAreRefusedAndCostNothing)
{
    recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, AcceptBytes);
    ASSERT_NE(writer, nullptr);
    const auto start = std::chrono::steady_clock::now();
    for (int32_t rate : {2147483647, 192001, 999})
        EXPECT_EQ(recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, rate, 16), 1) << rate;
    EXPECT_EQ(recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 192000, 16), 0);
    const AccessUnit &key = KeyFrame();
    const std::vector<uint8_t> voice(320, 0xd5);
    for (uint64_t i = 0; i < 50; i++) {
        recmux_writer_write_video(writer, key.bytes.data(), static_cast<uint32_t>(key.bytes.size()),
                                  1000000 + i * 40000, 1);
        recmux_writer_write_audio(writer, voice.data(), 320, 1000000 + i * 40000);
    }
    EXPECT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
