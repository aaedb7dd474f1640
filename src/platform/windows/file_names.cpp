#include "platform/windows/file_names.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <string>

#include "platform/text_codepage.h"

namespace recmux::platform {

// The wide name: the UTF-8 reading when the bytes are UTF-8, else the ANSI one.
std::wstring WideName(const char *path)
{
    std::wstring wide = Utf8ToWide(path);
    if (!wide.empty() || !path || !*path)
        return wide;
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    wide.assign(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
    if (length <= 0 || !MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length))
        return {};
    wide.pop_back();
    return wide;
}

HANDLE OpenByName(const char *path, DWORD access, DWORD disposition, DWORD flags)
{
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return INVALID_HANDLE_VALUE;
    return CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
}

bool MoveByName(const char *from, const char *to, DWORD flags)
{
    const std::wstring wide_from = WideName(from), wide_to = WideName(to);
    return !wide_from.empty() && !wide_to.empty() &&
           MoveFileExW(wide_from.c_str(), wide_to.c_str(), flags | MOVEFILE_WRITE_THROUGH);
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

int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

int DescriptorOf(HANDLE file, int flags)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
    if (fd < 0)
        CloseHandle(file);
    return fd;
}

}  // namespace recmux::platform
