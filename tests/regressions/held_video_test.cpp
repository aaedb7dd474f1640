#include <gtest/gtest.h>

#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

// A key frame carrying a filler unit, so that a few of them pass what the recorder holds.
std::vector<uint8_t> PaddedKeyFrame(size_t filler)
{
    std::vector<uint8_t> frame = H264(1)[0].bytes;
    frame.insert(frame.end(), {0, 0, 0, 1, 0x0C});
    frame.insert(frame.end(), filler, 0xFF);
    frame.push_back(0x80);
    return frame;
}

// Video held before the output opens is bounded (16 MiB); once it has opened,
// nothing counts against that bound any more.
TEST(Regressions, VideoHeldBeforeTheOutputOpensIsBoundedAndOnlyThen)
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
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(write(big), 0) << i;
    EXPECT_EQ(write(big), 1) << "15 MiB held: 2.5 more pass the bound";
    const std::vector<uint8_t> small = PaddedKeyFrame(0);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(write(small), 0) << i;
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(write(big), 0) << "open: " << i;
    EXPECT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_EQ(Probe(dir.Path("held.mp4"), "nb_read_frames"), "19");
}

}  // namespace
