#include "platform/library_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace recmux::platform {
namespace {

struct LogSink {
    LogCallback callback = nullptr;
    void *user = nullptr;
    int32_t level = kLogError;
};

// Read on every line from any recorder's thread; set rarely.
std::mutex sinkLock;
LogSink sink;

LogSink CurrentSink()
{
    std::lock_guard<std::mutex> guard(sinkLock);
    return sink;
}

// False when no callback takes lines of this level.
bool Pass(const LogSink &to, int32_t level, const char *format, va_list args)
{
    if (!to.callback || level > to.level)
        return to.callback != nullptr;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    to.callback(to.user, level, line);
    return true;
}

}  // namespace

void SetLogCallback(LogCallback callback, void *user, int32_t level)
{
    std::lock_guard<std::mutex> guard(sinkLock);
    sink = LogSink{callback, user, callback ? level : kLogError};
}

void Log(int32_t level, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Pass(CurrentSink(), level, format, args);
    va_end(args);
}

void PrintLog(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const bool taken = Pass(CurrentSink(), kLogError, format, args);
    va_end(args);
    if (taken)
        return;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void DebugOutput(const char *text)
{
    Log(kLogDebug, "%s\n", text);
}

}  // namespace recmux::platform
