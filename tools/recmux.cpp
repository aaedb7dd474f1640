// recmux: the library's command-line front end.
#include <cstdio>
#include <cstring>
#include <string>

#include "recmux_writer.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: recmux record [-o out.mp4]\n");
    return 2;
}

int Record(const std::string &output)
{
    recmux_writer *writer = recmux_writer_open(output.c_str());
    if (!writer) {
        std::fprintf(stderr, "recmux: cannot open a recorder on %s\n", output.c_str());
        return 1;
    }
    std::printf("opened a recorder on %s (working file %s.tmp)\n", output.c_str(), output.c_str());
    if (recmux_writer_close(&writer) != 0) {
        std::fprintf(stderr, "recmux: closing the recorder failed\n");
        return 1;
    }
    std::FILE *file = std::fopen(output.c_str(), "rb");
    if (file) {
        std::fclose(file);
        std::printf("closed: %s holds the recording\n", output.c_str());
    } else {
        std::printf("closed: no frames were recorded, so no file was written\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "record") != 0)
        return Usage();
    std::string output = "recmux-demo.mp4";
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            output = argv[++i];
        else
            return Usage();
    }
    return Record(output);
}
