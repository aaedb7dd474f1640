#include "platform/debugger_channel.h"

namespace recmux::platform {

void DebuggerChannel(const char *)
{
}

}  // namespace recmux::platform
