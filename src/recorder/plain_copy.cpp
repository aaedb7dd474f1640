#include "recorder/plain_copy.h"

#include <algorithm>
#include <vector>

#include "ffmpeg/av_owners.h"

namespace recmux {
namespace {

bool CopyStreams(const AVFormatContext &input, AVFormatContext &output)
{
    for (unsigned i = 0; i < input.nb_streams; i++) {
        const AVStream *from = input.streams[i];
        AVStream *to = avformat_new_stream(&output, nullptr);
        if (!to || avcodec_parameters_copy(to->codecpar, from->codecpar) < 0)
            return false;
        to->time_base = from->time_base;
        to->avg_frame_rate = from->avg_frame_rate;
    }
    return true;
}

// How long the last sound packet plays until the sound ends; INT64_MAX when unknown.
int64_t SoundLeft(const AVStream &stream, const AVPacket &last, int64_t sound_end)
{
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_AUDIO || sound_end == AV_NOPTS_VALUE ||
        last.pts == AV_NOPTS_VALUE)
        return INT64_MAX;
    const int64_t left = av_rescale_q(sound_end, AV_TIME_BASE_Q, stream.time_base) - last.pts;
    return left > 0 ? left : INT64_MAX;
}

// How long the last packet decoded lasts for the latest one shown to last
// step, less what the edit list makes good of the first's lead.
int64_t ShownLeft(const AVPacket &last, int64_t latest, int64_t lead, int64_t step)
{
    int64_t left = 0;
    if (latest == INT64_MIN || lead == INT64_MIN || last.dts == AV_NOPTS_VALUE ||
        __builtin_sub_overflow(latest, last.dts, &left) || __builtin_add_overflow(left, step, &left) ||
        __builtin_sub_overflow(left, lead, &left))
        return step;
    return std::max(step, left);
}

bool WriteCopied(const AVFormatContext &input, AVFormatContext &output, AVPacket &packet)
{
    const int index = packet.stream_index;
    av_packet_rescale_ts(&packet, input.streams[index]->time_base,
                         output.streams[index]->time_base);
    return av_interleaved_write_frame(&output, &packet) >= 0;
}

// Packets keep the times they were written with: a shift would move the
// picture off the caller's clock. FFmpeg reads a fragment's sample durations
// wrong, so each packet is held until the next of its stream tells its duration;
// the last lasts as long as the one before, but the sound's last frame only up
// to where the sound ends: it carries only the samples that were left. The
// last frame decoded lasts until the latest one shown ends (B-frames).
bool CopyPackets(AVFormatContext &input, AVFormatContext &output, int64_t sound_end)
{
    std::vector<PacketPtr> held(input.nb_streams);
    std::vector<int64_t> steps(input.nb_streams, 0);
    std::vector<int64_t> latest(input.nb_streams, INT64_MIN), lead(input.nb_streams, INT64_MIN);
    PacketPtr packet(av_packet_alloc());
    int result = 0;
    while (packet && (result = av_read_frame(&input, packet.get())) >= 0) {
        const unsigned index = static_cast<unsigned>(packet->stream_index);
        if (index >= held.size()) {
            av_packet_unref(packet.get());
            continue;
        }
        if (packet->pts != AV_NOPTS_VALUE)
            latest[index] = std::max(latest[index], packet->pts);
        if (lead[index] == INT64_MIN && packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE &&
            __builtin_sub_overflow(packet->pts, packet->dts, &lead[index]))
            lead[index] = INT64_MIN;
        PacketPtr &before = held[index];
        if (before) {
            int64_t step = 0;
            if (packet->dts != AV_NOPTS_VALUE && before->dts != AV_NOPTS_VALUE &&
                !__builtin_sub_overflow(packet->dts, before->dts, &step))
                steps[index] = std::max<int64_t>(step, 0);
            before->duration = steps[index];
            if (!WriteCopied(input, output, *before))
                return false;
        }
        std::swap(before, packet);
        if (!packet)
            packet.reset(av_packet_alloc());
    }
    for (unsigned i = 0; i < held.size(); i++) {
        if (held[i] && steps[i] > 0)
            held[i]->duration = std::min(ShownLeft(*held[i], latest[i], lead[i], steps[i]),
                                         SoundLeft(*input.streams[i], *held[i], sound_end));
        if (held[i] && !WriteCopied(input, output, *held[i]))
            return false;
    }
    return result == AVERROR_EOF;
}

}  // namespace

bool WritePlainCopy(const char *fragmented, const char *plain, int64_t sound_end)
{
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, fragmented, av_find_input_format("mp4"), nullptr) < 0)
        return false;
    const InputContextPtr input(opened);
    // The sound's frame size, which the index needs, is learned from its packets.
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return false;
    AVFormatContext *made = nullptr;
    avformat_alloc_output_context2(&made, nullptr, "mp4", plain);
    const OutputContextPtr output(made);
    if (!output || !CopyStreams(*input, *output) ||
        avio_open(&output->pb, plain, AVIO_FLAG_WRITE) < 0)
        return false;
    AVDictionary *options = nullptr;
    // The index at the front: the file plays before it is all downloaded.
    av_dict_set(&options, "movflags", "faststart", 0);
    const int header = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (header < 0 || !CopyPackets(*input, *output, sound_end) || av_write_trailer(output.get()) < 0)
        return false;
    avio_flush(output->pb);
    return output->pb->error >= 0;
}

}  // namespace recmux
