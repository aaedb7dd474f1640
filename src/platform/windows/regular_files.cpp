#include "platform/regular_files.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "platform/ffmpeg_names.h"
#include "platform/file_ops.h"
#include "platform/text_codepage.h"
#include "platform/windows/file_names.h"

namespace recmux::platform {
namespace {

constexpr int kCreateAttempts = 8;

// The lock is one byte far past any end a file reaches: no reader or writer
// ever meets it, and it goes with the handle, or with the process.
OVERLAPPED LockAt()
{
    OVERLAPPED at = {};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

bool LockRange(HANDLE file)
{
    OVERLAPPED at = LockAt();
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

std::string PrivateName(const char *path)
{
    static std::atomic<unsigned> count{0};
    return std::string(path) + "." + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(count++);
}

}  // namespace

void CloseDescriptor(int fd)
{
    if (fd >= 0)
        _close(fd);
}

// Windows has no name that always leads to an open file (Wine's final path
// of a handle is the one it was opened by): the name it was opened or moved by.
std::string UniqueFd::Path() const
{
    return FfmpegName(name_.c_str());
}

UniqueFd CreatePrivate(const char *path, std::string &name, FileIdentity &identity)
{
    for (int attempt = 0; attempt < kCreateAttempts; attempt++) {
        name = PrivateName(path);
        const HANDLE file = OpenByName(name.c_str(), GENERIC_READ | GENERIC_WRITE, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return {};
        }
        const std::optional<FileIdentity> created = IdentityOfHandle(file);
        if (!created || !LockRange(file)) {
            CloseHandle(file);
            SystemFileOps().delete_narrow(name.c_str());
            return {};
        }
        identity = *created;
        return UniqueFd(DescriptorOf(file, _O_RDWR), name);
    }
    return {};
}

LockStatus LockExisting(const char *path, UniqueFd &locked)
{
    HANDLE file = OpenNoFollow(path, GENERIC_READ | GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = OpenNoFollow(path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LockStatus::Absent
                                                                              : LockStatus::Failed;
    }
    const std::optional<FileIdentity> identity = IdentityOfHandle(file);
    LockStatus status = LockStatus::Failed;
    if (identity && IsRegular(file))
        status = LockRange(file) ? LockStatus::Locked
                 : GetLastError() == ERROR_LOCK_VIOLATION ? LockStatus::Busy
                                                          : LockStatus::Failed;
    // Locked too late: the name went to another file meanwhile.
    if (status == LockStatus::Locked && !IsSameFile(path, *identity))
        status = LockStatus::Failed;
    if (status != LockStatus::Locked) {
        CloseHandle(file);
        return status;
    }
    locked = UniqueFd(DescriptorOf(file, _O_RDWR), path);
    return locked ? LockStatus::Locked : LockStatus::Failed;
}

UniqueFd OpenToAppend(const char *path, const FileIdentity &identity)
{
    const HANDLE file = OpenNoFollow(path, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    if (!IsRegular(file) || IdentityOfHandle(file) != identity) {
        CloseHandle(file);
        return {};
    }
    return UniqueFd(DescriptorOf(file, _O_WRONLY), path);
}

bool CutAt(int fd, uint64_t size)
{
    const int64_t length = _filelengthi64(fd);
    return length >= 0 && size <= static_cast<uint64_t>(length) &&
           _chsize_s(fd, static_cast<int64_t>(size)) == 0 &&
           _lseeki64(fd, 0, SEEK_END) == static_cast<int64_t>(size);
}

bool WriteAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const unsigned chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
        const int put = _write(fd, data, chunk);
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

std::optional<FileIdentity> IdentityOf(const char *path)
{
    const HANDLE file = OpenNoFollow(path, FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const std::optional<FileIdentity> identity = IdentityOfHandle(file);
    CloseHandle(file);
    return identity;
}

UniqueFd OpenToRead(const char *path)
{
    const HANDLE file = OpenByName(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return {};
    }
    return UniqueFd(DescriptorOf(file, _O_RDONLY), path);
}

UniqueFd OpenRegular(const char *path)
{
    UniqueFd file = OpenToRead(path);
    if (file && !IsRegular(reinterpret_cast<HANDLE>(_get_osfhandle(file.Get()))))
        return {};
    return file;
}

long ReadSome(int fd, uint8_t *data, size_t size)
{
    return _read(fd, data, size > INT_MAX ? INT_MAX : static_cast<unsigned>(size));
}

bool HeldByRecorder(const char *path)
{
    const HANDLE file = OpenNoFollow(path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED at = LockAt();
    const bool held = !LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) &&
                      GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return held;
}

bool IsSameFile(const char *path, const FileIdentity &identity)
{
    const HANDLE file = OpenNoFollow(path, FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool same = IsRegular(file) && IdentityOfHandle(file) == identity;
    CloseHandle(file);
    return same;
}

void LetGoBeforeReplace(UniqueFd &held)
{
    held = UniqueFd();
}

bool AbsentOrRegular(const char *path, bool follow)
{
    const HANDLE file =
        follow ? OpenByName(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS) : OpenNoFollow(path, FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    const bool regular = IsRegular(file);
    CloseHandle(file);
    return regular;
}

}  // namespace recmux::platform
