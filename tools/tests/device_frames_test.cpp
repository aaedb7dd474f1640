// Device audio files split into voice frames at their headers, or into headerless
// pieces when any header is not one.
#include <gtest/gtest.h>

#include <functional>

#include "device_frames.h"

namespace recmux_tool {
namespace {

// Voice frames of those lengths in words, each payload filled with its place.
std::vector<uint8_t> VoiceFrames(const std::vector<uint8_t> &lengths)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < lengths.size(); i++) {
        const std::vector<uint8_t> header = {0x00, 0x01, lengths[i], 0x00};
        bytes.insert(bytes.end(), header.begin(), header.end());
        bytes.resize(bytes.size() + 2 * size_t{lengths[i]}, static_cast<uint8_t>(i));
    }
    return bytes;
}

TEST(DeviceFrames, SplitsAtHeadersOrInHeaderlessPieces)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        std::function<void(std::vector<uint8_t> &)> change;
        bool headered;
        std::vector<size_t> sizes;
        size_t dropped;
    };
    const auto nothing = [](std::vector<uint8_t> &) {};
    const Case cases[] = {
        {"whole frames", VoiceFrames({160, 40, 255}), nothing, true, {324, 84, 514}, 0},
        {"the last frame cut short", VoiceFrames({40, 40}), [](auto &b) { b.pop_back(); }, true, {84}, 83},
        {"two bytes after a frame", VoiceFrames({40, 40}), [](auto &b) { b.resize(86); }, true, {84}, 2},
        {"a bad later marker", VoiceFrames({40, 40, 200}), [](auto &b) { b[85] = 0x02; }, false, {320, 252}, 0},
        {"a zero length", VoiceFrames({40, 0, 40}), nothing, false, {172}, 0},
        {"shorter than its first frame", VoiceFrames({40}), [](auto &b) { b.resize(50); }, false, {50}, 0},
        {"headerless", std::vector<uint8_t>(650, 0xd5), nothing, false, {320, 320, 10}, 0},
        {"headerless, whole pieces", std::vector<uint8_t>(640, 0xd5), nothing, false, {320, 320}, 0},
        {"shorter than a header", {0x00, 0x01, 0x05}, nothing, false, {3}, 0},
        {"empty", {}, nothing, false, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = c.bytes;
        c.change(bytes);
        const DeviceFrames split = SplitDeviceFrames(bytes);
        EXPECT_EQ(split.headered, c.headered);
        EXPECT_EQ(split.dropped_bytes, c.dropped);
        ASSERT_EQ(split.frames.size(), c.sizes.size());
        // The frames are views into the bytes, one after the other.
        size_t at = 0;
        for (size_t i = 0; i < c.sizes.size(); at += c.sizes[i++]) {
            EXPECT_EQ(split.frames[i].size(), c.sizes[i]) << "frame " << i;
            EXPECT_EQ(split.frames[i].data(), bytes.data() + at) << "frame " << i;
        }
    }
}

}  // namespace
}  // namespace recmux_tool
