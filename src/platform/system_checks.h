// What the recmux tool asks of the system beyond the recording's own files.
#pragma once

#include <cstdint>
#include <optional>

namespace recmux::platform {

int ProcessId();
// Whether standard error is a terminal that a progress line may redraw.
bool ErrorsGoToTerminal();
// 0 when this process may make files in folder, else an errno value.
int FolderWriteError(const char *folder);
// The bytes this process may still write on the disk that holds folder.
std::optional<uint64_t> RoomLeft(const char *folder);

}  // namespace recmux::platform
