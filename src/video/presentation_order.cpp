#include "video/presentation_order.h"

namespace recmux {
namespace {

// B-frames lie a few frame intervals behind the frame decoded before them; a
// step back of more is the camera's clock.
constexpr uint64_t kMaxReorderMicroseconds = 2000000;

}  // namespace

bool PresentationOrder::Reordered(uint64_t latest, uint64_t pts)
{
    return latest - pts <= kMaxReorderMicroseconds;
}

void PresentationOrder::Push(uint64_t pts)
{
    if (!Fits(pts) || pts > latest_)
        latest_ = pts;
    waiting_.push(pts);
}

bool PresentationOrder::Pop(uint64_t &pts, bool flush)
{
    if (waiting_.empty() || (!flush && waiting_.size() <= depth_))
        return false;
    pts = waiting_.top();
    waiting_.pop();
    return true;
}

void PresentationOrder::Clear()
{
    waiting_ = {};
}

}  // namespace recmux
