// What the table of camera patterns cannot show from outside: clocks that
// jump, timestamps that say nothing, and when the output may open.
#include <gtest/gtest.h>

#include "audio/audio_placement.h"
#include "video/frame_timeline.h"

namespace recmux {
namespace {

constexpr uint64_t kStart = 7000000;

std::vector<int64_t> StampAll(const std::vector<uint64_t> &pts)
{
    FrameTimeline timeline;
    std::vector<int64_t> ticks;
    for (uint64_t p : pts) {
        timeline.Learn(p);
        ticks.push_back(timeline.Stamp(p));
    }
    return ticks;
}

TEST(FrameTimeline, ClockResetsAndStandstillsGoOnAtTheNominalInterval)
{
    std::vector<uint64_t> pts;
    for (int i = 0; i < 30; i++)
        pts.push_back(kStart + i * 40000);
    pts.push_back(1000);                       // the camera's clock restarts
    pts.push_back(41000);                      // and runs on from there
    pts.push_back(41000 + 400000000);          // leaps 400 s: a reset, not a silence
    pts.push_back(41000 + 400000000 + 40000);  // and stands still
    pts.push_back(41000 + 400000000 + 40000);
    const std::vector<int64_t> ticks = StampAll(pts);
    for (size_t i = 1; i < ticks.size(); i++)
        EXPECT_EQ(ticks[i] - ticks[i - 1], 3600) << "frame " << i;
}

TEST(FrameTimeline, OutagesUpToFiveMinutesStayGaps)
{
    const std::vector<int64_t> ticks =
        StampAll({kStart, kStart + 40000, kStart + 40000 + 299000000, kStart + 80000 + 299000000});
    EXPECT_EQ(ticks[2] - ticks[1], 299 * 90000);
    EXPECT_EQ(ticks[3] - ticks[2], 3600);
}

TEST(FrameTimeline, OpensWithinASecondOfFramesWhateverTheTimestamps)
{
    FrameTimeline steady, untimed, slow;
    int frames = 0;
    for (; !steady.ReadyToOpen(); frames++)
        steady.Learn(kStart + frames * 40000);
    EXPECT_EQ(frames, 9);  // eight intervals
    for (frames = 0; !untimed.ReadyToOpen(); frames++)
        untimed.Learn(0);
    EXPECT_EQ(frames, 25);
    for (frames = 0; !slow.ReadyToOpen(); frames++)
        slow.Learn(kStart + frames * 500000);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(steady.FrameRate().num, 25);
    EXPECT_EQ(steady.FrameRate().den, 1);
}

TEST(AudioPlacement, GapsBecomeSilenceOverlapsAreCutSilentTimestampsAreIgnored)
{
    AudioPlacement placement;
    placement.Begin(kStart, 100000);
    EXPECT_EQ(placement.SilenceBefore(30000), 70000);
    placement.Begin(kStart + 20000, 110000);
    EXPECT_EQ(placement.SilenceBefore(100000), 0);  // 10 ms late: seamless
    EXPECT_EQ(placement.Trim(160, 8000), 0);
    placement.Begin(kStart + 40000, 100000);
    EXPECT_EQ(placement.SilenceBefore(160000), 0);  // 60 ms ahead of its time: cut
    EXPECT_EQ(placement.Trim(400, 8000), 400);
    EXPECT_EQ(placement.Trim(400, 8000), 80);
    EXPECT_EQ(placement.Trim(400, 8000), 0);
    placement.Begin(kStart + 40000, 900000);  // the same timestamp again says nothing
    EXPECT_EQ(placement.SilenceBefore(0), 0);
    placement.Begin(0, 900000);
    EXPECT_EQ(placement.SilenceBefore(0), 0);
}

}  // namespace
}  // namespace recmux
