/*
 * Reads an MP4 back: prints its frame rate and duration, counts its packets
 * and, when given an output, writes the video as an Annex B stream.
 *
 *     read_mp4 in.mp4 [out.h264]
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <recmux/recmux_reader.h>

/* The reader drops a packet larger than the buffer: start generous. */
#define CAPACITY (8 << 20)
/* The reader cannot tell a packet of another track from the end of the file;
 * only the end goes on failing. */
#define FAILURES_AT_END 4096

int main(int argc, char **argv)
{
    recmux_reader *r;
    uint8_t *buffer;
    FILE *out = NULL;
    double fps = 0;
    int32_t ms = 0;
    long video = 0, keys = 0, audio = 0, lost = 0;
    int failures = 0, status = 0;

    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: %s in.mp4 [out.h264]\n", argv[0]);
        return 2;
    }
    r = recmux_reader_open(argv[1]);
    if (!r) {
        fprintf(stderr, "%s is not an MP4 with H.264, H.265 or MPEG-4 video\n", argv[1]);
        return 1;
    }
    buffer = malloc(CAPACITY);
    if (argc == 3)
        out = fopen(argv[2], "wb");
    if (!buffer || (argc == 3 && !out)) {
        fprintf(stderr, "cannot set up the output\n");
        status = 1;
        goto end;
    }
    if (recmux_reader_get_fps(r, &fps) == 0 && recmux_reader_get_duration(r, &ms) == 0)
        printf("%s: %.3f fps, %d ms\n", argv[1], fps, (int)ms);

    while (failures < FAILURES_AT_END) {
        int32_t size = CAPACITY, type = 0, key = 0;

        if (recmux_reader_read_frame(r, buffer, &size, NULL, &type, &key) != 0) {
            if (size > CAPACITY)
                lost++;
            else
                failures++;
            continue;
        }
        failures = 0;
        if (type == RECMUX_MEDIA_AUDIO) {
            audio++;
            continue;
        }
        video++;
        keys += key;
        if (out && fwrite(buffer, 1, (size_t)size, out) != (size_t)size) {
            fprintf(stderr, "writing %s failed\n", argv[2]);
            status = 1;
            goto end;
        }
    }
    printf("video: %ld packets (%ld key frames), audio: %ld packets, lost: %ld\n", video, keys,
           audio, lost);
    status = video > 0 && lost == 0 ? 0 : 1;

end:
    if (out && fclose(out) != 0)
        status = 1;
    free(buffer);
    recmux_reader_close(&r);
    return status;
}
