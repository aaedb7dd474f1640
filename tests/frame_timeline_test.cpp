// What the table of camera patterns cannot show from outside: clocks that
// jump, timestamps that say nothing, and when the output may open.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "audio/audio_placement.h"
#include "video/decode_times.h"
#include "video/frame_timeline.h"

namespace recmux {
namespace {

constexpr uint64_t kStart = 7000000;

TEST(FrameTimeline, OutagesUpToFiveMinutesStayGapsOtherJumpsGoOnAtTheNominalInterval)
{
    std::vector<uint64_t> pts;
    for (int i = 0; i < 30; i++)
        pts.push_back(kStart + i * 40000);
    const uint64_t resumed = pts.back() + 299000000, leap = 41000 + 400000000;
    // An outage, then the camera's clock restarts, leaps 400 s (a reset, not a
    // silence) and stands still.
    pts.insert(pts.end(), {resumed, resumed + 40000, 1000, 41000, leap, leap + 40000, leap + 40000});
    FrameTimeline timeline;
    timeline.Learn(pts[0]);
    int64_t last = timeline.Stamp(pts[0]);
    for (size_t i = 1; i < pts.size(); i++) {
        timeline.Learn(pts[i]);
        const int64_t ticks = timeline.Stamp(pts[i]);
        EXPECT_EQ(ticks - last, i == 30 ? 299 * 90000 : 3600) << "frame " << i;
        last = ticks;
    }
}

TEST(FrameTimeline, OpensWithinASecondOfFramesWhateverTheTimestamps)
{
    // Eight intervals, 25 frames or one second, whichever comes first.
    for (const auto &[step, frames] : {std::pair<uint64_t, int>{40000, 9}, {0, 25}, {500000, 3}}) {
        FrameTimeline timeline;
        int n = 0;
        for (; !timeline.ReadyToOpen(); n++)
            timeline.Learn(kStart + n * step);
        EXPECT_EQ(n, frames) << step;
    }
}

// B-frames, a camera whose clock goes back mid-stream, and a stream that
// reorders deeper than it said: every frame leaves, in decode order, decoded
// before it is shown and after the one before.
TEST(DecodeTimes, DecodeTimesGrowAndNeverPassPresentationTimes)
{
    const int shown[] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8};
    std::vector<uint64_t> pts;
    for (uint64_t base : {kStart, uint64_t{1000}})
        for (int place : shown)
            pts.push_back(base + place * 40000);
    pts.insert(pts.end(), {2000000, 1500000, 1540000, 1580000, 1620000, 1660000});  // four deep
    FrameTimeline timeline;
    DecodeTimes times;
    times.SetDepth(2);
    std::vector<uint64_t> out;
    int64_t last_dts = INT64_MIN;
    for (size_t i = 0; i <= pts.size(); i++) {
        if (i < pts.size())
            times.Push(timeline, AVFrameInfo{0, pts[i], {}});
        for (TimedFrame frame; times.Next(timeline, frame, i == pts.size());) {
            EXPECT_GT(frame.dts, last_dts);
            EXPECT_LE(frame.dts, frame.pts);
            last_dts = frame.dts;
            out.push_back(frame.frame.pts);
        }
    }
    EXPECT_EQ(out, pts);
    EXPECT_EQ(times.Held(), 0u);
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
