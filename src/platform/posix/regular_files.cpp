#include "platform/regular_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/file_ops.h"

namespace recmux::platform {
namespace {

// Name and lock a new file a few times before giving up on a name held by
// leftovers of a crashed process.
constexpr int kCreateAttempts = 8;

FileIdentity Identity(const struct stat &info)
{
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// A name beside path that no other opener uses: this process and a count.
std::string PrivateName(const char *path)
{
    static std::atomic<unsigned> count{0};
    return std::string(path) + "." + std::to_string(getpid()) + "-" + std::to_string(count++);
}

}  // namespace

void CloseDescriptor(int fd)
{
    if (fd >= 0)
        close(fd);
}

std::string UniqueFd::Path() const
{
    return "/proc/self/fd/" + std::to_string(fd_);
}

UniqueFd CreatePrivate(const char *path, std::string &name, FileIdentity &identity)
{
    for (int attempt = 0; attempt < kCreateAttempts; attempt++) {
        name = PrivateName(path);
        UniqueFd file(open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!file) {
            if (errno == EEXIST)
                continue;
            return {};
        }
        struct stat info;
        if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0 || fstat(file.Get(), &info) != 0) {
            unlink(name.c_str());
            return {};
        }
        identity = Identity(info);
        return file;
    }
    return {};
}

LockStatus LockExisting(const char *path, UniqueFd &locked)
{
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd file(open(path, O_RDWR | kFlags));
    if (!file && errno == EACCES)
        file = UniqueFd(open(path, O_RDONLY | kFlags));
    if (!file)
        return errno == ENOENT ? LockStatus::Absent : LockStatus::Failed;
    struct stat info;
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return LockStatus::Failed;
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? LockStatus::Busy : LockStatus::Failed;
    // Locked too late: the name went to another file meanwhile.
    if (!IsSameFile(path, Identity(info)))
        return LockStatus::Failed;
    locked = std::move(file);
    return LockStatus::Locked;
}

UniqueFd OpenToAppend(const char *path, const FileIdentity &identity)
{
    UniqueFd file(open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (!file || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    if (Identity(info) != identity)
        return {};
    return file;
}

bool CutAt(int fd, uint64_t size)
{
    struct stat info;
    return fstat(fd, &info) == 0 && size <= static_cast<uint64_t>(info.st_size) &&
           ftruncate(fd, static_cast<off_t>(size)) == 0 &&
           lseek(fd, 0, SEEK_END) == static_cast<off_t>(size);
}

bool WriteAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

std::optional<FileIdentity> IdentityOf(const char *path)
{
    struct stat info;
    if (lstat(path, &info) != 0)
        return std::nullopt;
    return Identity(info);
}

UniqueFd OpenRegular(const char *path)
{
    UniqueFd file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (file && fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode))
        return file;
    return {};
}

UniqueFd OpenToRead(const char *path)
{
    return UniqueFd(open(path, O_RDONLY | O_CLOEXEC));
}

long ReadSome(int fd, uint8_t *data, size_t size)
{
    return read(fd, data, size);
}

bool HeldByRecorder(const char *path)
{
    const UniqueFd file(open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    return file && flock(file.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

bool IsSameFile(const char *path, const FileIdentity &identity)
{
    struct stat info;
    if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return Identity(info) == identity;
}

void LetGoBeforeReplace(UniqueFd &)
{
}

bool AbsentOrRegular(const char *path, bool follow)
{
    struct stat info;
    if ((follow ? stat(path, &info) : lstat(path, &info)) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

}  // namespace recmux::platform
