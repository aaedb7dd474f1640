#include "video/frame_timeline.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace recmux {
namespace {

constexpr double kTicksPerMicrosecond = FrameTimeline::kTicksPerSecond / 1e6;
// Intervals whose mean is trusted over the window's median.
constexpr uint32_t kMinRun = 8;
// Frames over which the estimate is refreshed with every interval, and how
// often after that.
constexpr uint32_t kSettlingFrames = 64;
constexpr uint32_t kRefreshEvery = 4;
// A longer interval is an outage, not a frame rate.
constexpr double kMaxIntervalMicroseconds = 5e6;
// A frame this close to its predicted time is stamped there.
constexpr double kOnTimeFraction = 0.4;
// A longer forward jump is taken for a reset of the camera's clock, not a
// silence: the recording goes on at the nominal interval.
constexpr double kMaxGapTicks = 300.0 * FrameTimeline::kTicksPerSecond;
// The output opens after this many intervals, frames or microseconds at most.
constexpr size_t kIntervalsToOpen = 8;
constexpr uint32_t kFramesToOpen = 25;
constexpr uint64_t kMicrosecondsToOpen = 1000000;

template <size_t N>
double Median(std::array<double, N> values, size_t count)
{
    const auto middle = values.begin() + static_cast<long>(count / 2);
    std::nth_element(values.begin(), middle, values.begin() + static_cast<long>(count));
    return *middle;
}

// Cameras run at whole rates, halves below 15 (7.5, 12.5) or the 1000/1001
// rates of NTSC; the nearest of those within the estimate's uncertainty is the rate.
bool NominalRate(double fps, double tolerance, AVRational &rate)
{
    double best_error = tolerance;
    bool found = false;
    auto consider = [&](double num, int den) {
        const double error = std::fabs(num / den - fps) / fps;
        if (error < best_error) {
            best_error = error;
            rate = AVRational{static_cast<int>(num), den};
            found = true;
        }
    };
    const double whole = std::round(fps);
    if (whole >= 1 && whole <= 240)
        consider(whole, 1);
    const double halves = std::round(fps * 2);
    if (std::fmod(halves, 2) == 1 && halves < 30)
        consider(halves, 2);
    const double ntsc = std::round(fps * 1.001);
    if (ntsc == 24 || ntsc == 30 || ntsc == 48 || ntsc == 60 || ntsc == 120)
        consider(ntsc * 1000, 1001);
    return found;
}

}  // namespace

void FrameTimeline::Learn(uint64_t pts)
{
    if (framesLearned_++ == 0) {
        base_ = pts;
        firstPts_ = pts;
    } else if (pts > lastPts_ && static_cast<double>(pts - lastPts_) <= kMaxIntervalMicroseconds) {
        LearnInterval(static_cast<double>(pts - lastPts_));
    }
    lastPts_ = pts;
}

void FrameTimeline::ForgetIntervals()
{
    intervalsLearned_ = 0;
    intervalsSinceRefresh_ = 0;
    runMicroseconds_ = 0;
    runFrames_ = 0;
}

bool FrameTimeline::ReadyToOpen() const
{
    return intervalsLearned_ >= kIntervalsToOpen || framesLearned_ >= kFramesToOpen ||
           (lastPts_ > firstPts_ && lastPts_ - firstPts_ >= kMicrosecondsToOpen);
}

