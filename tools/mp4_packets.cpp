#include "mp4_packets.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "file_problems.h"

namespace recmux_tool {
namespace {

// The reader consumes a packet that does not fit, so the buffer starts large
// enough for any key frame a camera sends.
constexpr size_t kFirstCapacity = 4 << 20;
constexpr size_t kMaxCapacity = 256 << 20;
// A failure that leaves the size alone is the end of the file or a packet of
// a track the reader does not hand out; only the end goes on failing.
constexpr int kFailuresAtEnd = 4096;

}  // namespace

Mp4Packets::Mp4Packets(const std::string &path)
    : reader_(recmux_reader_open(path.c_str())), buffer_(reader_ ? kFirstCapacity : 0)
{
    if (!reader_) {
        const std::string reason = UnreadableReason(path);
        ReportProblem(path,
                      reason.empty() ? "not an MP4 with H.264, H.265 or MPEG-4 video" : reason);
    }
}

Mp4Packets::~Mp4Packets()
{
    recmux_reader_close(&reader_);
}

bool Mp4Packets::Next(Mp4Packet &packet)
{
    for (int failures = 0; reader_ && failures < kFailuresAtEnd;) {
        const int32_t capacity = static_cast<int32_t>(buffer_.size());
        int32_t size = capacity, mediaType = 0, key = 0;
        if (recmux_reader_read_frame(reader_, buffer_.data(), &size, nullptr, &mediaType, &key) ==
            0) {
            packet = {buffer_.data(), size, mediaType, key != 0};
            return true;
        }
        if (size == capacity) {
            failures++;
            continue;
        }
        if (lost_++ == 0)
            first_loss_ = std::string(mediaType == RECMUX_MEDIA_VIDEO ? "a video" : "an audio") +
                          " packet of " + std::to_string(size) + " bytes did not fit in " +
                          std::to_string(capacity);
        // Room to spare: the next key frames tend to be as large or a little larger.
        try {
            buffer_.resize(std::min(static_cast<size_t>(size) * 2, kMaxCapacity));
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "recmux: no memory for a buffer of %d bytes\n", size);
            return false;
        }
        failures = 0;
    }
    return false;
}

}  // namespace recmux_tool
