#include "capture_source.h"

#include <cstdio>
#include <deque>
#include <optional>

#include <recmux/recmux_writer.h>

#include "ffmpeg/av_owners.h"
#include "file_problems.h"
#include "platform/interrupts.h"

namespace recmux_tool {

using recmux::InputContextPtr;
using recmux::BsfContextPtr;
using recmux::PacketPtr;

namespace {

std::string ErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE];
    return av_make_error_string(text, sizeof text, error);
}

// One demuxer feeds both views; what one view reads past is kept for the other.
class Demuxer {
public:
    Demuxer(std::string path, InputContextPtr input, int video, BsfContextPtr filter, int audio)
        : path_(std::move(path)), input_(std::move(input)), filter_(std::move(filter)),
          video_index_(video), audio_index_(audio), packet_(av_packet_alloc())
    {
        failed_ = ended_ = !packet_;
        if (failed_)
            std::fprintf(stderr, "recmux: no memory for a packet\n");
    }

    bool NextVideo(AccessUnit &unit) { return Take(video_, unit); }
    bool NextAudio(AudioFrame &frame) { return Take(audio_, frame); }

    bool Failed() const { return failed_; }

    double Fraction() const
    {
        AVIOContext *io = input_->pb;
        const int64_t size = io ? avio_size(io) : -1;
        return size > 0 ? static_cast<double>(avio_tell(io)) / static_cast<double>(size) : -1;
    }

private:
    // False once nothing more will come: the end of the file, or a failure.
    // The next item of one view, reading on (and keeping the other view's) until there is one.
    template <typename Item>
    bool Take(std::deque<Item> &queue, Item &out)
    {
        while (queue.empty() && ReadMore()) {
        }
        if (queue.empty())
            return false;
        out = std::move(queue.front());
        queue.pop_front();
        return true;
    }

    bool ReadMore()
    {
        if (ended_)
            return false;
        const int read = av_read_frame(input_.get(), packet_.get());
        if (read < 0) {
            ended_ = true;
            if (read != AVERROR_EOF && !(read == AVERROR_EXIT && recmux::platform::InterruptSignal() != 0)) {
                ReportProblem(path_, "reading failed: " + ErrorText(read));
                failed_ = true;
                return false;
            }
            // The filter may hold a packet back until it learns that nothing follows.
            return av_bsf_send_packet(filter_.get(), nullptr) == 0 && Filtered();
        }
        const int stream = packet_->stream_index;
        if (stream == audio_index_ && packet_->size > 0) {
            AudioFrame frame;
            frame.bytes.assign(packet_->data, packet_->data + packet_->size);
            frame.pts_us = Microseconds(*packet_, input_->streams[stream]->time_base);
            audio_.push_back(std::move(frame));
        }
        if (stream != video_index_) {
            av_packet_unref(packet_.get());
            return true;
        }
        if (av_bsf_send_packet(filter_.get(), packet_.get()) < 0) {
            av_packet_unref(packet_.get());
            ReportProblem(path_, "its video could not be made Annex B");
            failed_ = true;
            ended_ = true;
            return false;
        }
        return Filtered();
    }

    bool Filtered()
    {
        const AVRational time_base = filter_->time_base_out;
        while (av_bsf_receive_packet(filter_.get(), packet_.get()) == 0) {
            AccessUnit unit;
            unit.bytes.assign(packet_->data, packet_->data + packet_->size);
            unit.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
            unit.pts_us = Microseconds(*packet_, time_base);
            av_packet_unref(packet_.get());
            if (!unit.bytes.empty())
                video_.push_back(std::move(unit));
        }
        return true;
    }

    // The presentation time, else the decoding time; a time before 0 counts as 0.
    static std::optional<uint64_t> Microseconds(const AVPacket &packet, AVRational time_base)
    {
        const int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        if (ts == AV_NOPTS_VALUE)
            return std::nullopt;
        const int64_t us = av_rescale_q(ts, time_base, AVRational{1, 1'000'000});
        return static_cast<uint64_t>(us < 0 ? 0 : us);
    }

    std::string path_;
    InputContextPtr input_;
    BsfContextPtr filter_;
    int video_index_;
    int audio_index_;
    PacketPtr packet_;
    std::deque<AccessUnit> video_;
    std::deque<AudioFrame> audio_;
    bool ended_ = false;
    bool failed_ = false;
};

class CaptureVideo final : public FrameSource {
public:
    explicit CaptureVideo(std::shared_ptr<Demuxer> demuxer) : demuxer_(std::move(demuxer)) {}
    bool Next(AccessUnit &unit) override { return demuxer_->NextVideo(unit); }
    bool Failed() const override { return demuxer_->Failed(); }
    double Fraction() const override { return demuxer_->Fraction(); }

private:
    std::shared_ptr<Demuxer> demuxer_;
};

class CaptureAudio final : public AudioSource {
public:
    CaptureAudio(std::shared_ptr<Demuxer> demuxer, int code, int rate, std::string description)
        : demuxer_(std::move(demuxer)), code_(code), rate_(rate),
          description_(std::move(description))
    {
    }
    bool Next(AudioFrame &frame) override { return demuxer_->NextAudio(frame); }
    bool Failed() const override { return demuxer_->Failed(); }
    int Code() const override { return code_; }
    int Rate() const override { return rate_; }
    std::string Describe() const override { return description_; }

private:
    std::shared_ptr<Demuxer> demuxer_;
    int code_;
    int rate_;
    std::string description_;
};

