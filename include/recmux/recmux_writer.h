/*
 * Recorder: H.264/H.265 (or MPEG-4 Part 2) access units in Annex B form and
 * device voice frames in, MP4 out, to a file or through a write callback.
 *
 * Results: every function but the two opens returns 0 on success and 1 on
 * failure; a null handle is a failure.
 *
 * Threads: all calls on one recorder are serialised by a lock inside it, so
 * they may come from several threads; different recorders are independent.
 * recmux_writer_close must be the last call on a handle: no other thread may
 * still be using it, or be about to.
 *
 * Callbacks: the write callback and the message callback run synchronously,
 * on the thread of the recorder call that caused them, while that call holds
 * the recorder's lock. A callback may not call into the same recorder: such a
 * call fails with 1 instead of deadlocking (closing it from there fails too,
 * and leaves it open). Nor may it wait for another thread that calls into this
 * recorder: that thread waits for the lock the callback's caller holds. The
 * `opaque` and `user` values are handed back untouched; the library never
 * frees them.
 */
#ifndef RECMUX_WRITER_H
#define RECMUX_WRITER_H

#include <stdint.h>

#include "recmux_export.h"
#include "recmux_library.h"
#include "zk_voice.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct recmux_writer recmux_writer;

/* File types for recmux_writer_set_file_type. */
#define RECMUX_FILE_PLAIN 0
#define RECMUX_FILE_FRAGMENTED 1

/* Video codec values for recmux_writer_init_video; the _ALT values are taken
 * as the one before them. */
#define RECMUX_VIDEO_H264 0
#define RECMUX_VIDEO_H264_ALT 264
#define RECMUX_VIDEO_H265 1
#define RECMUX_VIDEO_H265_ALT 265
#define RECMUX_VIDEO_H265_ALT2 256
#define RECMUX_VIDEO_MPEG4 2

/* Audio type codes for recmux_writer_init_audio: how device audio is coded.
 * Every code is decoded with one voice codec (zk_voice.h), shown on its right;
 * recmux_audio_voice_codec() gives it. G.726 codes are packed into each byte
 * from the least or from the most significant bit (MSB). */
#define RECMUX_AUDIO_G726_40 0         /* ZK_VOICE_G726_40 */
#define RECMUX_AUDIO_G726_40_ALT 1     /* ZK_VOICE_G726_40, as 0 */
#define RECMUX_AUDIO_IMA_ADPCM 2       /* ZK_VOICE_IMA_ADPCM */
#define RECMUX_AUDIO_G726_40_MSB 3     /* ZK_VOICE_G726_40_MSB */
#define RECMUX_AUDIO_G726_32_MSB 4     /* ZK_VOICE_G726_32_MSB */
#define RECMUX_AUDIO_G726_24_MSB 5     /* ZK_VOICE_G726_24_MSB */
#define RECMUX_AUDIO_G711_ALAW 6       /* ZK_VOICE_G711_ALAW */
#define RECMUX_AUDIO_G711_ULAW 7       /* ZK_VOICE_G711_ULAW */
#define RECMUX_AUDIO_G726_24 8         /* ZK_VOICE_G726_24 */
#define RECMUX_AUDIO_G726_16 9         /* ZK_VOICE_G726_16 */
#define RECMUX_AUDIO_G711_ALAW_ALT 10  /* ZK_VOICE_G711_ALAW, as 6 */
#define RECMUX_AUDIO_G711_ULAW_ALT 11  /* ZK_VOICE_G711_ULAW, as 7 */
#define RECMUX_AUDIO_IMA_ADPCM_WAVE 16 /* ZK_VOICE_IMA_ADPCM_WAVE */

/* The voice codec identifier the recorder decodes audio_type with; 0 for a
 * code it knows no codec for (audio of that type is dropped). */
