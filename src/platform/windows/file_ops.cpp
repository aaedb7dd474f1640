#include "platform/file_ops.h"

#include <io.h>

#include <string>

#include "platform/windows/file_names.h"

namespace recmux::platform {
namespace {

bool DeleteNarrow(const char *path)
{
    return DeleteFileA(path);
}

bool DeleteWide(const wchar_t *path)
{
    return DeleteFileW(path);
}

// Replaces the target in one step, as rename() does on Linux.
int RenameNarrow(const char *from, const char *to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

int RenameWide(const wchar_t *from, const wchar_t *to)
{
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

bool MoveKeepTarget(const char *from, const char *to)
{
    return MoveByName(from, to, 0);
}

// The copy goes to a new file that then replaces the target in one move: the
// old file is whole until then.
bool CopyReplace(const char *from, const char *to)
{
    const std::string copy = std::string(to) + ".copy";
    const std::wstring wide_from = WideName(from), wide_copy = WideName(copy.c_str());
    const bool copied = !wide_from.empty() && !wide_copy.empty() &&
                        CopyFileW(wide_from.c_str(), wide_copy.c_str(), TRUE);
    if (copied && MoveByName(copy.c_str(), to, MOVEFILE_REPLACE_EXISTING))
        return true;
    if (copied)
        DeleteNarrow(copy.c_str());
    return false;
}

bool SyncFile(int fd)
{
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

// Windows gives no handle on a folder to flush; its moves are written through.
bool SyncFolder(const char *)
{
    return true;
}

}  // namespace

const FileOps &SystemFileOps()
{
    static const FileOps ops = {
        DeleteNarrow,   DeleteWide,  RenameNarrow, RenameWide,
        MoveKeepTarget, CopyReplace, SyncFile,     SyncFolder,
    };
    return ops;
}

}  // namespace recmux::platform