void FrameTimeline::LearnInterval(double microseconds)
{
    recentIntervals_[intervalsLearned_++ % kWindow] = microseconds;
    const size_t recent = std::min<size_t>(intervalsLearned_, kWindow);
    // Once settled the estimate moves slowly: refreshing it now and then keeps
    // the cost per frame near nothing.
    const bool refresh = runFrames_ < kSettlingFrames || ++intervalsSinceRefresh_ >= kRefreshEvery;
    if (refresh) {
        intervalsSinceRefresh_ = 0;
        median_ = Median(recentIntervals_, recent);
        const double run = runFrames_ > 0 ? runMicroseconds_ / runFrames_ : median_;
        if (std::fabs(median_ - run) > 0.2 * run) {
            runMicroseconds_ = 0;
            runFrames_ = 0;
        }
    }
    // A lost frame shows as a double interval: it counts as two.
    const double frames = std::round(microseconds / median_);
    if (frames >= 1 && frames <= 4) {
        runMicroseconds_ += microseconds;
        runFrames_ += static_cast<uint32_t>(frames);
    }
    if (refresh)
        SetInterval(runFrames_ >= kMinRun ? runMicroseconds_ / runFrames_ : median_);
}

void FrameTimeline::SetInterval(double microseconds)
{
    // The mean of n jittered intervals is off by at most half their spread over n.
    double low = microseconds * 2, high = 0;
    const size_t recent = std::min<size_t>(intervalsLearned_, kWindow);
    for (size_t i = 0; i < recent; i++) {
        const double interval = recentIntervals_[i];
        if (interval >= 0.5 * microseconds && interval < 1.5 * microseconds) {
            low = std::min(low, interval);
            high = std::max(high, interval);
        }
    }
    const uint32_t frames = std::max<uint32_t>(runFrames_, 1);
    const double spread = high > low ? (high - low) / 2 / frames : 0;
    // A delay that grows steadily leaves the intervals alike yet moves their
    // mean: early on, a percent either side of a nominal rate is that rate.
    const double tolerance = 0.002 + spread / microseconds + 0.08 / frames;
    const double fps = 1e6 / microseconds;
    if (NominalRate(fps, tolerance, rate_)) {
        step_ = kTicksPerSecond * static_cast<double>(rate_.den) / rate_.num;
        return;
    }
    step_ = microseconds * kTicksPerMicrosecond;
    rate_ = av_d2q(fps, 1 << 20);
}

void FrameTimeline::StartAt(int64_t ticks)
{
    start_ = ticks;
}

double FrameTimeline::Target(uint64_t pts) const
{
    // Modular difference: a timestamp before the base is a negative offset.
    const auto offset = static_cast<int64_t>(pts - base_);
    return static_cast<double>(start_) + static_cast<double>(offset) * kTicksPerMicrosecond;
}

void FrameTimeline::Rebase(uint64_t pts, double ticks)
{
    const auto offset = static_cast<int64_t>(std::llround((ticks - start_) / kTicksPerMicrosecond));
    base_ = pts - static_cast<uint64_t>(offset);
}

int64_t FrameTimeline::Stamp(uint64_t pts)
{
    if (!stamped_) {
        stamped_ = true;
        Rebase(pts, static_cast<double>(start_));
        lastExact_ = static_cast<double>(start_);
        last_ = start_;
        return last_;
    }
    const double predicted = lastExact_ + step_;
    const double target = Target(pts);
    double exact = predicted;
    if (std::fabs(target - predicted) > kOnTimeFraction * step_) {
        if (target > static_cast<double>(last_) && target - static_cast<double>(last_) <= kMaxGapTicks)
            exact = target;
        else  // timestamps that stand still, go back or leap: the caller's clock restarts here
            Rebase(pts, predicted);
    }
    int64_t ticks = std::llround(exact);
    if (ticks <= last_) {
        ticks = last_ + 1;
        exact = static_cast<double>(ticks);
    }
    lastExact_ = exact;
    last_ = ticks;
    return ticks;
}

bool FrameTimeline::FileTime(uint64_t pts, int64_t &microseconds) const
{
    if (framesLearned_ == 0)
        return false;
    const double target = Target(pts);
    if (std::fabs(target - static_cast<double>(stamped_ ? last_ : start_)) > kMaxGapTicks)
        return false;
    microseconds = std::llround(target / kTicksPerMicrosecond);
    return true;
}

}  // namespace recmux
