#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/critical_section.h"

namespace recmux {

// A frame as the caller gave it, waiting to be written: video, or a buffer of device sound.
struct AVFrameInfo {
    int32_t isKey = 0;
    uint64_t pts = 0;
    std::vector<uint8_t> data;
};

// Frames in arrival order. The lock is held only inside each call, never across
// decoding or writing, so a producer is never blocked by the muxer.
template <typename Record>
class TConQue {
public:
    virtual ~TConQue() = default;

    void Push(Record &&record)
    {
        std::lock_guard<platform::CriticalSection> hold(lock_);
        records_.push_back(std::move(record));
    }

    bool Pop(Record &out)
    {
        std::lock_guard<platform::CriticalSection> hold(lock_);
        if (records_.empty())
            return false;
        out = std::move(records_.front());
        records_.pop_front();
        return true;
    }

    uint32_t Size()
    {
        std::lock_guard<platform::CriticalSection> hold(lock_);
        return static_cast<uint32_t>(records_.size());
    }

private:
    std::deque<Record> records_;
    platform::CriticalSection lock_;
};

}  // namespace recmux
