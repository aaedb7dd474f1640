#include "mp4_facts.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <recmux/recmux_reader.h>

#include "ffmpeg/av_owners.h"

namespace recmux_tool {
namespace {

using recmux::InputContextPtr;
using recmux::PacketPtr;

std::optional<VideoCodec> CodecOf(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_H264: return VideoCodec::H264;
    case AV_CODEC_ID_HEVC: return VideoCodec::H265;
    case AV_CODEC_ID_MPEG4: return VideoCodec::Mpeg4;
    default: return std::nullopt;
    }
}

// The first, as the library's reader takes the first video stream.
const AVStream *FirstStream(const AVFormatContext &input, AVMediaType type)
{
    for (unsigned i = 0; i < input.nb_streams; i++)
        if (input.streams[i]->codecpar->codec_type == type)
            return input.streams[i];
    return nullptr;
}

double StreamSeconds(const AVStream &stream)
{
    return stream.duration == AV_NOPTS_VALUE
               ? 0
               : static_cast<double>(stream.duration) * av_q2d(stream.time_base);
}

// A fragmented file lists no frame count in its header: its packets are counted.
uint64_t VideoFrames(AVFormatContext &input, const AVStream &video)
{
    if (video.nb_frames > 0)
        return static_cast<uint64_t>(video.nb_frames);
    for (unsigned i = 0; i < input.nb_streams; i++)
        input.streams[i]->discard = input.streams[i] == &video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    PacketPtr packet(av_packet_alloc());
    uint64_t frames = 0;
    while (packet && av_read_frame(&input, packet.get()) >= 0) {
        frames += packet->stream_index == video.index;
        av_packet_unref(packet.get());
    }
    return frames;
}

std::string SoundName(AVCodecID id)
{
    std::string name = avcodec_get_name(id);
    for (char &c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::string Size(uintmax_t bytes)
{
    char text[32];
    const auto value = static_cast<double>(bytes);
    if (bytes < 1000)
        std::snprintf(text, sizeof text, "%ju bytes", bytes);
    else if (bytes < 1000'000)
        std::snprintf(text, sizeof text, "%.1f kB", value / 1e3);
    else if (bytes < 1000'000'000)
        std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
    return text;
}

std::string Rate(double fps)
{
    char text[32];
    std::snprintf(text, sizeof text, fps == std::round(fps) ? "%.0f fps" : "%.2f fps", fps);
    return text;
}

InputContextPtr OpenMp4(const std::string &path)
{
    // A name is never taken for a protocol, as "rtmp:x.mp4" would be.
    const std::string url = "file:" + path;
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, url.c_str(), av_find_input_format("mp4"), nullptr) < 0)
        return nullptr;
    return InputContextPtr(opened);
}

}  // namespace

std::optional<VideoCodec> VideoCodecOf(const std::string &path)
{
    const InputContextPtr input = OpenMp4(path);
    const AVStream *video = input ? FirstStream(*input, AVMEDIA_TYPE_VIDEO) : nullptr;
    return video ? CodecOf(video->codecpar->codec_id) : std::nullopt;
}

std::optional<Mp4Facts> ReadMp4Facts(const std::string &path)
{
    const InputContextPtr input = OpenMp4(path);
    const AVStream *video = input ? FirstStream(*input, AVMEDIA_TYPE_VIDEO) : nullptr;
    if (!video)
        return std::nullopt;
    Mp4Facts facts;
    facts.seconds = StreamSeconds(*video);
    if (video->avg_frame_rate.num > 0 && video->avg_frame_rate.den > 0)
        facts.fps = av_q2d(video->avg_frame_rate);
    if (const AVStream *sound = FirstStream(*input, AVMEDIA_TYPE_AUDIO)) {
        facts.sound = SoundName(sound->codecpar->codec_id);
        facts.sound_seconds = StreamSeconds(*sound);
    }
    facts.video_frames = VideoFrames(*input, *video);
    std::error_code unknown;
    facts.bytes = std::filesystem::file_size(path, unknown);
    return facts;
}

std::string Describe(const Mp4Facts &facts)
{
    std::string text =
        Duration(facts.seconds) + ", " + std::to_string(facts.video_frames) + " video frames";
    if (facts.fps > 0)
        text += " (" + Rate(facts.fps) + ")";
    text += facts.sound.empty() ? ", no sound"
                                : ", sound " + Duration(facts.sound_seconds) + " " + facts.sound;
    return text + ", " + Size(facts.bytes);
}

std::string Duration(double seconds)
{
    char text[48];
    const auto whole = static_cast<long>(std::lround(seconds));
    if (seconds < 59.95)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%ld min %ld s", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld h %ld min", whole / 3600, whole % 3600 / 60);
    return text;
}

const char *CodecName(VideoCodec codec)
{
    return codec == VideoCodec::H264 ? "H.264" : codec == VideoCodec::H265 ? "H.265" : "MPEG-4";
}

bool IsRecording(const std::string &path)
{
    recmux_reader *reader = recmux_reader_open(path.c_str());
    const bool readable = reader != nullptr;
    recmux_reader_close(&reader);
    return readable;
}

}  // namespace recmux_tool
