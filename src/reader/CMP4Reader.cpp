#include "reader/CMP4Reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/regular_files.h"
#include "reader/movie_header.h"

namespace recmux {
namespace {

// The MPEG-4 sample entry keeps the VOL header out of the samples; without
// dump_extra the elementary stream would name no picture size and not decode.
const char *FilterChain(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_H264:
        return "h264_mp4toannexb";
    case AV_CODEC_ID_HEVC:
        return "hevc_mp4toannexb";
    case AV_CODEC_ID_MPEG4:
        return "mpeg4_unpack_bframes,dump_extra";
    default:
        return nullptr;
    }
}

// FFmpeg reads a movie timescale it cannot use (0, or above INT32_MAX) as 1,
// which turns every movie duration and edit into seconds; and it sizes its
// index by the counts the boxes claim, which a few bytes can make billions: a
// file that declares more samples than it has bytes, or a table more entries
// than its box holds, is refused.
bool DeclaresOnlyWhatItHolds(const char *path)
{
    const std::optional<DeclaredLayout> layout = ReadDeclaredLayout(path);
    if (!layout || layout->overclaimed || layout->samples > layout->fileSize)
        return false;
    const std::optional<uint32_t> timescale = layout->timescale;
    return !timescale || (*timescale > 0 && *timescale <= std::numeric_limits<int32_t>::max());
}

}  // namespace

int FirstVideoStream(const AVFormatContext &input)
{
    for (unsigned i = 0; i < input.nb_streams; i++) {
        if (input.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            return static_cast<int>(i);
    }
    return -1;
}

std::optional<double> StreamFrameRate(AVRational average, AVRational base)
{
    if (average.den > 0)
        return static_cast<double>(average.num) / average.den;
    if (base.den > 0)
        return static_cast<double>(base.num) / base.den;
    return std::nullopt;
}

std::optional<int32_t> DurationFromFrameCount(int64_t frames, AVRational average)
{
    if (average.num <= 0 || average.den <= 0)
        return std::nullopt;
    const double ms =
        static_cast<double>(frames) / (static_cast<double>(average.num) / average.den) * 1000;
    constexpr double kHigh = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(ms, 0.0, kHigh));
}

bool CMP4Reader::Open(const char *path)
{
    if (!path || IsOpen())
        return false;
    if (OpenInput(path) && OpenFilter())
        return true;
    Close();
    return false;
}

bool CMP4Reader::OpenInput(const char *path)
{
    const AVInputFormat *format = av_find_input_format("mp4");
    const platform::UniqueFd file(platform::OpenRegular(path));
    AVFormatContext *input = nullptr;
    if (!format || !file || !DeclaresOnlyWhatItHolds(file.Path().c_str()) ||
        avformat_open_input(&input, file.Path().c_str(), format, nullptr) < 0)
        return false;
    input_.reset(input);
    if (avformat_find_stream_info(input, nullptr) < 0)
        return false;
    videoIndex_ = FirstVideoStream(*input);
    packet_.reset(av_packet_alloc());
    return videoIndex_ >= 0 && packet_;
}

bool CMP4Reader::OpenFilter()
{
    const AVStream &video = VideoStream();
    const char *chain = FilterChain(video.codecpar->codec_id);
    AVBSFContext *filter = nullptr;
    if (!chain || av_bsf_list_parse_str(chain, &filter) < 0)
        return false;
    filter_.reset(filter);
    if (avcodec_parameters_copy(filter->par_in, video.codecpar) < 0)
        return false;
    filter->time_base_in = video.time_base;
    return av_bsf_init(filter) >= 0;
}

bool CMP4Reader::IsOpen()
{
    return input_ != nullptr;
}

bool CMP4Reader::Close()
{
    if (!IsOpen())
        return false;
    filter_.reset();
    input_.reset();
    packet_.reset();
    videoIndex_ = -1;
    held_ = false;
    draining_ = false;
    flushed_ = false;
    return true;
}

const AVStream &CMP4Reader::VideoStream() const
{
    return *input_->streams[videoIndex_];
}

bool CMP4Reader::GetFps(double *fps)
{
    if (!fps || !IsOpen())
        return false;
    const std::optional<double> rate =
        StreamFrameRate(VideoStream().avg_frame_rate, VideoStream().r_frame_rate);
    if (rate)
        *fps = *rate;
    return rate.has_value();
}

bool CMP4Reader::GetDuration(int32_t *ms)
{
    if (!ms || !IsOpen())
        return false;
    if (input_->duration != AV_NOPTS_VALUE) {
        // A movie header states up to 2^64 units of any timescale, far beyond 32 bits of ms.
        constexpr int64_t kHigh = std::numeric_limits<int32_t>::max();
        *ms = static_cast<int32_t>(std::clamp<int64_t>(input_->duration / 1000, 0, kHigh));
        return true;
    }
    const std::optional<int32_t> fromFrames =
        DurationFromFrameCount(VideoStream().nb_frames, VideoStream().avg_frame_rate);
    if (fromFrames)
        *ms = *fromFrames;
    return fromFrames.has_value();
}

