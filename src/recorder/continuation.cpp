// Continuing an existing recording: the old file is copied, packet by packet,
// to the front of the new working file, and the caller's frames follow it.
#include <algorithm>
#include <new>

#include "platform/ffmpeg_names.h"
#include "reader/CMP4Reader.h"
#include "recorder/CMP4Writer.h"
#include "recorder/fragmented_file.h"
#include "recorder/recording_files.h"
#include "video/video_codec.h"
#include "video/stream_description.h"

namespace recmux {
namespace {

constexpr size_t kCopyBufferSize = 0x200000;
// Some 400,000 years: a time beyond it is a damaged file's.
constexpr int64_t kMaxCopiedTicks = int64_t{1} << 60;
// A packet larger than this is taken for a damaged file rather than copied.
constexpr size_t kCopyBufferLimit = 256u << 20;

bool Grow(std::vector<uint8_t> &buffer, size_t size)
{
    if (size > kCopyBufferLimit)
        return false;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

// Hands every packet of the file to visit, growing the buffer for a packet that
// does not fit, until visit returns false. False when the file does not open or
// a packet cannot be had whole.
template <typename Visit>
bool ReadPackets(const char *path, Visit visit)
{
    CMP4Reader reader;
    std::vector<uint8_t> buffer;
    if (!reader.Open(path) || !Grow(buffer, kCopyBufferSize))
        return false;
    for (;;) {
        int32_t size = 0, media_type = 0, key = 0;
        const auto status = reader.ReadNext(buffer.data(), static_cast<int32_t>(buffer.size()),
                                            size, media_type, key);
        if (status == CMP4Reader::ReadStatus::End)
            return true;
        if (status == CMP4Reader::ReadStatus::TooSmall && !Grow(buffer, static_cast<size_t>(size)))
            return false;
        if (status == CMP4Reader::ReadStatus::Packet &&
            !visit(buffer.data(), size, media_type, key, reader))
            return true;
    }
}

// The old file's first key frame, as the reader returns it in Annex B form,
// describes the stream: the new sample entry must describe the same one.
StreamDescription FirstKeyFrameDescription(const char *path, AVCodecID codec_id)
{
    StreamDescription description;
    ReadPackets(path, [&](const uint8_t *data, int32_t size, int32_t media_type, int32_t key,
                          const CMP4Reader &) {
        if (media_type != 0 || !key)
            return true;
        DescribeKeyFrame(codec_id, data, static_cast<size_t>(size), description);
        return false;
    });
    return description;
}

}  // namespace

bool CMP4Writer::ReadVideoProperties(const char *path, AVCodecID &codec_id, int32_t &width,
                                     int32_t &height, AVRational &rate)
{
    InputContextPtr input;
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, platform::FfmpegName(path).c_str(), nullptr, nullptr) < 0)
        return false;
    input.reset(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return false;
    const int video = FirstVideoStream(*input);
    if (video < 0)
        return false;
    const AVStream *stream = input->streams[video];
    // The continued audio keeps the old recording's rate, or it would play at another speed.
    for (unsigned i = 0; i < input->nb_streams; i++) {
        const AVCodecParameters *par = input->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0) {
            audio_.KeepSampleRate(par->sample_rate);
            break;
        }
    }
    codec_id = stream->codecpar->codec_id;
    width = stream->codecpar->width;
    height = stream->codecpar->height;
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
        rate = stream->avg_frame_rate;
    else if (stream->r_frame_rate.num > 0 && stream->r_frame_rate.den > 0)
        rate = stream->r_frame_rate;
    return true;
}

bool CMP4Writer::OpenOutputFromExisting(const char *final_path)
{
    AVRational rate{25, 1};
    int32_t width = 0, height = 0;
    // The codec comes from the old file itself: a recording is continued in its own codec.
    AVCodecID codec_id = AV_CODEC_ID_NONE;
    if (!ReadVideoProperties(final_path, codec_id, width, height, rate) ||
        VideoCodecValue(codec_id) < 0) {
        setupClosed_ = true;
        return false;
    }
    video_.SettleCodec(VideoCodecValue(codec_id), FirstKeyFrameDescription(final_path, codec_id));
    PrepareInPlace(final_path);
    headerWritten_ = OpenOutput(video_.Codec(), width, height, rate);
    return headerWritten_;
}

