#include <algorithm>
#include <cmath>

#include "recorder/CMP4Writer.h"

namespace recmux {
namespace {

constexpr uint32_t kAudioPacketsPerCall = 32;

}  // namespace

// Where the video has got to: the end of its last packet.
int64_t CMP4Writer::VideoEndTicks() const
{
    return lastVideoTicks_ < 0 ? 0 : lastVideoTicks_ + std::llround(timeline_.StepTicks());
}

bool CMP4Writer::AudioDue() const
{
    return !audioStopped_ && audioFifo_ && audioEncoder_ &&
           av_audio_fifo_size(audioFifo_.get()) >= audioEncoder_->frame_size &&
           av_compare_ts(VideoEndTicks(), FrameTimeline::kTimeBase,
                         static_cast<int64_t>(audioSamplePosition_),
                         audioEncoder_->time_base) > 0;
}

// Audio is written only while it lags the video, so the two stay interleaved
// without libavformat holding packets back. Audio packets are small: after an
// outage the sound catches up in a few calls instead of holding video back.
bool CMP4Writer::WriteInterleaved(uint32_t budget)
{
    if (!headerWritten_ || waitingForKey_ || outputFailed_)
        return false;
    ConvertQueuedAudio();
    FillSilenceUntilSound();
    uint32_t written = 0;
    uint32_t audio_budget = kAudioPacketsPerCall;
    for (uint32_t step = 0; step < budget; step++) {
        for (; audio_budget > 0 && AudioDue(); audio_budget--) {
            if (!EncodeFifoFrame())
                return written > 0;
            written++;
        }
        AVFrameInfo frame;
        if (!videoQueue_.Pop(frame))
            break;
        if (WriteVideoPacket(frame.data.data(), static_cast<int32_t>(frame.data.size()), frame.pts,
                             frame.isKey))
            written++;
    }
    return written > 0;
}

bool CMP4Writer::WriteVideoPacket(const uint8_t *data, int32_t size, uint64_t pts, int32_t isKey)
{
    if (!videoStream_)
        return false;
    return WriteVideoPacketAt(data, size, timeline_.Stamp(pts), pts, isKey);
}

// pts is the caller's timestamp (0 for a copied frame); ticks its time in the file.
bool CMP4Writer::WriteVideoPacketAt(const uint8_t *data, int32_t size, int64_t ticks, uint64_t pts,
                                    int32_t isKey)
{
    // A codec value outside the table gives no video stream: its frames are dropped.
    if (!videoStream_ || !videoPacket_ || !videoCodecContext_ || outputFailed_)
        return false;
    AVPacket *packet = videoPacket_.get();
    packet->data = const_cast<uint8_t *>(data);
    packet->size = size;
    packet->pts = std::max(ticks, lastVideoTicks_ + 1);
    packet->dts = packet->pts;
    packet->duration = std::max<int64_t>(1, std::llround(timeline_.StepTicks()));
    packet->stream_index = videoStream_->index;
    packet->flags = isKey ? AV_PKT_FLAG_KEY : 0;
    if (videoStream_->time_base.den == 0)
        videoStream_->time_base = AVRational{1, 90000};
    av_packet_rescale_ts(packet, FrameTimeline::kTimeBase,
                         videoStream_->time_base);
    const int result = av_interleaved_write_frame(output_.get(), packet);
    av_packet_unref(packet);
    if (!OutputTook(result))
        return false;
    lastVideoTicks_ = std::max(ticks, lastVideoTicks_ + 1);
    videoFrameCount_++;
    endPts_ = pts;
    return true;
}

bool CMP4Writer::WriteAudioPacket(const uint8_t *data, int32_t size)
{
    if (!audioStream_ || !audioEncoder_ || outputFailed_)
        return false;
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return false;
    packet->data = const_cast<uint8_t *>(data);
    packet->size = size;
    // The encoder's priming samples come first; a plain MP4 hides them behind
    // an edit list, so audio and video start together.
    packet->pts = static_cast<int64_t>(audioSamplePosition_) - audioStartOffset_;
    packet->dts = packet->pts;
    packet->duration = audioEncoder_->frame_size;
    packet->stream_index = audioStream_->index;
    av_packet_rescale_ts(packet.get(), audioEncoder_->time_base, audioStream_->time_base);
    if (!OutputTook(av_interleaved_write_frame(output_.get(), packet.get())))
        return false;
    audioSamplePosition_ += static_cast<uint64_t>(static_cast<int64_t>(audioEncoder_->frame_size));
    return true;
}

}  // namespace recmux
