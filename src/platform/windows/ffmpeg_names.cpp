#include "platform/ffmpeg_names.h"

#include "platform/text_codepage.h"
#include "platform/windows/file_names.h"

namespace recmux::platform {

std::string FfmpegName(const char *path)
{
    const std::wstring wide = WideName(path);
    const size_t bytes = WideToUtf8(wide.c_str(), nullptr, 0);
    std::string utf8(bytes, '\0');
    if (wide.empty() || bytes == 0 || WideToUtf8(wide.c_str(), utf8.data(), bytes) != bytes)
        return {};
    utf8.pop_back();
    return utf8;
}

std::filesystem::path StreamName(const char *path)
{
    return WideName(path);
}

}  // namespace recmux::platform
