#include "platform/ffmpeg_names.h"

namespace recmux::platform {

std::string FfmpegName(const char *path)
{
    return path;
}

std::filesystem::path StreamName(const char *path)
{
    return path;
}

}  // namespace recmux::platform
