// The packets of an MP4 through the exported reader, in a buffer that grows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <recmux/recmux_reader.h>

namespace recmux_tool {

struct Mp4Packet {
    const uint8_t *data = nullptr;
    int32_t size = 0;
    int32_t mediaType = 0;  // 0 video, 1 audio
    bool key = false;
};

class Mp4Packets {
public:
    // Says on stderr why when the file cannot be opened; see IsOpen.
    explicit Mp4Packets(const std::string &path);
    ~Mp4Packets();
    Mp4Packets(const Mp4Packets &) = delete;
    Mp4Packets &operator=(const Mp4Packets &) = delete;

    bool IsOpen() const { return reader_ != nullptr; }
    recmux_reader *Handle() const { return reader_; }
    // False at the end of the file. The packet stays valid until the next call.
    bool Next(Mp4Packet &packet);
    // Packets the reader dropped because they were larger than the buffer.
    uint64_t Lost() const { return lost_; }
    // What the first lost packet was, for the one line that reports the losses.
    const std::string &FirstLoss() const { return first_loss_; }

private:
    recmux_reader *reader_ = nullptr;
    std::vector<uint8_t> buffer_;
    uint64_t lost_ = 0;
    std::string first_loss_;
};

}  // namespace recmux_tool