static inline int16_t recmux_audio_voice_codec(int32_t audio_type)
{
    switch (audio_type) {
    case RECMUX_AUDIO_G726_40:
    case RECMUX_AUDIO_G726_40_ALT: return ZK_VOICE_G726_40;
    case RECMUX_AUDIO_IMA_ADPCM: return ZK_VOICE_IMA_ADPCM;
    case RECMUX_AUDIO_G726_40_MSB: return ZK_VOICE_G726_40_MSB;
    case RECMUX_AUDIO_G726_32_MSB: return ZK_VOICE_G726_32_MSB;
    case RECMUX_AUDIO_G726_24_MSB: return ZK_VOICE_G726_24_MSB;
    case RECMUX_AUDIO_G711_ALAW:
    case RECMUX_AUDIO_G711_ALAW_ALT: return ZK_VOICE_G711_ALAW;
    case RECMUX_AUDIO_G711_ULAW:
    case RECMUX_AUDIO_G711_ULAW_ALT: return ZK_VOICE_G711_ULAW;
    case RECMUX_AUDIO_G726_24: return ZK_VOICE_G726_24;
    case RECMUX_AUDIO_G726_16: return ZK_VOICE_G726_16;
    case RECMUX_AUDIO_IMA_ADPCM_WAVE: return ZK_VOICE_IMA_ADPCM_WAVE;
    default: return 0;
    }
}

/* Message categories (the second argument of MsgNotifyCallback) and, for the
 * first two, their values (the third). */
#define RECMUX_MSG_VIDEO 0            /* set-up of the video stream: */
#define RECMUX_MSG_VIDEO_READY 0      /*   stream described from its own parameter sets */
#define RECMUX_MSG_VIDEO_NO_STREAM 1  /*   no stream could be made for the codec */
#define RECMUX_MSG_VIDEO_CODEC_OPEN 2 /*   no longer sent: no codec is opened for video */
#define RECMUX_MSG_VIDEO_PARAMETERS 3 /*   the stream parameters could not be set */
#define RECMUX_MSG_AUDIO 1            /* set-up of the AAC stream: */
#define RECMUX_MSG_AUDIO_READY 0      /*   encoder, FIFO and resampler ready */
#define RECMUX_MSG_AUDIO_NO_STREAM 1  /*   the stream or its encoder context was not made */
#define RECMUX_MSG_AUDIO_FIFO 2       /*   the audio FIFO was not allocated */
#define RECMUX_MSG_AUDIO_CODEC_OPEN 3 /*   opening the AAC encoder failed */
#define RECMUX_MSG_AUDIO_PARAMETERS 4 /*   the stream parameters could not be set */
#define RECMUX_MSG_AUDIO_RESAMPLER 5  /*   the resampler was not made */
#define RECMUX_MSG_COPIED_VIDEO 2     /* continuing: value = video frames copied so far */
#define RECMUX_MSG_COPIED_AUDIO 3     /* continuing: value = audio sample position after a frame */
#define RECMUX_MSG_OUTPUT_FAILED 4    /* the output failed for good (sent once): every later frame
                                       * is refused and close returns 1. Values: */
#define RECMUX_MSG_OUTPUT_SETUP 0     /*   the file could not be created or its header written, or
                                       *   the recording under the final name not continued */
#define RECMUX_MSG_OUTPUT_WRITE 1     /*   a write or sync failed: the disk is full, the file
                                       *   system refused, the working file was removed or
                                       *   replaced, or the write callback returned an error */
#define RECMUX_MSG_OUTPUT_FINISH 2    /*   at close: the file does not read back (it is kept as
                                       *   NAME.recovered.mp4, see recmux_writer_open) or could
                                       *   not take the final name (it stays as NAME.mp4.tmp) */
#define RECMUX_MSG_OUTPUT_NAME_TAKEN 3 /*  at close: NAME.mp4 is not the file that was there at
                                       *   open (or none was): that file is kept, the recording
                                       *   is kept as NAME.recovered.mp4 */

/* Receives the MP4 byte stream of a callback recorder, buf_size bytes at buf.
 * buf belongs to the library and is valid only during the call. Return
 * buf_size, or a negative value (an AVERROR code) when the bytes could not be
 * taken: the stream is broken from there on. Called from inside the frame
 * calls and recmux_writer_close. */
typedef int (RECMUX_CDECL *recmux_write_callback)(void *opaque, uint8_t *buf, int buf_size);

/* Set-up, progress and failure messages: category is one of RECMUX_MSG_VIDEO,
 * RECMUX_MSG_AUDIO, RECMUX_MSG_COPIED_VIDEO, RECMUX_MSG_COPIED_AUDIO,
 * RECMUX_MSG_OUTPUT_FAILED, value as listed with it. The result is ignored. */