// A fragmented recording of ours takes the new fragments at its end, its old
// ones untouched: its video is track 1 on the recorder's clock without an
// edit, its sound track 2. Anything else is copied.
bool CMP4Writer::PrepareInPlace(const char *final_path)
{
    FragmentedLayout layout;
    if (!ReadFragmentedLayout(final_path, layout) || layout.tracks.size() != 2)
        return false;
    const FragmentedTrack &video = layout.tracks[0], &sound = layout.tracks[1];
    const bool ours = video.id == 1 && video.handler == MKBETAG('v', 'i', 'd', 'e') &&
                      video.timescale == static_cast<uint32_t>(FrameTimeline::kTimeBase.den) &&
                      video.mediaStart == 0 && video.emptyLead == 0 && sound.id == 2 &&
                      sound.handler == MKBETAG('s', 'o', 'u', 'n') && sound.timescale > 0 &&
                      video.end <= INT64_MAX && sound.end <= INT64_MAX;
    platform::UniqueFd file =
        ours ? platform::OpenToAppend(final_path, *finalAtOpen_) : platform::UniqueFd();
    if (!file)
        return false;
    continuedFd_ = std::move(file);
    appendAt_ = layout.end;
    resumeVideoTicks_ = static_cast<int64_t>(video.end);
    resumeAudioSamples_ = static_cast<int64_t>(sound.end);
    audio_.KeepSampleRate(static_cast<int32_t>(sound.timescale));
    return true;
}

// The new frames follow where the old tracks end; the sound is padded with
// silence to the old picture's end, as a copy would be.
bool CMP4Writer::ResumeInPlace()
{
    if (!audio_.Encoder() || audio_.Encoder()->sample_rate != audio_.SampleRate())
        return false;
    // New frames decoded ahead of the first one shown (B-frames) are decoded
    // from the old picture's end on, a tick apart.
    lastVideoDts_ = resumeVideoTicks_ - 1;
    videoLead_ = 0;
    video_.Timeline().StartAt(resumeVideoTicks_);
    audio_.ResumeAt(resumeAudioSamples_);
    audio_.ContinueAt(resumeVideoTicks_, FrameTimeline::kTimeBase);
    return true;
}

bool CMP4Writer::ContinueRecording(const char *final_path)
{
    // An old recording is never replaced by a part of itself: a packet that
    // cannot be had whole fails the continuation.
    // The old frames keep their own times; the new ones follow where they end:
    // where the last one decoded ends or the latest one shown, whichever is
    // later (FFmpeg reads the last duration of a fragmented file short).
    int64_t end_ticks = 0, latest_shown = INT64_MIN;
    const bool copied =
        ReadPackets(final_path, [&](const uint8_t *data, int32_t size, int32_t media_type,
                                    int32_t key, const CMP4Reader &reader) {
            // A file's times are bounded so that sums of them cannot overflow.
            const auto ticks = [](int64_t microseconds) {
                return std::clamp(av_rescale_q(microseconds, AV_TIME_BASE_Q, FrameTimeline::kTimeBase),
                                  -kMaxCopiedTicks, kMaxCopiedTicks);
            };
            const int64_t duration = ticks(reader.PacketDuration());
            const PacketTimes times{
                ticks(reader.PacketTime()), ticks(reader.PacketDecodeTime()),
                duration > 0 ? duration : std::llround(video_.Timeline().StepTicks())};
            // Copied frames carry timestamp 0: the caller's clock starts with the new frames.
            if (media_type == 0 && WriteVideoPacketAt(data, size, times, 0, key)) {
                end_ticks = std::max(end_ticks, *lastVideoDts_ + times.duration);
                if (times.pts > latest_shown) {
                    latest_shown = times.pts;
                    end_ticks = std::max(end_ticks, times.pts + times.duration);
                }
                Notify(RECMUX_MSG_COPIED_VIDEO, static_cast<int32_t>(videoFrameCount_));
            } else if (media_type == 1 && audio_.WriteCopiedPacket(data, size, reader.PacketDuration())) {
                Notify(RECMUX_MSG_COPIED_AUDIO, static_cast<int32_t>(audio_.WrittenSamples()));
            }
            return !outputFailed_;
        });
    // A copy cut short (a full disk) would replace the old recording by a part of it.
    if (!copied || outputFailed_)
        return false;
    video_.Timeline().StartAt(end_ticks);
    audio_.ContinueAt(end_ticks, FrameTimeline::kTimeBase);
    return true;
}

}  // namespace recmux
