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

// Where the video has got to: the end of its last packet.
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
        AVFrameInfo frame;
        if (!video_.Pop(frame))
            break;
        if (WriteVideoPacket(frame.data.data(), static_cast<int32_t>(frame.data.size()), frame.pts,
                             frame.isKey))
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

bool CMP4Writer::WriteVideoPacket(const uint8_t *data, int32_t size, uint64_t pts, int32_t isKey)
{
    if (!videoStream_)
        return false;
    return WriteVideoPacketAt(data, size, video_.Timeline().Stamp(pts), pts, isKey);
}

// pts is the caller's timestamp (0 for a copied frame); ticks its time in the file.
bool CMP4Writer::WriteVideoPacketAt(const uint8_t *data, int32_t size, int64_t ticks, uint64_t pts,
                                    int32_t isKey)
{
    // A codec value outside the table gives no video stream: its frames are dropped.
    if (!videoStream_ || !videoPacket_ || outputFailed_)
        return false;
    // Packets never go back or repeat, whatever the file being continued says.
    const int64_t stamped = std::max(ticks, lastVideoTicks_ + 1);
    AVPacket *packet = videoPacket_.get();
    packet->data = const_cast<uint8_t *>(data);
    packet->size = size;
    packet->pts = stamped;
    packet->dts = stamped;
    packet->duration = std::max<int64_t>(1, std::llround(video_.Timeline().StepTicks()));
    packet->stream_index = videoStream_->index;
    packet->flags = isKey ? AV_PKT_FLAG_KEY : 0;
    av_packet_rescale_ts(packet, FrameTimeline::kTimeBase, videoStream_->time_base);
    const int result = av_interleaved_write_frame(output_.get(), packet);
    av_packet_unref(packet);
    if (!OutputTook(result))
        return false;
    lastVideoTicks_ = stamped;
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
