#include "file_problems.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace recmux_tool {
namespace {

constexpr const char *kNotRegular = "not a regular file";
// Less room than this left after a failed write: the disk filled up.
constexpr uint64_t kNearlyFull = 1 << 20;

std::string FolderOf(const std::string &path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

// The reason a thing of this mode is not a regular file; empty for one.
std::string ModeReason(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    return S_ISDIR(mode) ? SystemReason(EISDIR) : kNotRegular;
}

}  // namespace

void ReportProblem(const std::string &path, const std::string &reason)
{
    std::fprintf(stderr, "recmux: %s: %s\n", path.c_str(), reason.c_str());
}

std::string SystemReason(int error)
{
    return std::strerror(error);
}

std::string UnreadableReason(const std::string &path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return SystemReason(errno);
    if (const std::string reason = ModeReason(info.st_mode); !reason.empty())
        return reason;
    return access(path.c_str(), R_OK) != 0 ? SystemReason(errno) : std::string();
}

std::string UnwritableReason(const std::string &path)
{
    const std::string folder = FolderOf(path);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0)
        return SystemReason(errno);
    if (!S_ISDIR(info.st_mode))
        return SystemReason(ENOTDIR);
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return SystemReason(errno);
    return stat(path.c_str(), &info) == 0 ? ModeReason(info.st_mode) : std::string();
}

std::string ObstacleReason(const std::string &path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return {};
    return S_ISLNK(info.st_mode) ? "a symbolic link" : ModeReason(info.st_mode);
}

bool DiskFull(const std::string &path)
{
    struct statvfs disk;
    if (statvfs(FolderOf(path).c_str(), &disk) != 0)
        return false;
    // The blocks kept back for root are root's to fill.
    const uint64_t blocks = geteuid() == 0 ? disk.f_bfree : disk.f_bavail;
    return blocks * disk.f_frsize < kNearlyFull;
}

bool LockedByRecorder(const std::string &working)
{
    const int fd = open(working.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

}  // namespace recmux_tool
