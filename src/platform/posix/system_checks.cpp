#include "platform/system_checks.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace recmux::platform {

int ProcessId()
{
    return static_cast<int>(getpid());
}

bool ErrorsGoToTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

int FolderWriteError(const char *folder)
{
    return access(folder, W_OK | X_OK) == 0 ? 0 : errno;
}

std::optional<uint64_t> RoomLeft(const char *folder)
{
    struct statvfs disk;
    if (statvfs(folder, &disk) != 0)
        return std::nullopt;
    // The blocks kept back for root are root's to fill.
    const uint64_t blocks = geteuid() == 0 ? disk.f_bfree : disk.f_bavail;
    return blocks * disk.f_frsize;
}

}  // namespace recmux::platform
