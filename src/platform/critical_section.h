#pragma once

#include <mutex>

namespace recmux::platform {

// A lock held only around short queue operations; usable with std::lock_guard.
class CriticalSection {
public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

}  // namespace recmux::platform
