// Where the access units of a recording come from: an Annex B file or the
// built-in test pattern.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace recmux_tool {

// MPEG-4 Part 2 only as a file input: the test pattern is H.264 or H.265.
enum class VideoCodec { H264, H265, Mpeg4 };

struct AccessUnit {
    std::vector<uint8_t> bytes;  // Annex B, start codes included
    bool key = false;
    std::optional<uint64_t> pts_us;  // a capture's own timestamp; else made from the frame rate
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // False at the end of the stream or on failure; Failed() tells which.
    virtual bool Next(AccessUnit &unit) = 0;
    virtual bool Failed() const = 0;
    // How much of the input has been read, 0..1; negative when unknown.
    virtual double Fraction() const { return -1; }
};

}  // namespace recmux_tool
