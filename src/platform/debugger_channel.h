// Where a log line goes when the host set no callback: the debugger channel
// on Windows; Linux has none, and the host's terminal is not the library's.
#pragma once

namespace recmux::platform {

void DebuggerChannel(const char *line);

}  // namespace recmux::platform
