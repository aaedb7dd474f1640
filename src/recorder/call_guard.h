#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace recmux {

// Serialises the operations of one recorder across threads. A call made from
// inside one of the recorder's own callbacks is refused instead of deadlocking.
class CallLock {
public:
    class Guard {
    public:
        explicit Guard(CallLock &lock) : lock_(lock)
        {
            if (lock_.owner_.load(std::memory_order_relaxed) == std::this_thread::get_id())
                return;
            lock_.mutex_.lock();
            lock_.owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
            held_ = true;
        }
        ~Guard()
        {
            if (!held_)
                return;
            lock_.owner_.store(std::thread::id(), std::memory_order_relaxed);
            lock_.mutex_.unlock();
        }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;

        explicit operator bool() const { return held_; }

    private:
        CallLock &lock_;
        bool held_ = false;
    };

private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
};

}  // namespace recmux
