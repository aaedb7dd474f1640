#include "progress.h"

#include <algorithm>
#include <cstdio>

#include "platform/system_checks.h"

namespace recmux_tool {
namespace {

constexpr std::chrono::milliseconds kRedraw{250};

}  // namespace

Progress::Progress(std::string job)
    : job_(std::move(job)), terminal_(recmux::platform::ErrorsGoToTerminal()),
      next_(std::chrono::steady_clock::now())
{
}

Progress::~Progress()
{
    Clear();
}

void Progress::Clear()
{
    if (drawn_)
        std::fputs("\r\033[K", stderr);
    drawn_ = false;
}

void Progress::Show(double fraction, const std::string &detail)
{
    const auto now = std::chrono::steady_clock::now();
    if (!terminal_ || now < next_)
        return;
    next_ = now + kRedraw;
    if (fraction >= 0)
        std::fprintf(stderr, "\r\033[Krecmux: %s %3d%%, %s", job_.c_str(),
                     static_cast<int>(std::min(fraction, 1.0) * 100), detail.c_str());
    else
        std::fprintf(stderr, "\r\033[Krecmux: %s, %s", job_.c_str(), detail.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace recmux_tool
