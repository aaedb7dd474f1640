#include "file_problems.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/regular_files.h"
#include "platform/system_checks.h"

namespace recmux_tool {
namespace {

namespace fs = std::filesystem;

constexpr const char *kNotRegular = "not a regular file";
// Less room than this left after a failed write: the disk filled up.
constexpr uint64_t kNearlyFull = 1 << 20;

std::string FolderOf(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

// The reason a thing of this type is not a regular file; empty for one.
std::string TypeReason(fs::file_type type)
{
    if (type == fs::file_type::regular)
        return {};
    return type == fs::file_type::directory ? SystemReason(EISDIR) : kNotRegular;
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
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error)
        return error.message();
    if (const std::string reason = TypeReason(status.type()); !reason.empty())
        return reason;
    // A regular file: opening it cannot block.
    return recmux::platform::OpenRegular(path.c_str()) ? std::string() : SystemReason(errno);
}

std::string UnwritableReason(const std::string &path)
{
    const std::string folder = FolderOf(path);
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (error)
        return error.message();
    if (!fs::is_directory(status))
        return SystemReason(ENOTDIR);
    if (const int denied = recmux::platform::FolderWriteError(folder.c_str()))
        return SystemReason(denied);
    const fs::file_status existing = fs::status(path, error);
    return error ? std::string() : TypeReason(existing.type());
}

std::string ObstacleReason(const std::string &path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error || !fs::exists(status))
        return {};
    return fs::is_symlink(status) ? "a symbolic link" : TypeReason(status.type());
}

bool DiskFull(const std::string &path)
{
    const std::optional<uint64_t> room = recmux::platform::RoomLeft(FolderOf(path).c_str());
    return room && *room < kNearlyFull;
}

}  // namespace recmux_tool
