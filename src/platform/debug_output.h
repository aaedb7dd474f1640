#pragma once

namespace recmux::platform {

// One line for a developer watching the process; stderr here.
void DebugOutput(const char *text);
// printf to standard output, flushed: the recorder's few failure texts go there.
void PrintLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace recmux::platform
