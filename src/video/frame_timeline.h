#pragma once

#include <cstdint>
#include <array>
#include <cstddef>

extern "C" {
#include <libavutil/rational.h>
}

namespace recmux {

// Puts the caller's frames on the file's clock, in 1/90000 s. A frame near
// where the nominal interval predicts it is stamped there, so arrival jitter
// never reaches the file; lost frames, outages and rate changes are stamped at
// the caller's time. The nominal interval is learned from the timestamps and
// keeps being learned, so a camera that changes its rate is followed.
class FrameTimeline {
public:
    static constexpr int kTicksPerSecond = 90000;
    static constexpr AVRational kTimeBase{1, kTicksPerSecond};

    // Every accepted frame, in presentation order; frames are stamped later.
    void Learn(uint64_t pts);
    // The intervals learned so far were between frames out of presentation order.
    void ForgetIntervals();
    // Enough frames are in to tell the interval, or waiting longer would hold
    // too much back.
    bool ReadyToOpen() const;
    // Where the first frame goes: after a continued recording's end.
    void StartAt(int64_t ticks);
    // The file time of the next frame shown, strictly after the one before.
    int64_t Stamp(uint64_t pts);
    // The caller's timestamp on the file's clock, in microseconds; false before
    // the first frame or when it lies too far from the video to be believed.
    bool FileTime(uint64_t pts, int64_t &microseconds) const;
    // The nominal rate: 25/1, 25/2, 30000/1001, ...
    AVRational FrameRate() const { return rate_; }
    double StepTicks() const { return step_; }

private:
    void LearnInterval(double microseconds);
    void SetInterval(double microseconds);
    void Rebase(uint64_t pts, double ticks);
    double Target(uint64_t pts) const;

    // Caller timestamp that maps to start_; moved when the caller's clock jumps.
    uint64_t base_ = 0;
    uint64_t firstPts_ = 0;
    uint64_t lastPts_ = 0;
    uint32_t framesLearned_ = 0;
    // The last intervals, in no particular order: a rate change is followed once
    // half of them show it, well within a second at camera rates.
    static constexpr size_t kWindow = 16;
    std::array<double, kWindow> recentIntervals_{};
    size_t intervalsLearned_ = 0;
    double median_ = 0;
    uint32_t intervalsSinceRefresh_ = 0;
    // Intervals since the last rate change, for an estimate that jitter cannot sway.
    double runMicroseconds_ = 0;
    uint32_t runFrames_ = 0;
    double step_ = kTicksPerSecond / 25.0;
    AVRational rate_{25, 1};

    int64_t start_ = 0;
    bool stamped_ = false;
    double lastExact_ = 0;
    int64_t last_ = 0;
};

}  // namespace recmux
