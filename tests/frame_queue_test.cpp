#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "recorder/CMP4Writer.h"

namespace recmux {
namespace {

using Frame = CMP4Writer::AVFrameInfo;

Frame MakeFrame(uint64_t pts, size_t size)
{
    Frame frame;
    frame.isKey = pts % 2 == 0;
    frame.pts = pts;
    frame.data.assign(size, static_cast<uint8_t>(pts));
    return frame;
}

TEST(FrameQueue, HandsBackFramesInArrivalOrderWithoutCopying)
{
    TConQue<Frame> queue;
    Frame out;
    EXPECT_FALSE(queue.Pop(out));

    Frame first = MakeFrame(10, 1000);
    const uint8_t *bytes = first.data.data();
    queue.Push(std::move(first));
    queue.Push(MakeFrame(11, 3));
    EXPECT_EQ(queue.Size(), 2u);

    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.pts, 10u);
    EXPECT_EQ(out.isKey, 1);
    EXPECT_EQ(out.data.data(), bytes);
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out.pts, 11u);
    EXPECT_EQ(out.data, std::vector<uint8_t>(3, 11));
    EXPECT_FALSE(queue.Pop(out));
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(FrameQueueThreads, ConcurrentProducersLoseNothing)
{
    TConQue<Frame> queue;
    constexpr int kProducers = 4, kFrames = 2000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; p++)
        producers.emplace_back([&queue, p] {
            for (int i = 0; i < kFrames; i++)
                queue.Push(MakeFrame(static_cast<uint64_t>(p) * kFrames + i, 16));
        });

    std::vector<int> seen(kProducers * kFrames, 0);
    std::vector<int64_t> last(kProducers, -1);
    int received = 0;
    while (received < kProducers * kFrames) {
        Frame frame;
        if (!queue.Pop(frame)) {
            std::this_thread::yield();
            continue;
        }
        const size_t producer = frame.pts / kFrames;
        EXPECT_GT(static_cast<int64_t>(frame.pts), last[producer]);
        last[producer] = static_cast<int64_t>(frame.pts);
        seen[frame.pts]++;
        received++;
    }
    for (auto &producer : producers)
        producer.join();
    EXPECT_EQ(queue.Size(), 0u);
    for (int count : seen)
        ASSERT_EQ(count, 1);
}

}  // namespace
}  // namespace recmux
