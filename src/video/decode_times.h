// Frames leave in decode order with their presentation and decode times.
#pragma once

#include <cstdint>
#include <deque>

#include "platform/TConQue.h"
#include "video/frame_timeline.h"
#include "video/presentation_order.h"

namespace recmux {

struct TimedFrame {
    AVFrameInfo frame;
    // On the file's clock; dts never passes pts and grows from frame to frame.
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t duration = 0;
    // The end of the stream: nothing is decoded after it, and the latest
    // presentation time before it is latestShown.
    bool last = false;
    int64_t latestShown = 0;
    bool stamped = false;
};

// The timeline stamps frames in the order they are shown, so jitter correction
// sees a steady stream; each frame is decoded when the frame depth places
// earlier in presentation order is shown, so decode times grow and never pass
// presentation times. With depth 0 a frame leaves as it comes, dts = pts.
class DecodeTimes {
public:
    void SetDepth(uint32_t depth) { order_.SetDepth(depth); }
    void Push(FrameTimeline &timeline, AVFrameInfo &&frame);
    // The first frame in decode order once its times are known; flush stamps
    // every frame held.
    bool Next(FrameTimeline &timeline, TimedFrame &out, bool flush);
    uint32_t Held() const { return static_cast<uint32_t>(held_.size()); }
    // A stream shown as decoded needs nothing held: each frame is stamped as
    // it comes, with frame.frame filled in.
    bool ShownAsDecoded() const { return order_.Depth() == 0 && held_.empty(); }
    void StampAsDecoded(FrameTimeline &timeline, TimedFrame &frame);
    void Clear();

private:
    void Stamp(FrameTimeline &timeline, bool flush);

    std::deque<TimedFrame> held_;
    PresentationOrder order_;
    // Presentation times from the one that dates the next frame to leave.
    std::deque<int64_t> shown_;
    uint64_t released_ = 0;
};

}  // namespace recmux