// The recorder's audio type for a mono G.711 stream; nothing for any other.
std::optional<int> G711AudioType(const AVCodecParameters &audio)
{
    if (audio.ch_layout.nb_channels != 1 || audio.sample_rate <= 0)
        return std::nullopt;
    if (audio.codec_id == AV_CODEC_ID_PCM_ALAW)
        return RECMUX_AUDIO_G711_ALAW;
    if (audio.codec_id == AV_CODEC_ID_PCM_MULAW)
        return RECMUX_AUDIO_G711_ULAW;
    return std::nullopt;
}

BsfContextPtr OpenAnnexBFilter(const AVStream &stream)
{
    const char *name =
        stream.codecpar->codec_id == AV_CODEC_ID_H264 ? "h264_mp4toannexb" : "hevc_mp4toannexb";
    const AVBitStreamFilter *kind = av_bsf_get_by_name(name);
    AVBSFContext *filter = nullptr;
    if (!kind || av_bsf_alloc(kind, &filter) < 0)
        return nullptr;
    BsfContextPtr owned(filter);
    if (avcodec_parameters_copy(filter->par_in, stream.codecpar) < 0)
        return nullptr;
    filter->time_base_in = stream.time_base;
    return av_bsf_init(filter) < 0 ? nullptr : std::move(owned);
}

int StopRequested(void *)
{
    return recmux::platform::InterruptSignal() != 0;
}

// A capture may be a stream FFmpeg opens by its URL as well as a file.
InputContextPtr OpenInput(const std::string &path)
{
    InputContextPtr input(avformat_alloc_context());
    if (!input) {
        ReportProblem(path, "no memory to open it");
        return nullptr;
    }
    // Reads that a stopping signal cuts short end the capture there.
    input->interrupt_callback = AVIOInterruptCB{StopRequested, nullptr};
    AVFormatContext *opened = input.release();
    const int error = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    if (error == 0)
        return InputContextPtr(opened);
    ReportProblem(path, error == AVERROR_INVALIDDATA
                            ? "neither an Annex B stream nor a container FFmpeg reads"
                            : ErrorText(error));
    return nullptr;
}

struct Sound {
    int stream = -1;
    int type = 0;  // the recorder's audio type code
    int rate = 0;
};

// FFmpeg names no codec for G.711 in MPEG-TS: it reads as a data stream.
bool HasUnnamedData(const AVFormatContext &input)
{
    for (unsigned i = 0; i < input.nb_streams; i++)
        if (input.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_DATA &&
            input.streams[i]->codecpar->codec_id == AV_CODEC_ID_BIN_DATA)
            return true;
    return false;
}

// The capture's sound when it is mono G.711, the only kind the recorder
// takes as it is; any other is left out with a warning.
std::optional<Sound> FindSound(AVFormatContext &input, int video, const std::string &path)
{
    const int audio = av_find_best_stream(&input, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
    if (audio < 0) {
        if (HasUnnamedData(input))
            ReportProblem(path,
                          "warning: it holds data FFmpeg cannot name, as G.711 sound in MPEG-TS "
                          "reads; recording without sound");
        return std::nullopt;
    }
    const AVCodecParameters &sound = *input.streams[audio]->codecpar;
    if (const std::optional<int> type = G711AudioType(sound))
        return Sound{audio, *type, sound.sample_rate};
    const int channels = sound.ch_layout.nb_channels;
    ReportProblem(path, std::string("warning: its sound (") + avcodec_get_name(sound.codec_id) +
                            ", " +
                            (channels == 1 ? "mono" : std::to_string(channels) + " channels") +
                            ") is not mono G.711; recording without sound");
    return std::nullopt;
}

// The stream of H.264 or H.265 video; negative after saying there is none.
int FindVideo(AVFormatContext &input, const std::string &path)
{
    const int video = avformat_find_stream_info(&input, nullptr) < 0
                          ? AVERROR_STREAM_NOT_FOUND
                          : av_find_best_stream(&input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodecID codec =
        video >= 0 ? input.streams[video]->codecpar->codec_id : AV_CODEC_ID_NONE;
    if (codec == AV_CODEC_ID_H264 || codec == AV_CODEC_ID_HEVC)
        return video;
    ReportProblem(path, "no H.264 or H.265 video in it");
    return -1;
}

}  // namespace

Capture OpenCapture(const std::string &path, bool with_sound)
{
    InputContextPtr input = OpenInput(path);
    const int video = input ? FindVideo(*input, path) : -1;
    if (video < 0)
        return {};
    BsfContextPtr filter = OpenAnnexBFilter(*input->streams[video]);
    if (!filter) {
        ReportProblem(path, "FFmpeg's Annex B filter cannot be set up for it");
        return {};
    }
    const std::optional<Sound> sound = with_sound ? FindSound(*input, video, path) : std::nullopt;
    const AVCodecParameters &picture = *input->streams[video]->codecpar;
    std::printf("capture: %s, %s %dx%d\n", path.c_str(), avcodec_get_name(picture.codec_id),
                picture.width, picture.height);

    auto demuxer = std::make_shared<Demuxer>(path, std::move(input), video, std::move(filter),
                                             sound ? sound->stream : -1);
    Capture capture;
    capture.video = std::make_unique<CaptureVideo>(demuxer);
    if (sound)
        capture.audio = std::make_unique<CaptureAudio>(
            demuxer, sound->type, sound->rate, path + ", stream " + std::to_string(sound->stream));
    return capture;
}

}  // namespace recmux_tool
