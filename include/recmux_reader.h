/*
 * Reader: an MP4 file back as elementary frames, video in Annex B form
 * (start codes, parameter sets before key frames), audio as stored.
 *
 * Every function but the open takes the handle it returns and gives 0 on
 * success, 1 on failure (a null handle or a null out-pointer included).
 * Calls on one handle must not overlap; different handles are independent.
 */
#ifndef RECMUX_READER_H
#define RECMUX_READER_H

#include <stdint.h>

#include "recmux_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct recmux_reader recmux_reader;

/* Null unless the file is an MP4 whose first video stream is H.264, H.265 or
 * MPEG-4 Part 2. */
RECMUX_API recmux_reader *RECMUX_CDECL recmux_reader_open(const char *path);
/* 0 while a file is open. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_is_open(recmux_reader *reader);
/* Frame rate of the first video stream. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_get_fps(recmux_reader *reader, double *fps);
/* Duration of the recording in milliseconds. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_get_duration(recmux_reader *reader, int32_t *ms);
/* The next packet: *size is the capacity of buffer (null counts as 0) on entry
 * and the packet's size on return. A packet larger than the capacity is
 * consumed and lost: the call gives 1 with *size above the capacity. 1 with
 * *size unchanged: end of file, an error, or a packet that carries nothing to
 * return. media_type 0 video, 1 audio; key_flag 1 for a key frame and for
 * every audio packet. pts is never written and may be null. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_read_frame(recmux_reader *reader, uint8_t *buffer,
                                                         int32_t *size, int64_t *pts,
                                                         int32_t *media_type, int32_t *key_flag);
/* Closes the file, destroys the reader and nulls *reader. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_close(recmux_reader **reader);

#ifdef __cplusplus
}
#endif

#endif
