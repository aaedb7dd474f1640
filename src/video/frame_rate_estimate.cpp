#include "video/frame_rate_estimate.h"

#include <iterator>

namespace recmux {

bool FrameRateEstimate::ReadyToOpen(bool isKey) const
{
    return isKey && (samples_.size() > 30 || framesReceived_ > 500);
}

void FrameRateEstimate::Add(uint64_t pts)
{
    framesReceived_++;
    if (ptsAtLastSample_ == 0) {
        ptsAtLastSample_ = pts;
        return;
    }
    const int32_t frames = static_cast<int32_t>(framesReceived_ - frameIndexAtLastSample_);
    // Backward timestamps keep the interval open, so the next sample spans it all.
    if (frames <= 25 || pts <= ptsAtLastSample_)
        return;
    const double seconds = static_cast<double>(pts - ptsAtLastSample_) / 1000000.0;
    samples_.insert(frames / seconds);
    frameIndexAtLastSample_ = framesReceived_;
    ptsAtLastSample_ = pts;
}

double FrameRateEstimate::Rate() const
{
    if (samples_.empty())
        return 25.0;
    return *std::next(samples_.begin(), static_cast<long>(samples_.size() / 2));
}

}  // namespace recmux
