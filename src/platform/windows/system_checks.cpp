#include "platform/system_checks.h"

#include <windows.h>

#include "platform/windows/file_names.h"

namespace recmux::platform {

int ProcessId()
{
    return static_cast<int>(GetCurrentProcessId());
}

// The line is redrawn with escape sequences, which a console takes once asked to.
bool ErrorsGoToTerminal()
{
    const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    return GetConsoleMode(errors, &mode) &&
           SetConsoleMode(errors, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// The folder's access list is the file system's to judge: a file that cannot
// be made there says why when it is made.
int FolderWriteError(const char *)
{
    return 0;
}

std::optional<uint64_t> RoomLeft(const char *folder)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(WideName(folder).c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return available.QuadPart;
}

}  // namespace recmux::platform
