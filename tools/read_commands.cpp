#include "read_commands.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "annexb_source.h"
#include "file_problems.h"
#include "mp4_facts.h"
#include "mp4_packets.h"
#include "progress.h"

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

struct Summary {
    std::optional<double> fps;
    std::optional<int32_t> duration_ms;
    Tally video;
    Tally audio;
    uint64_t lost = 0;
};

// JSON string contents: quotes, backslashes and control bytes escaped, other
// bytes as they are.
std::string JsonEscaped(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

void PrintJson(const std::string &path, const Summary &s)
{
    std::printf("{\"file\": \"%s\", ", JsonEscaped(path).c_str());
    if (s.fps)
        std::printf("\"fps\": %.3f, ", *s.fps);
    else
        std::printf("\"fps\": null, ");
    if (s.duration_ms)
        std::printf("\"duration_ms\": %" PRId32 ", ", *s.duration_ms);
    else
        std::printf("\"duration_ms\": null, ");
    std::printf("\"video\": {\"packets\": %" PRIu64 ", \"key_frames\": %" PRIu64
                ", \"bytes\": %" PRIu64 "}, ",
                s.video.packets, s.video.keys, s.video.bytes);
    if (s.audio.packets > 0)
        std::printf("\"audio\": {\"packets\": %" PRIu64 ", \"bytes\": %" PRIu64 "}, ",
                    s.audio.packets, s.audio.bytes);
    else
        std::printf("\"audio\": null, ");
    std::printf("\"packets\": %" PRIu64 ", \"lost\": %" PRIu64 "}\n",
                s.video.packets + s.audio.packets + s.lost, s.lost);
}

void PrintLines(const std::string &path, const Summary &s)
{
    std::printf("file: %s\n", path.c_str());
    if (s.fps)
        std::printf("fps: %.3f\n", *s.fps);
    else
        std::printf("fps: unknown\n");
    if (s.duration_ms)
        std::printf("duration: %" PRId32 " ms\n", *s.duration_ms);
    else
        std::printf("duration: unknown\n");
    std::printf("video: %" PRIu64 " packets, %" PRIu64 " key frames, %" PRIu64 " bytes\n",
                s.video.packets, s.video.keys, s.video.bytes);
    if (s.audio.packets > 0)
        std::printf("audio: %" PRIu64 " packets, %" PRIu64 " bytes\n", s.audio.packets,
                    s.audio.bytes);
    else
        std::printf("audio: none\n");
    std::printf("packets: %" PRIu64 "\n", s.video.packets + s.audio.packets + s.lost);
    if (s.lost > 0)
        std::printf("lost: %" PRIu64 " packets larger than the buffer\n", s.lost);
}

// Frames the file should hold, for the progress shown while reading it.
double ExpectedFrames(const Summary &s)
{
    return s.fps && s.duration_ms ? *s.fps * *s.duration_ms / 1000 : -1;
}

double Fraction(uint64_t frames, double expected)
{
    return expected > 0 ? static_cast<double>(frames) / expected : -1;
}

Summary RateAndDuration(recmux_reader *reader)
{
    Summary summary;
    double fps = 0;
    int32_t ms = 0;
    if (recmux_reader_get_fps(reader, &fps) == 0)
        summary.fps = fps;
    if (recmux_reader_get_duration(reader, &ms) == 0)
        summary.duration_ms = ms;
    return summary;
}

// One line on stderr for every packet the buffer could not take; the exit status.
int ReportLosses(const std::string &path, const Mp4Packets &packets)
{
    if (packets.Lost() == 0)
        return 0;
    std::fprintf(stderr, "recmux: %s: %" PRIu64 " packet(s) lost; the first: %s\n", path.c_str(),
                 packets.Lost(), packets.FirstLoss().c_str());
    return 1;
}

// False when a write failed, errno telling why.
bool CopyVideo(Mp4Packets &packets, double expected, std::FILE *out, Tally &video)
{
    Progress progress("extracting");
    for (Mp4Packet packet; packets.Next(packet);) {
        if (packet.mediaType != RECMUX_MEDIA_VIDEO)
            continue;
        progress.Show(Fraction(video.packets, expected), std::to_string(video.packets) + " frames");
        const auto size = static_cast<size_t>(packet.size);
        if (std::fwrite(packet.data, 1, size, out) != size)
            return false;
        video.packets++;
        video.bytes += size;
    }
    return true;
}

const char *Extensions(VideoCodec codec)
{
    return codec == VideoCodec::H264   ? ".h264 or .264"
           : codec == VideoCodec::H265 ? ".hevc, .h265 or .265"
                                       : ".m4v";
}

// in.mp4 as in.h264, in.hevc or in.m4v.
std::string NamedFor(const std::string &path, VideoCodec codec)
{
    const char *extension = codec == VideoCodec::H264   ? ".h264"
                            : codec == VideoCodec::H265 ? ".hevc"
                                                        : ".m4v";
    return std::filesystem::path(path).replace_extension(extension).string();
}

}  // namespace

int Info(const std::string &path, bool json)
{
    Mp4Packets packets(path);
    if (!packets.IsOpen())
        return 1;
    Summary summary = RateAndDuration(packets.Handle());
    for (Mp4Packet packet; packets.Next(packet);) {
        Tally &tally = packet.mediaType == RECMUX_MEDIA_VIDEO ? summary.video : summary.audio;
        tally.packets++;
        tally.keys += packet.key;
        tally.bytes += static_cast<uint64_t>(packet.size);
    }
    summary.lost = packets.Lost();
    if (json)
        PrintJson(path, summary);
    else
        PrintLines(path, summary);
    return ReportLosses(path, packets);
}

int Extract(const std::string &path, const std::string &requested)
{
    Mp4Packets packets(path);
    if (!packets.IsOpen())
        return 1;
    const std::optional<VideoCodec> codec = VideoCodecOf(path);
    if (!codec) {
        ReportProblem(path, "its video is of no codec extract writes");
        return 1;
    }
    const std::string output = requested.empty() ? NamedFor(path, *codec) : requested;
    if (CodecFromExtension(output) != codec) {
        ReportProblem(output, path + " holds " + CodecName(*codec) +
                                  " video: the name must end in " + Extensions(*codec));
        return 1;
    }
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(output.c_str(), "wb"));
    if (!out) {
        ReportProblem(output, SystemReason(errno));
        return 1;
    }
    Tally video;
    if (!CopyVideo(packets, ExpectedFrames(RateAndDuration(packets.Handle())), out.get(), video) ||
        std::fclose(out.release()) != 0) {
        ReportProblem(output, SystemReason(errno));
        std::remove(output.c_str());
        return 1;
    }
    std::printf("wrote %" PRIu64 " video packets, %" PRIu64 " bytes of %s, to %s\n", video.packets,
                video.bytes, CodecName(*codec), output.c_str());
    if (ReportLosses(path, packets) != 0)
        return 1;
    if (video.packets == 0)
        ReportProblem(path, "holds no video packet");
    return video.packets > 0 ? 0 : 1;
}

}  // namespace recmux_tool
