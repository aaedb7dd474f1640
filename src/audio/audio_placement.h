#pragma once

#include <cstdint>
#include <optional>

namespace recmux {

// Keeps decoded sound where its timestamps put it against the video's clock:
// a buffer that arrives where the sound has got to follows on seamlessly, a
// gap (lost packets, an outage) becomes silence, sound running ahead of its
// timestamps is cut. Timestamps that say nothing leave the sound placed by its
// sample count.
class AudioPlacement {
public:
    // A new device buffer: its timestamp and, when the video's clock can place
    // it, its time on the file's clock in microseconds.
    void Begin(uint64_t pts, std::optional<int64_t> time);
    // The buffer's first samples are about to be appended where `next` plays:
    // the microseconds of silence that go before them.
    int64_t SilenceBefore(int64_t next);
    // How many of `samples` at `rate` to drop before appending them.
    int Trim(int samples, int rate);

private:
    std::optional<int64_t> time_;
    uint64_t lastPts_ = 0;
    int64_t trimMicroseconds_ = 0;
};

}  // namespace recmux
