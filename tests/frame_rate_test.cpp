#include <gtest/gtest.h>

#include "video/frame_rate_estimate.h"

namespace recmux {
namespace {

// Feeds frames every 40 ms from a non-zero start, as WriteVideo does, and
// returns the 1-based number of the frame at which the output opens.
int OpenPoint(FrameRateEstimate &estimate, int key_interval, int limit = 2000)
{
    for (int frame = 0; frame < limit; frame++) {
        if (estimate.ReadyToOpen(frame % key_interval == 0))
            return frame + 1;
        estimate.Add(1000000 + static_cast<uint64_t>(frame) * 40000);
    }
    return 0;
}

TEST(FrameRateEstimate, KeyFrameEvery25OpensAtFrame526With20Samples)
{
    FrameRateEstimate estimate;
    EXPECT_EQ(OpenPoint(estimate, 25), 526);
    EXPECT_EQ(estimate.SampleCount(), 20u);
    EXPECT_DOUBLE_EQ(estimate.Rate(), 25.0);
}

TEST(FrameRateEstimate, KeyFrameEvery50OpensAtFrame551With21Samples)
{
    FrameRateEstimate estimate;
    EXPECT_EQ(OpenPoint(estimate, 50), 551);
    EXPECT_EQ(estimate.SampleCount(), 21u);
    EXPECT_DOUBLE_EQ(estimate.Rate(), 25.0);
}

TEST(FrameRateEstimate, FirstSampleCountsOneIntervalTooFew)
{
    FrameRateEstimate estimate;
    EXPECT_DOUBLE_EQ(estimate.Rate(), 25.0);
    for (int frame = 0; frame < 26; frame++)
        estimate.Add(1000000 + static_cast<uint64_t>(frame) * 40000);
    ASSERT_EQ(estimate.SampleCount(), 1u);
    EXPECT_DOUBLE_EQ(estimate.Rate(), 26.0);
}

TEST(FrameRateEstimate, BackwardTimestampsWidenTheNextSample)
{
    FrameRateEstimate estimate;
    for (uint64_t k = 0; k < 25; k++)
        estimate.Add(1000000 + k * 40000);
    estimate.Add(900000);
    EXPECT_EQ(estimate.SampleCount(), 0u);
    estimate.Add(1000000 + 26 * 40000);
    ASSERT_EQ(estimate.SampleCount(), 1u);
    EXPECT_DOUBLE_EQ(estimate.Rate(), 27 / 1.04);
}

TEST(FrameRateEstimate, MedianIgnoresOneJumpAndTakesTheUpperMiddle)
{
    FrameRateEstimate estimate;
    uint64_t pts = 1000000;
    for (int frame = 0; frame < 26 * 4 + 1; frame++) {
        // One long gap in the second interval gives one low sample.
        pts += frame == 40 ? 10000000 : 40000;
        estimate.Add(pts);
    }
    ASSERT_EQ(estimate.SampleCount(), 4u);
    EXPECT_DOUBLE_EQ(estimate.Rate(), 26.0 / (26 * 0.04));
}

}  // namespace
}  // namespace recmux
