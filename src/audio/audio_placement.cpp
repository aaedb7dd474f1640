#include "audio/audio_placement.h"

#include <algorithm>

namespace recmux {
namespace {

// Packet timing wanders by a few milliseconds; only a larger gap or overlap is
// corrected, so sound that arrives where expected is never cut or padded.
constexpr int64_t kToleranceMicroseconds = 40000;

}  // namespace

void AudioPlacement::Begin(uint64_t pts, std::optional<int64_t> time)
{
    const bool says_nothing = pts == 0 || pts == lastPts_;
    lastPts_ = pts;
    time_ = says_nothing ? std::nullopt : time;
}

int64_t AudioPlacement::SilenceBefore(int64_t next)
{
    if (!time_)
        return 0;
    const int64_t offset = *time_ - next;
    time_.reset();
    if (offset > kToleranceMicroseconds)
        return offset;
    if (offset < -kToleranceMicroseconds)
        trimMicroseconds_ = -offset;
    return 0;
}

int AudioPlacement::Trim(int samples, int rate)
{
    if (trimMicroseconds_ <= 0 || samples <= 0 || rate <= 0)
        return 0;
    const int64_t wanted = trimMicroseconds_ * rate / 1000000;
    const int dropped = static_cast<int>(std::min<int64_t>(samples, wanted));
    trimMicroseconds_ = dropped < wanted ? trimMicroseconds_ - int64_t{dropped} * 1000000 / rate : 0;
    return dropped;
}

}  // namespace recmux
