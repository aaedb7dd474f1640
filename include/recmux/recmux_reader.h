/*
 * Reader: an MP4 file back as elementary frames, video in Annex B form
 * (start codes, parameter sets before key frames), audio as stored.
 *
 * Results: every function but the open returns 0 on success and 1 on
 * failure; a null handle or a null out-pointer is a failure.
 *
 * Threads: a reader has no lock. It must not be used from two threads at the
 * same time; different readers are independent.
 */
#ifndef RECMUX_READER_H
#define RECMUX_READER_H

#include <stdint.h>

#include "recmux_export.h"
#include "recmux_library.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct recmux_reader recmux_reader;

/* Media types of recmux_reader_read_frame. */
#define RECMUX_MEDIA_VIDEO 0
#define RECMUX_MEDIA_AUDIO 1

/* Opens path (its bytes are the name) for reading. Returns a new reader, or
 * NULL unless it is a regular file (a FIFO, device or directory is refused at
 * once), read as MP4 only, whose first video stream is H.264, H.265 or
 * MPEG-4 Part 2, whose movie timescale lies in 1..INT32_MAX (FFmpeg reads
 * any other as 1, which would make every time in it wrong), and whose boxes
 * declare no more samples than the file has bytes. */
RECMUX_API recmux_reader *RECMUX_CDECL recmux_reader_open(const char *path);

/* 0 while a file is open, which is from open to close. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_is_open(recmux_reader *reader);

/* *fps = frame rate of the first video stream; 1 when the file gives none. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_get_fps(recmux_reader *reader, double *fps);

/* *ms = duration of the recording in milliseconds, at most INT32_MAX (24.8
 * days) however long the file says it is; 1 when it is unknown. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_get_duration(recmux_reader *reader, int32_t *ms);

/* Copies the next packet into buffer, which belongs to the caller.
 *
 * *size is the capacity of buffer on entry (a NULL buffer counts as 0) and
 * the packet's size on return. *media_type is RECMUX_MEDIA_VIDEO for the
 * first video stream (Annex B, or MPEG-4 with its VOL header) or
 * RECMUX_MEDIA_AUDIO (as stored); *key_flag is 1 for a key frame and for every
 * audio packet. pts is never written and may be NULL.
 *
 * Returns 0 with the packet copied. Returns 1 with *size above the capacity
 * when the packet did not fit: it is consumed and lost, so start with a
 * generous buffer. Returns 1 with *size unchanged at the end of the file, on
 * a read error, and for a packet that carries nothing to return (another
 * track): reading on is fine, and only the end goes on failing. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_read_frame(recmux_reader *reader, uint8_t *buffer,
                                                         int32_t *size, int64_t *pts,
                                                         int32_t *media_type, int32_t *key_flag);

/* Closes the file, destroys the reader and sets *reader to NULL. Returns 1,
 * destroying nothing, when reader or *reader is NULL. */
RECMUX_API int32_t RECMUX_CDECL recmux_reader_close(recmux_reader **reader);

#ifdef __cplusplus
}
#endif

#endif