typedef int (RECMUX_STDCALL *MsgNotifyCallback)(void *user, int32_t category, int32_t value);

/* Opens a recorder writing to a file.
 *
 * path must end in ".mp4" (any case); its bytes are the name, UTF-8 or not.
 * The recording goes to path + ".tmp", created here, never over a file or
 * through a symlink, and replaces path by a rename at recmux_writer_close.
 * While the recorder lives, that working file is locked: no other recorder,
 * in this process or another, opens path (the lock dies with the process;
 * readers may still read the file). When path holds a recording already, it
 * is continued, the new frames following the old ones: a fragmented one
 * written by this library, with video and sound, in place (new fragments are
 * appended to it, nothing is copied, and it stays as it was until the first
 * one comes); any other by a copy of its packets into the new file, here. A working file that a crash left is kept: one that
 * reads back as a recording becomes path and is continued, or, when path
 * exists too, is moved beside it as NAME.recovered.mp4 (NAME.recovered-2.mp4,
 * ...: the first name no file has; nothing is replaced); one that holds
 * frames but does not read back is moved there too; only one without a
 * frame is deleted. This recovery runs before a message callback can be set,
 * and sends no message.
 *
 * Returns a new recorder, or NULL when path is NULL, does not end in ".mp4",
 * path or path + ".tmp" is there but not a regular file (a FIFO, device,
 * directory, or a symlink at the working name), another recorder holds path,
 * the working file cannot be created, path exists but is not an H.264, H.265
 * or MPEG-4 recording that can be continued whole (the file is then left as
 * it is, and so when the copy fails, on a full disk say), or a crash survivor
 * can be moved to no name. */
RECMUX_API recmux_writer *RECMUX_CDECL recmux_writer_open(const char *path);

/* Opens a recorder that hands fragmented MP4 to write instead of a file.
 *
 * opaque is passed to every call of write, and must stay valid until
 * recmux_writer_close has returned.
 *
 * Returns a new recorder, or NULL when write is NULL or memory runs out. */
RECMUX_API recmux_writer *RECMUX_CDECL recmux_writer_open_and_set_callback(
    void *opaque, recmux_write_callback write);

/* 0 while the recorder has an output, which is from open to close. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_is_open(recmux_writer *writer);

/* type RECMUX_FILE_FRAGMENTED (1) makes a fragmented MP4, anything else a
 * plain MP4 (RECMUX_FILE_PLAIN). Both are written
 * in fragments, each reaching the file when it is finished and the disk within
 * a second, so that a crash keeps everything up to the last one; a plain one
 * is rewritten with its index at the front at close, which is when the type
 * takes effect: it may come at any time before. A callback recorder is always
 * fragmented. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_set_file_type(recmux_writer *writer, int32_t type);

/* Registers notify, called with user and a message; NULL removes it. user
 * must stay valid while notify is registered; it is never freed. A recording
 * is continued inside recmux_writer_open, before a callback can be registered,
 * so through this API RECMUX_MSG_COPIED_* are not seen. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_set_msg_notify(recmux_writer *writer, void *user,
                                                             MsgNotifyCallback notify);

/* Declares the video stream instead of taking it from the first key frame.
 * codec: RECMUX_VIDEO_*, 0 or 264 H.264, 1, 265 or 256 H.265, 2 MPEG-4 Part 2;
 * width and height in pixels, used only when the first key frame's parameter
 * sets state no size (0 or less: the frame is decoded to learn it); reserved
 * is kept, unused. Returns 1 on every call after the first, which changes nothing. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_init_video(recmux_writer *writer, int32_t codec,
                                                         int32_t width, int32_t height,
                                                         int32_t reserved);

/* Declares the device audio: audio_type one of RECMUX_AUDIO_*, sample_rate of
 * the device in Hz. The recording is mono 16-bit whatever channels and
 * bits_per_sample say; a value of 0 or less keeps the default (mono, 8000 Hz,
 * 16 bits). The sound is recorded as AAC. Returns 1, changing nothing, for a
 * sample_rate above 0 but outside 1000..192000 (a later call with a usable one
 * still counts as the first), on every call after the first, and when it comes
 * after the output has opened (about 0.3 s of frames after the first key
 * frame) without a track for the sound: a recording has an audio track only
 * when its audio was declared before then (or when it continues a recording). */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_init_audio(recmux_writer *writer, int32_t audio_type,
                                                         int32_t channels, int32_t sample_rate,
                                                         int32_t bits_per_sample);

