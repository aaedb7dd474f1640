// Video frames and AAC packets into the output, in time order, without
// libavformat holding anything back.
#include <algorithm>
#include <cmath>

#include "recorder/CMP4Writer.h"

namespace recmux {
namespace {

// Video frames written per call: enough to catch up after the output opens.
constexpr uint32_t kVideoPacketsPerCall = 3;
constexpr uint32_t kAudioPacketsPerCall = 32;

}  // namespace

// Where the video has got to: the end of the latest frame shown.
int64_t CMP4Writer::VideoEndTicks() const
{
    return lastVideoTicks_ < 0 ? 0
                               : lastVideoTicks_ + std::llround(video_.Timeline().StepTicks());
}

// Audio is written only while it lags the video, so the two stay interleaved
// without libavformat holding packets back. Audio packets are small: after an
// outage the sound catches up in a few calls instead of holding video back.
bool CMP4Writer::WriteInterleaved()
{
    if (!headerWritten_ || video_.WaitingForKey() || outputFailed_)
        return false;
    audio_.DecodeQueued();
    audio_.FillSilenceUntilSound(VideoEndTicks(), FrameTimeline::kTimeBase);
    uint32_t written = 0;
    uint32_t audio_budget = kAudioPacketsPerCall;
    for (uint32_t step = 0; step < kVideoPacketsPerCall; step++) {
        for (; audio_budget > 0 && audio_.Due(VideoEndTicks(), FrameTimeline::kTimeBase);
             audio_budget--) {
            if (!audio_.EncodeFrame())
                return written > 0;
            written++;
        }
        TimedFrame frame;
        if (!video_.Next(frame, draining_))
            break;
        if (WriteVideoPacket(frame))
            written++;
    }
    if (written > 0)
        SyncWhenDue();
    return written > 0;
}

// Frames can only leave the queue once the header is written; without it they
// are dropped rather than waited for. An audio step that keeps failing ends
// every pass before any video: after two idle passes the video goes alone.
void CMP4Writer::DrainVideoQueue()
{
    draining_ = true;
    for (int idle = 0; headerWritten_ && video_.Queued() != 0 && idle < 3;) {
        const uint32_t before = video_.Queued();
        WriteInterleaved();
        if (video_.Queued() < before) {
            idle = 0;
        } else if (++idle == 2) {
            audio_.Stop();
        }
    }
    video_.DropQueued();
}

// The last frame decoded lasts until the latest one shown ends, so the track
// ends with its picture; what the track's first frame was decoded ahead of
// being shown is made good by the edit list already.
bool CMP4Writer::WriteVideoPacket(const TimedFrame &timed)
{
    const AVFrameInfo &frame = timed.frame;
    int64_t duration = timed.duration;
    if (timed.last)
        duration = std::max(duration, timed.latestShown + duration - timed.dts - videoLead_.value_or(0));
    return WriteVideoPacketAt(frame.data.data(), static_cast<int32_t>(frame.data.size()),
                              {timed.pts, timed.dts, duration}, frame.pts, frame.isKey);
}

// pts is the caller's timestamp (0 for a copied frame); times are in the file.
bool CMP4Writer::WriteVideoPacketAt(const uint8_t *data, int32_t size, const PacketTimes &times,
                                    uint64_t pts, int32_t isKey)
{
    // A codec value outside the table gives no video stream: its frames are dropped.
    if (!videoStream_ || !videoPacket_ || outputFailed_)
        return false;
    // Decoding never goes back or repeats, whatever the file being continued
    // says, and no frame is shown before it is decoded.
    const int64_t dts = lastVideoDts_ ? std::max(times.dts, *lastVideoDts_ + 1) : times.dts;
    const int64_t shown = std::max(times.pts, dts);
    AVPacket *packet = videoPacket_.get();
    packet->data = const_cast<uint8_t *>(data);
    packet->size = size;
    packet->pts = shown;
    packet->dts = dts;
    packet->duration = std::max<int64_t>(1, times.duration);
    packet->stream_index = videoStream_->index;
    packet->flags = isKey ? AV_PKT_FLAG_KEY : 0;
    av_packet_rescale_ts(packet, FrameTimeline::kTimeBase, videoStream_->time_base);
    const int result = av_interleaved_write_frame(output_.get(), packet);
    av_packet_unref(packet);
    if (!OutputTook(result))
        return false;
    lastVideoDts_ = dts;
    if (!videoLead_)
        videoLead_ = shown - dts;
    lastVideoTicks_ = std::max(lastVideoTicks_, shown);
    videoFrameCount_++;
    endPts_ = pts;
    return true;
}

bool CMP4Writer::WriteAudioPacket(AVPacket &packet, AVRational time_base)
{
    if (!audioStream_ || outputFailed_)
        return false;
    packet.stream_index = audioStream_->index;
    av_packet_rescale_ts(&packet, time_base, audioStream_->time_base);
    return OutputTook(av_interleaved_write_frame(output_.get(), &packet));
}

std::optional<int64_t> CMP4Writer::AudioFileTime(uint64_t pts) const
{
    int64_t microseconds = 0;
    if (!video_.Timeline().FileTime(pts, microseconds))
        return std::nullopt;
    return microseconds;
}

}  // namespace recmux
