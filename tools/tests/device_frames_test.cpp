// Device audio files split into voice frames at their headers, or into
// 320-byte headerless pieces when any header is not one.
#include <gtest/gtest.h>

#include <vector>

#include "device_frames.h"

namespace recmux_tool {
namespace {

std::vector<uint8_t> VoiceFrame(uint8_t words, uint8_t fill)
{
    // Sized once: GCC 12 at -O3 mistakes an insert behind a 4-byte header for an overflow.
    std::vector<uint8_t> frame(4 + 2 * size_t{words}, fill);
    frame[0] = 0x00;
    frame[1] = 0x01;
    frame[2] = words;
    frame[3] = 0x00;
    return frame;
}

std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>> &parts)
{
    std::vector<uint8_t> bytes;
    for (const std::vector<uint8_t> &part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

std::vector<size_t> Sizes(const DeviceFrames &split)
{
    std::vector<size_t> sizes;
    for (std::span<const uint8_t> frame : split.frames)
        sizes.push_back(frame.size());
    return sizes;
}

TEST(DeviceFrames, SplitsVoiceFramesAtEachHeadersLength)
{
    const std::vector<uint8_t> bytes =
        Join({VoiceFrame(160, 1), VoiceFrame(40, 2), VoiceFrame(255, 3)});
    const DeviceFrames split = SplitDeviceFrames(bytes);
    EXPECT_TRUE(split.headered);
    EXPECT_EQ(Sizes(split), (std::vector<size_t>{324, 84, 514}));
    EXPECT_EQ(split.frames[1][4], 2);
    EXPECT_EQ(split.frames[1].data(), bytes.data() + 324);
    EXPECT_EQ(split.dropped_bytes, 0u);
}

TEST(DeviceFrames, DropsAVoiceFrameCutShortAtTheEnd)
{
    std::vector<uint8_t> bytes = Join({VoiceFrame(40, 1), VoiceFrame(40, 2)});
    bytes.resize(bytes.size() - 1);
    const DeviceFrames split = SplitDeviceFrames(bytes);
    EXPECT_TRUE(split.headered);
    EXPECT_EQ(Sizes(split), (std::vector<size_t>{84}));
    EXPECT_EQ(split.dropped_bytes, 83u);

    bytes.resize(84 + 2);
    EXPECT_EQ(SplitDeviceFrames(bytes).dropped_bytes, 2u);
}

TEST(DeviceFrames, ABadLaterMarkerMakesTheWholeFileHeaderless)
{
    std::vector<uint8_t> bytes = Join({VoiceFrame(40, 1), VoiceFrame(40, 2), VoiceFrame(200, 3)});
    bytes[84 + 1] = 0x02;
    const DeviceFrames split = SplitDeviceFrames(bytes);
    EXPECT_FALSE(split.headered);
    EXPECT_EQ(Sizes(split), (std::vector<size_t>{320, 252}));
    EXPECT_EQ(split.frames[0].data(), bytes.data());
}

TEST(DeviceFrames, AZeroLengthHeaderIsNotAVoiceFrame)
{
    std::vector<uint8_t> bytes = Join({VoiceFrame(40, 1), VoiceFrame(40, 2)});
    bytes[84 + 2] = 0;
    EXPECT_FALSE(SplitDeviceFrames(bytes).headered);
}

TEST(DeviceFrames, AFileShorterThanItsFirstFrameIsHeaderless)
{
    std::vector<uint8_t> bytes = VoiceFrame(40, 1);
    bytes.resize(50);
    const DeviceFrames split = SplitDeviceFrames(bytes);
    EXPECT_FALSE(split.headered);
    EXPECT_EQ(Sizes(split), (std::vector<size_t>{50}));
}

TEST(DeviceFrames, CutsHeaderlessPayloadIn320BytePieces)
{
    const std::vector<uint8_t> alaw(650, 0xd5);
    const DeviceFrames split = SplitDeviceFrames(alaw);
    EXPECT_FALSE(split.headered);
    EXPECT_EQ(Sizes(split), (std::vector<size_t>{320, 320, 10}));
    EXPECT_EQ(Sizes(SplitDeviceFrames(std::vector<uint8_t>(640, 0xd5))),
              (std::vector<size_t>{320, 320}));
}

TEST(DeviceFrames, SplitsNothingOutOfNothing)
{
    EXPECT_TRUE(SplitDeviceFrames({}).frames.empty());
    EXPECT_EQ(Sizes(SplitDeviceFrames(std::vector<uint8_t>{0x00, 0x01, 0x05})),
              (std::vector<size_t>{3}));
}

}  // namespace
}  // namespace recmux_tool
