// Restoring the order in which frames are shown from the order they are decoded in.
#pragma once

#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

namespace recmux {

// Frames come in decode order, and a decoder holds back at most depth of them
// before it shows one: once more than depth wait, the earliest is shown next.
class PresentationOrder {
public:
    void SetDepth(uint32_t depth) { depth_ = depth; }
    uint32_t Depth() const { return depth_; }
    // False when pts lies too far behind the latest to be a reordered frame:
    // the camera's clock went back, and the frames waiting are shown first.
    bool Fits(uint64_t pts) const { return pts >= latest_ || Reordered(latest_, pts); }
    // Whether pts, behind latest, lies close enough behind to be a reordered frame.
    static bool Reordered(uint64_t latest, uint64_t pts);
    void Push(uint64_t pts);
    // The next timestamp to be shown, once nothing still to come can precede
    // it; with flush, every one left.
    bool Pop(uint64_t &pts, bool flush);
    void Clear();

private:
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> waiting_;
    uint64_t latest_ = 0;
    uint32_t depth_ = 0;
};

}  // namespace recmux
