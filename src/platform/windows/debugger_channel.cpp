#include "platform/debugger_channel.h"

#include <windows.h>

namespace recmux::platform {

void DebuggerChannel(const char *line)
{
    OutputDebugStringA(line);
}

}  // namespace recmux::platform
