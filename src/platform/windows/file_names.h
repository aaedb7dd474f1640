// How a narrow path reaches the Windows file calls: read as UTF-8 when its
// bytes are UTF-8, else in the ANSI code page, as the caller may give either.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/regular_files.h"

namespace recmux::platform {

// Readers, writers and renames all pass: the lock between recorders is a byte
// range, not the share mode.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The UTF-8 reading when the bytes are UTF-8, else the ANSI one; empty when neither.
std::wstring WideName(const char *path);

HANDLE OpenByName(const char *path, DWORD access, DWORD disposition, DWORD flags);
bool MoveByName(const char *from, const char *to, DWORD flags);

// The file itself, not what a reparse point (a symlink) leads to.
HANDLE OpenNoFollow(const char *path, DWORD access);
std::optional<FileIdentity> IdentityOfHandle(HANDLE file);
// A file on a disk: not a folder, a reparse point, a pipe or a device.
bool IsRegular(HANDLE file);
// The errno value closest to a Windows error.
int ErrnoOf(DWORD error);
// A descriptor that owns the handle; -1 (the handle closed) on failure.
int DescriptorOf(HANDLE file, int flags);

}  // namespace recmux::platform
