#include "platform/windows/file_names.h"

#include <fcntl.h>
#include <io.h>

#include <string>

#include "platform/text_codepage.h"

namespace recmux::platform {

HANDLE OpenByName(const char *path, DWORD access, DWORD disposition, DWORD flags)
{
    const std::wstring wide = Utf8ToWide(path);
    if (!wide.empty())
        return CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
    return CreateFileA(path, access, kShareAll, nullptr, disposition, flags, nullptr);
}

bool MoveByName(const char *from, const char *to, DWORD flags)
{
    const std::wstring wide_from = Utf8ToWide(from), wide_to = Utf8ToWide(to);
    if (!wide_from.empty() && !wide_to.empty())
        return MoveFileExW(wide_from.c_str(), wide_to.c_str(), flags | MOVEFILE_WRITE_THROUGH);
    return MoveFileExA(from, to, flags | MOVEFILE_WRITE_THROUGH);
}

HANDLE OpenNoFollow(const char *path, DWORD access)
{
    return OpenByName(path, access, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

bool IsRegular(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

int DescriptorOf(HANDLE file, int flags)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
    if (fd < 0)
        CloseHandle(file);
    return fd;
}

}  // namespace recmux::platform
