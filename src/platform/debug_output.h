#pragma once

namespace recmux::platform {

// One line for a developer watching the process; stderr here.
void DebugOutput(const char *text);

}  // namespace recmux::platform
