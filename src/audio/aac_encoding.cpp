// The FIFO's PCM to AAC: the encoder, the resampler to its sample format, and
// the packets handed to the recorder.
#include <algorithm>
#include <cstdlib>

#include <recmux/recmux_writer.h>

#include "audio/audio_track.h"
#include "platform/library_log.h"

namespace recmux {
namespace {

// A modest rate: the sound is telephony voice.
constexpr int64_t kAacBitRate = 32000;

// The encoder's own rate when it supports the requested one, else its nearest:
// refusing the rate would fail the whole set-up and lose the video with it.
int SupportedSampleRate(const AVCodec *codec, int requested)
{
    if (!codec->supported_samplerates)
        return requested;
    int best = codec->supported_samplerates[0];
    for (const int *rate = codec->supported_samplerates; *rate; rate++) {
        if (std::abs(*rate - requested) < std::abs(best - requested))
            best = *rate;
    }
    return best;
}

}  // namespace

int32_t AudioTrack::Open(bool global_header)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        platform::PrintLog("could not find encoder for '%s' \n", avcodec_get_name(AV_CODEC_ID_AAC));
        return RECMUX_MSG_AUDIO_NO_STREAM;
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_)
        return RECMUX_MSG_AUDIO_NO_STREAM;
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLT;
    encoder_->bit_rate = kAacBitRate;
    encoder_->sample_rate = SupportedSampleRate(codec, sampleRate_);
    av_channel_layout_default(&encoder_->ch_layout, 1);
    encoder_->time_base = AVRational{1, encoder_->sample_rate};
    if (global_header)
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, 1, encoder_->sample_rate));
    if (!fifo_)
        return RECMUX_MSG_AUDIO_FIFO;
    // The fast search costs a fifth of the default's on speech and, on telephony
    // voice at this rate, follows it more closely.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "aac_coder", "fast", 0);
    const int opened = avcodec_open2(encoder_.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0)
        return RECMUX_MSG_AUDIO_CODEC_OPEN;
    AVChannelLayout mono;
    av_channel_layout_default(&mono, 1);
    SwrContext *resampler = nullptr;
    const int rate = encoder_->sample_rate;
    if (swr_alloc_set_opts2(&resampler, &encoder_->ch_layout, encoder_->sample_fmt, rate, &mono,
                            AV_SAMPLE_FMT_S16, rate, 0, nullptr) < 0)
        return RECMUX_MSG_AUDIO_RESAMPLER;
    resampler_.reset(resampler);
    if (swr_init(resampler_.get()) < 0)
        return RECMUX_MSG_AUDIO_RESAMPLER;
    primingLeft_ = encoder_->initial_padding;
    return RECMUX_MSG_AUDIO_READY;
}

void AudioTrack::Release()
{
    fifo_.reset();
    resampler_.reset();
    rateConverter_.reset();
    encoder_.reset();
}

bool AudioTrack::Due(int64_t video_end, AVRational time_base) const
{
    return !stopped_ && fifo_ && encoder_ &&
           av_audio_fifo_size(fifo_.get()) >= encoder_->frame_size &&
           av_compare_ts(video_end, time_base, static_cast<int64_t>(writtenSamples_),
                         encoder_->time_base) > 0;
}

bool AudioTrack::EncodeFrame()
{
    return EncodeSamples(encoder_->frame_size);
}

// A frame of the FIFO's first samples; only the last one may be short.
bool AudioTrack::EncodeSamples(int samples)
{
    // One encoder frame of mono 16-bit samples never exceeds this.
    int16_t scratch[8192];
    if (samples <= 0 || samples > static_cast<int>(sizeof scratch / sizeof scratch[0]) ||
        av_audio_fifo_size(fifo_.get()) < samples)
        return false;
    void *planes[] = {scratch};
    if (av_audio_fifo_read(fifo_.get(), planes, samples) != samples)
        return false;
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return false;
    frame->nb_samples = samples;
    frame->sample_rate = encoder_->sample_rate;
    frame->format = encoder_->sample_fmt;
    if (av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0)
        return false;
    const uint8_t *input[] = {reinterpret_cast<const uint8_t *>(scratch)};
    if (swr_convert(resampler_.get(), frame->data, samples, input, samples) < 0)
        return false;
    if (avcodec_send_frame(encoder_.get(), frame.get()) != 0)
        return false;
    pendingSamples_ += samples;
    PacketPtr packet(av_packet_alloc());
    if (!packet || avcodec_receive_packet(encoder_.get(), packet.get()) != 0)
        return false;
    return WriteEncoded(*packet);
}

