// Progress of a long job on stderr, shown only when stderr is a terminal, so
// that scripts and logs never see it.
#pragma once

#include <chrono>
#include <string>

namespace recmux_tool {

class Progress {
public:
    explicit Progress(std::string job);
    // Clears the line it drew.
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // fraction 0..1, or negative when the end is unknown; redrawn a few times a second.
    void Show(double fraction, const std::string &detail);

private:
    // Clears the line, so that what is printed next starts on a clean one.
    void Clear();

    std::string job_;
    bool terminal_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point next_;
};

}  // namespace recmux_tool
