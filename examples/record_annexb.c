/*
 * Records an H.264 Annex B file at 25 fps, with a 1 kHz tone sent as G.711
 * A-law voice frames, into a fragmented MP4.
 *
 *     record_annexb in.h264 out.mp4
 *
 * The file is split into access units the way a camera sends them: a new
 * unit starts at an access unit delimiter, SPS, PPS or SEI, or at a slice
 * whose first_mb_in_slice is 0, once the current unit holds a slice.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <recmux/recmux_writer.h>
#include <recmux/zk_voice.h>

#define FRAME_US 40000       /* 25 fps */
#define VOICE_SAMPLES 320    /* 40 ms at 8 kHz: one voice frame per video frame */

static unsigned char *read_file(const char *path, size_t *size)
{
    FILE *f = fopen(path, "rb");
    unsigned char *data = NULL;
    long length;

    if (!f)
        return NULL;
    if (fseek(f, 0, SEEK_END) == 0 && (length = ftell(f)) > 0 && fseek(f, 0, SEEK_SET) == 0 &&
        (data = malloc((size_t)length)) != NULL) {
        *size = fread(data, 1, (size_t)length, f);
        if (*size != (size_t)length) {
            free(data);
            data = NULL;
        }
    }
    fclose(f);
    return data;
}

/* Offset of the next start code (00 00 01) at or after pos, or size. */
static size_t next_start_code(const unsigned char *data, size_t size, size_t pos)
{
    for (; pos + 3 <= size; pos++)
        if (data[pos] == 0 && data[pos + 1] == 0 && data[pos + 2] == 1)
            return pos;
    return size;
}

/* Whether the NAL unit whose header byte is at nal starts a new access unit. */
static int starts_unit(const unsigned char *nal, size_t left, int unit_has_slice)
{
    int type = nal[0] & 0x1f;

    if (!unit_has_slice)
        return 0;
    if (type == 9 || type == 7 || type == 8 || type == 6)
        return 1;
    /* first_mb_in_slice is ue(v): 0 is coded as a single 1 bit. */
    return (type == 1 || type == 5) && left > 1 && (nal[1] & 0x80);
}

/* Sends one voice frame of the tone after each video frame. */
static int write_tone(recmux_writer *w, VoiceCodecState *encoder, long frame, uint64_t pts)
{
    int16_t pcm[VOICE_SAMPLES];
    uint8_t voice[ZK_VOICE_ENCODED_MAX_BYTES];
    int i;

    for (i = 0; i < VOICE_SAMPLES; i++)
        pcm[i] = (int16_t)(8000 * sin(2 * 3.14159265358979 * 1000 *
                                      (double)(frame * VOICE_SAMPLES + i) / 8000));
    if (ZK_VOICE_EncodeFrame(encoder, pcm, voice, VOICE_SAMPLES) != ZK_VOICE_OK)
        return 1;
    return recmux_writer_write_audio(w, voice, 4 + 2u * voice[2], pts);
}

int main(int argc, char **argv)
{
    recmux_writer *w;
    VoiceCodecState encoder;
    unsigned char *data;
    size_t size = 0, unit = 0, pos;
    long frames = 0, accepted = 0;
    int unit_has_slice = 0, unit_is_key = 0;

    if (argc != 3) {
        fprintf(stderr, "usage: %s in.h264 out.mp4\n", argv[0]);
        return 2;
    }
    data = read_file(argv[1], &size);
    if (!data) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    w = recmux_writer_open(argv[2]);
    if (!w) {
        fprintf(stderr, "cannot record into %s\n", argv[2]);
        free(data);
        return 1;
    }
    recmux_writer_set_file_type(w, RECMUX_FILE_FRAGMENTED); /* before the first frame */
    recmux_writer_init_audio(w, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
    ZK_VOICE_EncReset(&encoder, recmux_audio_voice_codec(RECMUX_AUDIO_G711_ALAW));

    unit = next_start_code(data, size, 0);
    for (pos = unit; pos < size;) {
        size_t nal = pos + 3, end = next_start_code(data, size, nal);
        /* A 4-byte start code's leading zero belongs to the unit it opens. */
        size_t begin = pos > unit && data[pos - 1] == 0 ? pos - 1 : pos;

        if (nal < size && starts_unit(data + nal, size - nal, unit_has_slice)) {
            uint64_t pts = (uint64_t)(frames + 1) * FRAME_US;
            accepted += recmux_writer_write_video(w, data + unit, (uint32_t)(begin - unit), pts,
                                                  unit_is_key) == 0;
            write_tone(w, &encoder, frames++, pts);
            unit = begin;
            unit_has_slice = unit_is_key = 0;
        }
        if (nal < size) {
            int type = data[nal] & 0x1f;
            unit_has_slice |= type == 1 || type == 5;
            unit_is_key |= type == 5;
        }
        pos = end;
    }
    if (unit_has_slice) {
        uint64_t pts = (uint64_t)(frames + 1) * FRAME_US;
        accepted += recmux_writer_write_video(w, data + unit, (uint32_t)(size - unit), pts,
                                              unit_is_key) == 0;
        write_tone(w, &encoder, frames++, pts);
    }
    free(data);

    if (recmux_writer_close(&w) != 0) {
        fprintf(stderr, "closing the recorder failed\n");
        return 1;
    }
    printf("%ld access units, %ld accepted, into %s\n", frames, accepted, argv[2]);
    return accepted > 0 ? 0 : 1;
}
