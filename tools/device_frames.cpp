#include "device_frames.h"

#include <algorithm>

#include <recmux/zk_voice.h>

namespace recmux_tool {
namespace {

constexpr size_t kHeader = ZK_VOICE_FRAME_HEADER_BYTES;

bool IsHeader(std::span<const uint8_t> bytes, size_t at)
{
    return bytes[at] == 0x00 && bytes[at + 1] == 0x01 && bytes[at + 2] != 0;
}

// Empty unless the whole of bytes walks as voice frames.
DeviceFrames SplitHeadered(std::span<const uint8_t> bytes)
{
    DeviceFrames split;
    split.headered = true;
    size_t at = 0;
    while (bytes.size() - at >= kHeader) {
        if (!IsHeader(bytes, at))
            return {};
        const size_t length = kHeader + 2 * size_t{bytes[at + 2]};
        if (length > bytes.size() - at)
            break;
        split.frames.push_back(bytes.subspan(at, length));
        at += length;
    }
    split.dropped_bytes = bytes.size() - at;
    if (split.frames.empty())
        return {};
    return split;
}

}  // namespace

DeviceFrames SplitDeviceFrames(std::span<const uint8_t> bytes)
{
    DeviceFrames split = SplitHeadered(bytes);
    if (split.headered)
        return split;
    for (size_t at = 0; at < bytes.size(); at += kHeaderlessPiece)
        split.frames.push_back(bytes.subspan(at, std::min(kHeaderlessPiece, bytes.size() - at)));
    return split;
}

}  // namespace recmux_tool
