#include "platform/debug_output.h"

#include <cstdarg>
#include <cstdio>

namespace recmux::platform {

void DebugOutput(const char *text)
{
    std::fputs(text, stderr);
}

void PrintLog(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace recmux::platform
