#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

namespace recmux {

// Learns the frame rate from the caller's timestamps while frames are held back,
// and says at which key frame there is evidence enough to open the output.
class FrameRateEstimate {
public:
    // Whether a key frame arriving now should open the output; asked before Add.
    bool ReadyToOpen(bool isKey) const;
    // Counts one held-back frame and samples the rate every 26th frame or later.
    void Add(uint64_t pts);
    // The median sample (the upper middle one for an even count), 25 without samples.
    double Rate() const;
    size_t SampleCount() const { return samples_.size(); }

private:
    uint32_t frameIndexAtLastSample_ = 0;
    uint32_t framesReceived_ = 0;
    uint64_t ptsAtLastSample_ = 0;
    std::multiset<double> samples_;
};

}  // namespace recmux
