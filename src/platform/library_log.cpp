#include "platform/library_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/debugger_channel.h"

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

}  // namespace

void SetLogCallback(LogCallback callback, void *user, int32_t level)
{
    std::lock_guard<std::mutex> guard(sinkLock);
    sink = LogSink{callback, user, callback ? level : kLogError};
}

void Log(int32_t level, const char *format, ...)
{
    const LogSink to = CurrentSink();
    if (to.callback && level > to.level)
        return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (to.callback)
        to.callback(to.user, level, line);
    else
        DebuggerChannel(line);
}

void PrintLog(const char *format, ...)
{
    const LogSink to = CurrentSink();
    va_list args;
    va_start(args, format);
    if (to.callback) {
        char line[1024];
        std::vsnprintf(line, sizeof line, format, args);
        to.callback(to.user, kLogError, line);
    } else {
        std::vprintf(format, args);
        std::fflush(stdout);
    }
    va_end(args);
}

void DebugOutput(const char *text)
{
    Log(kLogDebug, "%s\n", text);
}

}  // namespace recmux::platform