bool CMP4Reader::ReadFrame(uint8_t *buffer, int32_t *size, int64_t *, int32_t *mediaType,
                           int32_t *keyFlag)
{
    if (!size || !mediaType || !keyFlag || !IsOpen() || Prepare() != ReadStatus::Packet)
        return false;
    const int32_t capacity = buffer ? *size : 0;
    Describe(*size, *mediaType, *keyFlag);
    if (capacity < *size) {
        Release();
        return false;
    }
    CopyAndRelease(buffer);
    return true;
}

CMP4Reader::ReadStatus CMP4Reader::ReadNext(uint8_t *buffer, int32_t capacity, int32_t &size,
                                            int32_t &mediaType, int32_t &keyFlag)
{
    if (!IsOpen())
        return ReadStatus::End;
    const ReadStatus status = Prepare();
    if (status != ReadStatus::Packet)
        return status;
    Describe(size, mediaType, keyFlag);
    if ((buffer ? capacity : 0) < size)
        return ReadStatus::TooSmall;
    CopyAndRelease(buffer);
    return ReadStatus::Packet;
}

CMP4Reader::ReadStatus CMP4Reader::Prepare()
{
    if (held_)
        return ReadStatus::Packet;
    // One packet in may give several out; each is handed out before reading on.
    if (draining_ && ReceiveFiltered())
        return ReadStatus::Packet;
    if (flushed_)
        return ReadStatus::End;
    return ReadAndFilter();
}

CMP4Reader::ReadStatus CMP4Reader::ReadAndFilter()
{
    AVPacket *packet = packet_.get();
    if (av_read_frame(input_.get(), packet) < 0) {
        // A filter may keep a packet back until it learns that nothing follows.
        flushed_ = true;
        draining_ = av_bsf_send_packet(filter_.get(), nullptr) == 0;
        return draining_ && ReceiveFiltered() ? ReadStatus::Packet : ReadStatus::End;
    }
    const int index = packet->stream_index;
    if (index == videoIndex_) {
        if (av_bsf_send_packet(filter_.get(), packet) < 0) {
            av_packet_unref(packet);
            return ReadStatus::Skipped;
        }
        draining_ = true;
        return ReceiveFiltered() ? ReadStatus::Packet : ReadStatus::Skipped;
    }
    // A second video track may have another codec and would corrupt the
    // filter's state; only the first video track and audio are handed out.
    if (index >= 0 && static_cast<unsigned>(index) < input_->nb_streams &&
        input_->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        Hold(AVMEDIA_TYPE_AUDIO);
        return ReadStatus::Packet;
    }
    av_packet_unref(packet);
    return ReadStatus::Skipped;
}

bool CMP4Reader::ReceiveFiltered()
{
    if (av_bsf_receive_packet(filter_.get(), packet_.get()) == 0) {
        Hold(AVMEDIA_TYPE_VIDEO);
        return true;
    }
    draining_ = false;
    return false;
}

void CMP4Reader::Hold(AVMediaType type)
{
    held_ = true;
    heldType_ = type;
}

void CMP4Reader::Release()
{
    av_packet_unref(packet_.get());
    held_ = false;
}

void CMP4Reader::Describe(int32_t &size, int32_t &mediaType, int32_t &keyFlag)
{
    mediaType = heldType_;
    keyFlag = heldType_ == AVMEDIA_TYPE_AUDIO || (packet_->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
    size = packet_->size;
    const AVRational time_base = heldType_ == AVMEDIA_TYPE_VIDEO
                                     ? VideoStream().time_base
                                     : input_->streams[packet_->stream_index]->time_base;
    // A frame's time is when it is shown; only B-frames are decoded earlier.
    const int64_t shown = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
    const int64_t decoded = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : shown;
    packetTime_ = shown == AV_NOPTS_VALUE ? 0 : av_rescale_q(shown, time_base, AV_TIME_BASE_Q);
    packetDecodeTime_ =
        decoded == AV_NOPTS_VALUE ? 0 : av_rescale_q(decoded, time_base, AV_TIME_BASE_Q);
    packetDuration_ = av_rescale_q(packet_->duration, time_base, AV_TIME_BASE_Q);
}

void CMP4Reader::CopyAndRelease(uint8_t *buffer)
{
    if (packet_->size > 0)
        std::memcpy(buffer, packet_->data, static_cast<size_t>(packet_->size));
    Release();
}

}  // namespace recmux
