// Opening files so that neither a symlink nor a special file (FIFO, device,
// directory) planted under a recording's names can redirect or block us.
// FFmpeg 5.1 takes no descriptor, so it reopens ours by a name that stays the
// same file whatever its name has become since (/proc/self/fd on Linux, the
// final path of the handle on Windows).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace recmux::platform {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

void CloseDescriptor(int fd);

// One owner for a descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd, std::string name = {}) : fd_(fd), name_(std::move(name)) {}
    ~UniqueFd() { CloseDescriptor(fd_); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.fd_), name_(std::move(other.name_))
    {
        other.fd_ = -1;
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other) {
            CloseDescriptor(fd_);
            fd_ = other.fd_;
            name_ = std::move(other.name_);
            other.fd_ = -1;
        }
        return *this;
    }
    explicit operator bool() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    // The name FFmpeg opens this very file by.
    std::string Path() const;
    // The file was moved to name by us (Windows reopens a file by its name).
    void MovedTo(std::string name) { name_ = std::move(name); }

private:
    int fd_ = -1;
    std::string name_;
};

// One recorder per name: its working file is locked for as long as the
// descriptor is open, in this process or any other, and no longer than the
// process lives. The lock is advisory: readers still read the file.
enum class LockStatus { Locked, Busy, Absent, Failed };
// Creates path, failing when any file or symlink has the name. The file gets
// its name only once it is locked, so no other opener ever finds it unlocked.
UniqueFd CreateLocked(const char *path, FileIdentity &identity);
// Creates a new locked file under a name beside path that nothing else uses,
// given in name.
UniqueFd CreatePrivate(const char *path, std::string &name, FileIdentity &identity);
// Locks the regular file that path names itself (not through a symlink).
// Busy: another recorder holds it.
LockStatus LockExisting(const char *path, UniqueFd &locked);
// Opens the file of identity that path names itself for writing.
UniqueFd OpenToAppend(const char *path, const FileIdentity &identity);
// Cuts the file to size bytes, to be written on from there.
bool CutAt(int fd, uint64_t size);
// Writes all size bytes at the descriptor's position; false when the file
// system refuses any of them (errno tells why).
bool WriteAll(int fd, const uint8_t *data, size_t size);
// The file that path names itself; none when nothing has the name.
std::optional<FileIdentity> IdentityOf(const char *path);
// A regular file opened for reading without blocking on a FIFO; none for anything else.
UniqueFd OpenRegular(const char *path);
// Any file to read from start to end, a pipe too; errno tells why not.
UniqueFd OpenToRead(const char *path);
// Up to size bytes read at the descriptor's position: how many, 0 at the end,
// -1 when the read failed or a signal cut it short (errno tells which).
long ReadSome(int fd, uint8_t *data, size_t size);
// Whether a recorder, in this process or another, holds the lock on the
// regular file that path names.
bool HeldByRecorder(const char *path);
// Whether another process can take the name of a file that FFmpeg is writing.
// Not on Windows: FFmpeg's handle does not share deletion. There, opening the
// locked file by name for every frame would also cost Wine a descriptor each
// time, kept until the lock goes.
#ifdef _WIN32
constexpr bool kWrittenFilesCanLoseTheirNames = false;
#else
constexpr bool kWrittenFilesCanLoseTheirNames = true;
#endif
// Whether path names, itself and not through a symlink, the file of identity.
bool IsSameFile(const char *path, const FileIdentity &identity);
// Windows cannot move a file over one that is open: there the holder lets go
// of it just before (and of its lock); elsewhere it keeps both until the new
// file has the name.
void LetGoBeforeReplace(UniqueFd &held);
// Whether nothing has the name, or a regular file (through symlinks when follow).
bool AbsentOrRegular(const char *path, bool follow);

}  // namespace recmux::platform
