#include "read_commands.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "mp4_packets.h"

namespace recmux_tool {
namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

struct Tally {
    uint64_t packets = 0;
    uint64_t keys = 0;
    uint64_t bytes = 0;
};

void PrintRateAndDuration(recmux_reader *reader)
{
    double fps = 0;
    int32_t ms = 0;
    if (recmux_reader_get_fps(reader, &fps) == 0)
        std::printf("fps: %.3f\n", fps);
    else
        std::printf("fps: unknown\n");
    if (recmux_reader_get_duration(reader, &ms) == 0)
        std::printf("duration: %" PRId32 " ms\n", ms);
    else
        std::printf("duration: unknown\n");
}

}  // namespace

int Info(const std::string &path)
{
    Mp4Packets packets(path);
    if (!packets.IsOpen())
        return 1;
    std::printf("file: %s\n", path.c_str());
    PrintRateAndDuration(packets.Handle());
    Tally video, audio;
    for (Mp4Packet packet; packets.Next(packet);) {
        Tally &tally = packet.mediaType == 0 ? video : audio;
        tally.packets++;
        tally.keys += packet.key;
        tally.bytes += static_cast<uint64_t>(packet.size);
    }
    std::printf("video: %" PRIu64 " packets, %" PRIu64 " key frames, %" PRIu64 " bytes\n",
                video.packets, video.keys, video.bytes);
    if (audio.packets > 0)
        std::printf("audio: %" PRIu64 " packets, %" PRIu64 " bytes\n", audio.packets, audio.bytes);
    else
        std::printf("audio: none\n");
    std::printf("packets: %" PRIu64 "\n", video.packets + audio.packets + packets.Lost());
    if (packets.Lost() > 0)
        std::printf("lost: %" PRIu64 " packets larger than the buffer\n", packets.Lost());
    return packets.Lost() == 0 ? 0 : 1;
}

int Extract(const std::string &path, const std::string &output)
{
    Mp4Packets packets(path);
    if (!packets.IsOpen())
        return 1;
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(output.c_str(), "wb"));
    if (!out) {
        std::fprintf(stderr, "recmux: cannot write %s\n", output.c_str());
        return 1;
    }
    Tally video;
    for (Mp4Packet packet; packets.Next(packet);) {
        if (packet.mediaType != 0)
            continue;
        const size_t size = static_cast<size_t>(packet.size);
        if (std::fwrite(packet.data, 1, size, out.get()) != size) {
            std::fprintf(stderr, "recmux: writing %s failed\n", output.c_str());
            return 1;
        }
        video.packets++;
        video.bytes += size;
    }
    if (std::fclose(out.release()) != 0) {
        std::fprintf(stderr, "recmux: writing %s failed\n", output.c_str());
        return 1;
    }
    std::printf("wrote %" PRIu64 " video packets, %" PRIu64 " bytes, to %s\n", video.packets,
                video.bytes, output.c_str());
    if (packets.Lost() > 0)
        std::fprintf(stderr, "recmux: %" PRIu64 " packets were lost\n", packets.Lost());
    return packets.Lost() == 0 && video.packets > 0 ? 0 : 1;
}

}  // namespace recmux_tool
