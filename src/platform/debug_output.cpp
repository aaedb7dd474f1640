#include "platform/debug_output.h"

#include <cstdio>

namespace recmux::platform {

void DebugOutput(const char *text)
{
    std::fputs(text, stderr);
}

}  // namespace recmux::platform