/* Writes one access unit: size bytes at data in Annex B form, pts in
 * microseconds, key non-zero for a key frame. The bytes are copied before the
 * call returns. The first key frame's own parameter sets describe the stream
 * (size, profile, level, the sample entry's configuration record); without
 * recmux_writer_init_video the codec comes from it too. Returns 1, and keeps
 * nothing, for a frame before the first key frame (or a first key frame
 * without its parameter sets, SPS and PPS, VPS, SPS and PPS, or MPEG-4's
 * headers before the VOP, or whose picture size cannot be read), for a key frame of another codec than the recording's and the
 * frames after it up to a key frame of the recording's codec, for NULL data
 * with a size, a size above INT32_MAX, and once the output failed for good
 * (RECMUX_MSG_OUTPUT_FAILED): from the call that found it out, every frame is
 * refused and nothing more is queued. The video stream is set up at the first
 * key frame: one it cannot be set up for (memory runs out) is refused, told
 * once by RECMUX_MSG_VIDEO with the reason and then RECMUX_MSG_OUTPUT_FAILED,
 * and the set-up is not tried again. The frame's time in the file is pts
 * relative to the first frame's, with arrival jitter taken out (README, "Time").
 * pts is when the frame is shown: with B-frames, frames come in decode order
 * and their timestamps go back (README). */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_write_video(recmux_writer *writer, const uint8_t *data,
                                                          uint32_t size, uint64_t pts, int32_t key);

/* Writes device audio of the type given to recmux_writer_init_audio: a run of
 * voice frames of one length (zk_voice.h), or headerless payload, which is
 * carried over between calls. The bytes are copied before the call returns.
 * pts (microseconds, the video's clock) places the sound against the video;
 * 0 or a repeated value leaves it placed by its sample count. Audio before the
 * first accepted key frame is dropped; the call still returns 0. Until it is
 * written, at most 30 seconds of it (at the device rate, by its codec's bits
 * per sample) are held, the oldest dropped first. Returns 1 for a buffer that
 * alone plays longer, and once the output failed for good, as write_video. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_write_audio(recmux_writer *writer, const uint8_t *data,
                                                          uint32_t size, uint64_t pts);

/* media_type 0: as recmux_writer_write_video; 1: as recmux_writer_write_audio,
 * key ignored; any other: 1. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_write_frame(recmux_writer *writer, int32_t media_type,
                                                          const uint8_t *data, uint32_t size,
                                                          uint64_t pts, int32_t key);

/* *pts = timestamp of the first accepted key frame / of the last video frame
 * written to the output. 1, with *pts untouched, while there is none (a
 * timestamp of 0 counts as none) or when pts is NULL. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_get_begin_pts(recmux_writer *writer, uint64_t *pts);
RECMUX_API int32_t RECMUX_CDECL recmux_writer_get_end_pts(recmux_writer *writer, uint64_t *pts);

/* Writes what is still queued, finishes the MP4, destroys the recorder and sets
 * *writer to NULL. A file recording reaches stable storage, then replaces the
 * file at its path in one rename, and the folder is synced. Only a recording
 * without a video frame is deleted: one that does not read back, or whose
 * path holds a file that was not there at open (someone put it there), is
 * kept as NAME.recovered.mp4 (see recmux_writer_open) and the file at path
 * stays as it is.
 *
 * Returns 0 when the recording was kept whole under path (or held no video,
 * and so left nothing). Returns 1, and still destroys the recorder and sets
 * *writer to NULL, when the recording was lost, cut short or kept under
 * another name: the output failed for good (RECMUX_MSG_OUTPUT_FAILED tells
 * why) or frames given could not be written. What reached the disk of a
 * fragmented file recording is kept under the final name if it reads back.
 * Returns 1, destroying nothing and leaving *writer as it is, when writer or
 * *writer is NULL or when called from a callback of this recorder. */
RECMUX_API int32_t RECMUX_CDECL recmux_writer_close(recmux_writer **writer);

#ifdef __cplusplus
}
#endif

#endif
