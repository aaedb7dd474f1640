// Why a file cannot be read or written, in the system's words, and the one
// line that says so.
#pragma once

#include <string>

namespace recmux_tool {

// "recmux: path: reason" on stderr.
void ReportProblem(const std::string &path, const std::string &reason);

// The system's text for an errno value, e.g. "No such file or directory".
std::string SystemReason(int error);

// Why path cannot be read as a regular file; empty when it can. Never opens
// it, so never a pipe someone is about to write into.
std::string UnreadableReason(const std::string &path);

// Why a file cannot be made at path: its folder is missing or closed to us, or
// path is a folder or some other thing than a file; empty when it can.
std::string UnwritableReason(const std::string &path);

// What is at path, not followed if a symbolic link, when it is something else
// than a regular file; empty when nothing or a regular file is there.
std::string ObstacleReason(const std::string &path);

// Whether the disk that holds path has next to no room left, as after a write
// that failed for want of it.
bool DiskFull(const std::string &path);

}  // namespace recmux_tool
