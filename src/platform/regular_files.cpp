#include "platform/regular_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace recmux::platform {

UniqueFd::~UniqueFd()
{
    if (fd_ >= 0)
        close(fd_);
}

std::string UniqueFd::Path() const
{
    return "/proc/self/fd/" + std::to_string(fd_);
}

int CreateExclusive(const char *path, FileIdentity &identity)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return fd;
}

int OpenRegular(const char *path)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool IsSameFile(const char *path, const FileIdentity &identity)
{
    struct stat info;
    return lstat(path, &info) == 0 && S_ISREG(info.st_mode) &&
           static_cast<uint64_t>(info.st_dev) == identity.device &&
           static_cast<uint64_t>(info.st_ino) == identity.inode;
}

bool AbsentOrRegular(const char *path, bool follow)
{
    struct stat info;
    if ((follow ? stat(path, &info) : lstat(path, &info)) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

}  // namespace recmux::platform
