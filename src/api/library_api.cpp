// The exports that concern the library as a whole: its version and its log.
#include "platform/library_log.h"
#include <recmux/recmux_library.h>

extern "C" {
#include <libavutil/log.h>
}

#define RECMUX_TEXT(x) #x
#define RECMUX_VERSION_TEXT(major, minor, patch) \
    RECMUX_TEXT(major) "." RECMUX_TEXT(minor) "." RECMUX_TEXT(patch)

extern "C" {

RECMUX_API const char *recmux_version(void)
{
    return RECMUX_VERSION_TEXT(RECMUX_VERSION_MAJOR, RECMUX_VERSION_MINOR, RECMUX_VERSION_PATCH);
}

RECMUX_API int32_t recmux_set_log_callback(recmux_log_callback log, void *user, int32_t level)
{
    recmux::platform::SetLogCallback(log, user, level);
    return 0;
}

RECMUX_API int32_t recmux_set_ffmpeg_log_level(int32_t level)
{
    av_log_set_level(level);
    return 0;
}
}
