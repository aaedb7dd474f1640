#include "recorder/CMP4Writer.h"

namespace recmux {

bool CMP4Writer::AudioDue() const
{
    return !audioStopped_ && audioFifo_ && audioEncoder_ && videoCodecContext_ &&
           av_audio_fifo_size(audioFifo_.get()) >= audioEncoder_->frame_size &&
           av_compare_ts(static_cast<int64_t>(videoFrameCount_), videoCodecContext_->time_base,
                         static_cast<int64_t>(audioSamplePosition_),
                         audioEncoder_->time_base) > 0;
}

// Audio is written only while it lags the video, so the two stay interleaved
// without libavformat holding packets back.
bool CMP4Writer::WriteInterleaved(uint32_t budget)
{
    if (!headerWritten_ || waitingForKey_)
        return false;
    ConvertQueuedAudio();
    FillSilenceUntilSound();
    uint32_t written = 0;
    for (uint32_t step = 0; step < budget; step++) {
        if (AudioDue()) {
            if (!EncodeFifoFrame())
                break;
            written++;
            continue;
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

// Packets are stamped with the frame count, not the caller's timestamps, so
// jitter and gaps in those never reach the file.
bool CMP4Writer::WriteVideoPacket(const uint8_t *data, int32_t size, uint64_t pts, int32_t isKey)
{
    // A codec value outside the table gives no video stream: its frames are dropped.
    if (!videoStream_ || !videoPacket_ || !videoCodecContext_)
        return false;
    AVPacket *packet = videoPacket_.get();
    packet->data = const_cast<uint8_t *>(data);
    packet->size = size;
    packet->pts = static_cast<int64_t>(videoFrameCount_);
    packet->dts = packet->pts;
    packet->duration = 1;
    packet->stream_index = videoStream_->index;
    packet->flags = isKey ? AV_PKT_FLAG_KEY : 0;
    if (videoStream_->time_base.den == 0)
        videoStream_->time_base = AVRational{1, 90000};
    av_packet_rescale_ts(packet, videoCodecContext_->time_base, videoStream_->time_base);
    const int result = av_interleaved_write_frame(output_.get(), packet);
    av_packet_unref(packet);
    if (result < 0)
        return false;
    videoFrameCount_++;
    endPts_ = pts;
    return true;
}

bool CMP4Writer::WriteAudioPacket(const uint8_t *data, int32_t size)
{
    if (!audioStream_ || !audioEncoder_)
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
    if (av_interleaved_write_frame(output_.get(), packet.get()) < 0)
        return false;
    audioSamplePosition_ += static_cast<uint64_t>(static_cast<int64_t>(audioEncoder_->frame_size));
    return true;
}

}  // namespace recmux
