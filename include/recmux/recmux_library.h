/*
 * The library as a whole: its version, and where its own log lines go.
 */
#ifndef RECMUX_LIBRARY_H
#define RECMUX_LIBRARY_H

#include <stdint.h>

#include "recmux_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The version these headers belong to; recmux_version() gives the one that
 * was loaded. */
#define RECMUX_VERSION_MAJOR 1
#define RECMUX_VERSION_MINOR 1
#define RECMUX_VERSION_PATCH 0

/* "MAJOR.MINOR.PATCH" of the loaded library; a static string. */
RECMUX_API const char *RECMUX_CDECL recmux_version(void);

/* Log levels, the same numbers as FFmpeg's AV_LOG_*: a line is passed on
 * when its level is at or below the level set. */
#define RECMUX_LOG_QUIET (-8)
#define RECMUX_LOG_ERROR 16   /* a recording failed, or lost what it cannot keep */
#define RECMUX_LOG_WARNING 24 /* something was kept aside or refused */
#define RECMUX_LOG_INFO 32    /* a recording's output was set up */
#define RECMUX_LOG_DEBUG 48   /* details of the video headers read */

/* Receives one line of the library's own log: level, and the text, newline
 * included, valid only during the call. C calling convention. It is called
 * on the thread of the library call that wrote the line (several threads at
 * once when recorders run on several), and may not call into the recorder or
 * reader whose call it runs in. */
typedef void (RECMUX_CDECL *recmux_log_callback)(void *user, int32_t level, const char *line);

/* Sends the library's own lines at or below level to log, for the whole
 * process; user is handed back untouched. NULL restores the default: the
 * three set-up failure texts printed to standard output, nothing else.
 * Lines already being passed to the previous callback may still reach it
 * after this returns. Returns 0. */
RECMUX_API int32_t RECMUX_CDECL recmux_set_log_callback(recmux_log_callback log, void *user,
                                                        int32_t level);

/* FFmpeg's log is the process's and the host's: the library never changes it
 * but here. This sets its level (av_log_set_level), which decides what
 * FFmpeg prints to standard error, including the description of each new
 * recording's output (at RECMUX_LOG_INFO) and the AAC encoder's statistics.
 * Returns 0. */
RECMUX_API int32_t RECMUX_CDECL recmux_set_ffmpeg_log_level(int32_t level);

#ifdef __cplusplus
}
#endif

#endif
