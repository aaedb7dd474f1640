// Where the muxer's fragmented MP4 goes in a file recording: every byte to a
// new working file, its movie header widened so that it can state any
// duration; or, continuing a fragmented recording in place, the fragments
// alone to the end of that file, which keeps its own header.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace recmux {

class FragmentSink {
public:
    // fd stays the caller's. With append_at, the file is cut there (its index
    // and any fragment a crash cut short taken off) only when the first
    // fragment comes: until then it stays as it was.
    FragmentSink(int fd, std::optional<uint64_t> append_at) : fd_(fd), appendAt_(append_at) {}

    // The write callback of the output's I/O context, with this as opaque.
    static int Write(void *opaque, uint8_t *data, int size);
    // Whether a fragment has reached the file.
    bool Fragmented() const { return streaming_; }

private:
    enum class Action { Pass, Drop, Widen };

    int Take(const uint8_t *data, int size);
    // One step over the muxer's boxes before its first moof; false on a write error.
    bool Step(const uint8_t *&data, int &size);
    bool StartBox();
    bool Put(const uint8_t *data, size_t size);

    int fd_;
    std::optional<uint64_t> appendAt_;
    bool streaming_ = false;
    uint8_t header_[16] = {};
    int headerBytes_ = 0;
    Action action_ = Action::Pass;
    uint64_t left_ = 0;
    std::vector<uint8_t> moov_;
};

}  // namespace recmux
