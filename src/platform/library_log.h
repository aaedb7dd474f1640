// The library's own log lines, and where they go: the host's callback when it
// set one, else the places a host without one has always found them.
#pragma once

#include <cstdint>

namespace recmux::platform {

using LogCallback = void (*)(void *user, int32_t level, const char *line);

// Level numbers as FFmpeg's: 16 error, 24 warning, 32 info, 48 debug.
constexpr int32_t kLogError = 16;
constexpr int32_t kLogWarning = 24;
constexpr int32_t kLogInfo = 32;
constexpr int32_t kLogDebug = 48;

// For the whole process; null restores the default.
void SetLogCallback(LogCallback callback, void *user, int32_t level);
// To the callback when it takes the level; without one, to the debugger channel.
void Log(int32_t level, const char *format, ...) __attribute__((format(printf, 2, 3)));
// A failure text that log watchers match word for word: without a callback it
// is printed to standard output, flushed.
void PrintLog(const char *format, ...) __attribute__((format(printf, 1, 2)));
// One line for a developer watching the process: the debugger channel on
// Windows; Linux has none, so it reaches only a callback at debug level.
void DebugOutput(const char *text);

}  // namespace recmux::platform
