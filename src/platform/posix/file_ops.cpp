#include "platform/file_ops.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/text_codepage.h"

namespace recmux::platform {
namespace {

// Wide paths reach the file system as UTF-8, as Linux paths are bytes.
bool NarrowPath(const wchar_t *path, std::string &out)
{
    const size_t n = WideToUtf8(path, nullptr, 0);
    if (n == 0)
        return false;
    try {
        out.resize(n);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (WideToUtf8(path, out.data(), n) != n)
        return false;
    out.pop_back();
    return !out.empty();
}

bool DeleteNarrow(const char *path)
{
    return unlink(path) == 0;
}

bool DeleteWide(const wchar_t *path)
{
    std::string narrow;
    return NarrowPath(path, narrow) && DeleteNarrow(narrow.c_str());
}

int RenameNarrow(const char *from, const char *to)
{
    return std::rename(from, to);
}

int RenameWide(const wchar_t *from, const wchar_t *to)
{
    std::string narrow_from, narrow_to;
    if (!NarrowPath(from, narrow_from) || !NarrowPath(to, narrow_to))
        return -1;
    return RenameNarrow(narrow_from.c_str(), narrow_to.c_str());
}

bool MoveKeepTarget(const char *from, const char *to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without RENAME_NOREPLACE: link() refuses an existing target too.
    if (link(from, to) != 0)
        return false;
    unlink(from);
    return true;
}

bool CopyAll(int in, int out)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno != EINTR)
                return false;
            done += put > 0 ? put : 0;
        }
    }
}

// The copy goes to a new file that then replaces the target in one rename:
// the old file is whole until then, and a symlink at either name is never followed.
bool CopyReplace(const char *from, const char *to)
{
    const int in = open(from, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return false;
    const std::string copy = std::string(to) + ".copy";
    const int out = open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool ok = out >= 0 && CopyAll(in, out) && fsync(out) == 0;
    if (out >= 0 && close(out) != 0)
        ok = false;
    close(in);
    if (out >= 0 && !(ok && std::rename(copy.c_str(), to) == 0)) {
        unlink(copy.c_str());
        ok = false;
    }
    return ok;
}

// A file system that keeps nothing to sync says EINVAL: there is nothing to lose.
bool SyncFile(int fd)
{
    return fsync(fd) == 0 || errno == EINVAL;
}

bool SyncFolder(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    const std::string folder = !slash ? "." : slash == path ? "/" : std::string(path, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

const FileOps &SystemFileOps()
{
    static const FileOps ops = {
        DeleteNarrow, DeleteWide,     RenameNarrow, RenameWide,
        MoveKeepTarget, CopyReplace,  SyncFile,     SyncFolder,
    };
    return ops;
}

}  // namespace recmux::platform