// The encoder's packets last as long as the samples they carry, the last one
// too: padding and priming are not played, and not counted.
bool AudioTrack::WriteEncoded(const AVPacket &packet)
{
    const int64_t duration = packet.duration > 0 ? packet.duration : encoder_->frame_size;
    if (primingLeft_ >= duration) {
        primingLeft_ -= duration;
        return true;
    }
    pendingSamples_ -= duration;
    return WritePacket(packet.data, packet.size, duration);
}

// The last frame of a recording may be short: it keeps its own duration.
bool AudioTrack::WriteCopiedPacket(const uint8_t *data, int32_t size, int64_t duration)
{
    if (!encoder_)
        return false;
    const int64_t samples = av_rescale_q(duration, AV_TIME_BASE_Q, encoder_->time_base);
    return WritePacket(data, size, samples > 0 && samples < encoder_->frame_size ? samples : encoder_->frame_size);
}

bool AudioTrack::WritePacket(const uint8_t *data, int32_t size, int64_t duration)
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return false;
    packet->data = const_cast<uint8_t *>(data);
    packet->size = size;
    packet->pts = static_cast<int64_t>(writtenSamples_);
    packet->dts = packet->pts;
    packet->duration = duration;
    if (!sink_.WriteAudioPacket(*packet, encoder_->time_base))
        return false;
    writtenSamples_ += static_cast<uint64_t>(duration);
    return true;
}

// At close every sample goes out, whether or not the video got that far; the
// last frame is as short as what is left.
void AudioTrack::Drain()
{
    if (stopped_ || !fifo_ || !encoder_ || !resampler_)
        return;
    // A frame the encoder holds back gives no packet yet: go on while frames leave the FIFO.
    for (int left = av_audio_fifo_size(fifo_.get()); left > 0;) {
        EncodeSamples(std::min(left, encoder_->frame_size));
        const int now = av_audio_fifo_size(fifo_.get());
        if (now == left)
            return;
        left = now;
    }
}

void AudioTrack::Flush()
{
    if (!encoder_ || !(encoder_->codec->capabilities & AV_CODEC_CAP_DELAY))
        return;
    PacketPtr packet(av_packet_alloc());
    if (!packet || avcodec_send_frame(encoder_.get(), nullptr) < 0)
        return;
    while (avcodec_receive_packet(encoder_.get(), packet.get()) >= 0) {
        const bool written = WriteEncoded(*packet);
        av_packet_unref(packet.get());
        if (!written)
            return;
    }
}

// Old sound that ends before the old video (or a recording without sound) is
// padded with silence exactly up to the video's end: the new sound plays where
// its time says, neither later nor cut.
void AudioTrack::ContinueAt(int64_t video_end, AVRational time_base)
{
    nextSample_ = static_cast<int64_t>(writtenSamples_) + pendingSamples_ + BufferedSamples();
    if (fifo_ && encoder_)
        AppendSilence(av_rescale_q(video_end, time_base, encoder_->time_base) - nextSample_);
}

void AudioTrack::ResumeAt(int64_t samples)
{
    writtenSamples_ = static_cast<uint64_t>(samples);
}

int64_t AudioTrack::EndMicroseconds() const
{
    return encoder_ ? av_rescale_q(static_cast<int64_t>(writtenSamples_), encoder_->time_base, AV_TIME_BASE_Q)
                    : AV_NOPTS_VALUE;
}

int32_t AudioTrack::BufferedSamples() const
{
    return fifo_ ? av_audio_fifo_size(fifo_.get()) : 0;
}

}  // namespace recmux
