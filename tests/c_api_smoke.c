/* A C99 caller: opens a recorder on a file, closes it, and checks the handle rules. */
#include <stdio.h>
#include <string.h>

#include <recmux/recmux_writer.h>

int main(int argc, char **argv)
{
    char path[4096];
    recmux_writer *writer;
    uint64_t pts = 42;

    if (argc < 2 || strlen(argv[1]) > sizeof path - 32)
        return 2;
    snprintf(path, sizeof path, "%s/c_api_smoke.mp4", argv[1]);

    writer = recmux_writer_open(path);
    if (!writer || recmux_writer_is_open(writer) != 0) {
        fprintf(stderr, "open failed\n");
        return 1;
    }
    if (recmux_writer_get_begin_pts(writer, &pts) != 1 || pts != 42) {
        fprintf(stderr, "begin pts reported before any frame\n");
        return 1;
    }
    if (recmux_writer_close(&writer) != 0 || writer != NULL) {
        fprintf(stderr, "close failed\n");
        return 1;
    }
    if (recmux_writer_close(&writer) != 1) {
        fprintf(stderr, "second close succeeded\n");
        return 1;
    }
    printf("opened and closed a recorder on %s\n", path);
    return 0;
}
