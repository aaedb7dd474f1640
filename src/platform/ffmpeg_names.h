// A caller's path as the other libraries' file calls take it: FFmpeg reads
// names as UTF-8 on Windows, the C++ streams take a filesystem path. On Linux
// a name is its bytes.
#pragma once

#include <filesystem>
#include <string>

namespace recmux::platform {

std::string FfmpegName(const char *path);
std::filesystem::path StreamName(const char *path);

}  // namespace recmux::platform
