/*
 * Recorder: raw H.264/H.265 access units and voice frames in, MP4 out.
 *
 * Every function but the two opens takes the handle they return and gives
 * 0 on success, 1 on failure (a null handle included).  Calls on one handle
 * must not overlap; different handles are independent.
 */
#ifndef RECMUX_WRITER_H
#define RECMUX_WRITER_H

#include <stdint.h>

#include "recmux_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct recmux_writer recmux_writer;

/* Receives the MP4 byte stream of a callback recorder: returns the number of
 * bytes taken, or a negative error. Called from inside write and close. */
typedef int (*recmux_write_callback)(void *opaque, uint8_t *buf, int buf_size);

/* Set-up and progress messages; see the README for categories and values.
 * The result is ignored. */
typedef int (RECMUX_STDCALL *MsgNotifyCallback)(void *user, int32_t category, int32_t value);

/* path must end in ".mp4" (any case). The recording is written to path + ".tmp"
 * and moved to path at close; an existing recording at path is continued. A
 * recording that a crash left at path + ".tmp" is kept (continued, or moved
 * beside path); null when it can be moved nowhere. */
RECMUX_API recmux_writer *RECMUX_CDECL recmux_writer_open(const char *path);
/* Fragmented MP4 through write; the callback must not be null. */
RECMUX_API recmux_writer *RECMUX_CDECL recmux_writer_open_and_set_callback(
    void *opaque, recmux_write_callback write);

/* 0 while the recorder has an output. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_is_open(recmux_writer *writer);
/* 1 = fragmented MP4, anything else plain; must precede the first frames. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_set_file_type(recmux_writer *writer, int32_t type);
RECMUX_API int32_t RECMUX_CDECL recmux_writer_set_msg_notify(recmux_writer *writer, void *user,
                                                             MsgNotifyCallback notify);
/* codec: 0 or 264 H.264, 1, 265 or 256 H.265, 2 MPEG-4 Part 2. reserved is kept, unused. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_init_video(recmux_writer *writer, int32_t codec,
                                                         int32_t width, int32_t height,
                                                         int32_t reserved);
RECMUX_API int32_t RECMUX_CDECL recmux_writer_init_audio(recmux_writer *writer, int32_t audio_type,
                                                         int32_t channels, int32_t sample_rate,
                                                         int32_t bits_per_sample);
/* One Annex B access unit; pts in microseconds; key non-zero for a key frame.
 * 1 when the frame is refused: before a first key frame whose picture size can
 * be told; from a key frame of another codec than the recording's up to a key
 * frame of its own codec; always, once the recording can no longer be written. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_write_video(recmux_writer *writer, const uint8_t *data,
                                                          uint32_t size, uint64_t pts, int32_t key);
/* One or more voice frames of the type given to recmux_writer_init_audio;
 * 1 once the recording can no longer be written. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_write_audio(recmux_writer *writer, const uint8_t *data,
                                                          uint32_t size, uint64_t pts);
/* media_type 0: video (as write_video), 1: audio (as write_audio, key ignored). */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_write_frame(recmux_writer *writer, int32_t media_type,
                                                          const uint8_t *data, uint32_t size,
                                                          uint64_t pts, int32_t key);
/* Timestamp of the first accepted key frame / of the last video frame written;
 * 1 (and *pts untouched) while there is none. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_get_begin_pts(recmux_writer *writer, uint64_t *pts);
RECMUX_API int32_t RECMUX_CDECL recmux_writer_get_end_pts(recmux_writer *writer, uint64_t *pts);
/* Finishes the recording, destroys the recorder and nulls *writer. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_close(recmux_writer **writer);

#ifdef __cplusplus
}
#endif

#endif
