#include "video/decode_times.h"

#include <algorithm>
#include <cmath>

namespace recmux {

void DecodeTimes::Push(FrameTimeline &timeline, AVFrameInfo &&frame)
{
    // A clock that went back starts over: what waits is shown first.
    if (!order_.Fits(frame.pts))
        Stamp(timeline, true);
    order_.Push(frame.pts);
    held_.push_back(TimedFrame{std::move(frame)});
}

void DecodeTimes::StampAsDecoded(FrameTimeline &timeline, TimedFrame &frame)
{
    frame.pts = timeline.Stamp(frame.frame.pts);
    frame.dts = frame.pts;
    frame.duration = std::llround(timeline.StepTicks());
    frame.last = false;
    frame.latestShown = frame.pts;
    released_++;
}

void DecodeTimes::Stamp(FrameTimeline &timeline, bool flush)
{
    for (uint64_t pts = 0; order_.Pop(pts, flush);) {
        const int64_t ticks = timeline.Stamp(pts);
        const auto frame = std::find_if(held_.begin(), held_.end(), [pts](const TimedFrame &f) {
            return !f.stamped && f.frame.pts == pts;
        });
        if (frame != held_.end()) {
            frame->pts = ticks;
            frame->stamped = true;
        }
        shown_.push_back(ticks);
    }
}

bool DecodeTimes::Next(FrameTimeline &timeline, TimedFrame &out, bool flush)
{
    Stamp(timeline, flush);
    if (held_.empty() || !held_.front().stamped)
        return false;
    out = std::move(held_.front());
    held_.pop_front();
    // Before the first shown frame there is none to decode with: the first
    // frames are decoded one interval apart ahead of it.
    const uint64_t depth = order_.Depth();
    if (shown_.empty()) {
        out.dts = out.pts;
    } else if (released_ >= depth) {
        out.dts = shown_.front();
        shown_.pop_front();
    } else {
        out.dts = shown_.front() -
                  std::llround(static_cast<double>(depth - released_) * timeline.StepTicks());
    }
    // Only a stream that reorders deeper than it says could pass it.
    out.dts = std::min(out.dts, out.pts);
    out.duration = std::llround(timeline.StepTicks());
    out.last = flush && held_.empty();
    out.latestShown = shown_.empty() ? out.pts : std::max(out.pts, shown_.back());
    released_++;
    return true;
}

void DecodeTimes::Clear()
{
    held_.clear();
    order_.Clear();
    shown_.clear();
}

}  // namespace recmux
