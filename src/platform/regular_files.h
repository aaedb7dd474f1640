// Opening files so that neither a symlink nor a special file (FIFO, device,
// directory) planted under a recording's names can redirect or block us.
// FFmpeg 5.1 takes no descriptor by name, so it reopens ours through
// /proc/self/fd: the same file, whatever its name has become since.
#pragma once

#include <cstdint>
#include <string>

namespace recmux::platform {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
};

// One owner for a descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    explicit operator bool() const { return fd_ >= 0; }
    // The name FFmpeg opens this very file by.
    std::string Path() const;

private:
    int fd_;
};

// Creates path for writing, failing when any file or symlink has the name.
int CreateExclusive(const char *path, FileIdentity &identity);
// A regular file opened for reading without blocking on a FIFO; -1 for anything else.
int OpenRegular(const char *path);
// Whether path names, itself and not through a symlink, the file of identity.
bool IsSameFile(const char *path, const FileIdentity &identity);
// Whether nothing has the name, or a regular file (through symlinks when follow).
bool AbsentOrRegular(const char *path, bool follow);

}  // namespace recmux::platform
