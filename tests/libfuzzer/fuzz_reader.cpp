// The reader on an MP4 file: open, the stream's figures, every packet.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <recmux/recmux_reader.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = "/tmp/fuzz_reader-" + std::to_string(getpid()) + ".mp4";
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    recmux_reader *reader = recmux_reader_open(path.c_str());
    if (reader) {
        double fps = 0;
        int32_t ms = 0;
        recmux_reader_get_fps(reader, &fps);
        recmux_reader_get_duration(reader, &ms);
        // Small enough that large packets take the too-small path too.
        std::vector<uint8_t> buffer(4096);
        for (int misses = 0; misses < 8;) {
            int32_t got = static_cast<int32_t>(buffer.size()), type = -1, key = 0;
            const bool read = recmux_reader_read_frame(reader, buffer.data(), &got, nullptr, &type,
                                                       &key) == 0;
            misses = read || got > static_cast<int32_t>(buffer.size()) ? 0 : misses + 1;
        }
        recmux_reader_close(&reader);
    }
    std::remove(path.c_str());
    return 0;
}
