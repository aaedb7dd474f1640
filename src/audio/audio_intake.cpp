// Device sound into the track: queued as it comes, decoded into the FIFO when
// the recorder writes, at the encoder's rate and in its place on the clock.
#include <algorithm>

#include <recmux/recmux_writer.h>

#include "audio/audio_track.h"

namespace recmux {
namespace {

// Users record for days: sound that video never catches up with is bounded,
// queued by its playing time and, for buffers of no sound, by their count.
constexpr int kFifoSeconds = 30;
constexpr uint32_t kMaxQueuedAudioFrames = 1500;
// What audio devices use; a rate beyond would cost the resampler without bound.
constexpr int32_t kMinSampleRate = 1000;
constexpr int32_t kMaxSampleRate = 192000;

// Bits per sample of the codec's payload; the fewest (G.726 at 16 kbit/s) for
// a code of no codec, so that its playing time is never underestimated.
int64_t QueuedSamplesLimit(int32_t rate)
{
    return int64_t{rate} * kFifoSeconds;
}

int BitsPerSample(int16_t codec)
{
    switch (codec) {
    case ZK_VOICE_G711_ALAW:
    case ZK_VOICE_G711_ULAW: return 8;
    case ZK_VOICE_G726_40:
    case ZK_VOICE_G726_40_MSB: return 5;
    case ZK_VOICE_G726_32_MSB:
    case ZK_VOICE_IMA_ADPCM:
    case ZK_VOICE_IMA_ADPCM_WAVE: return 4;
    case ZK_VOICE_G726_24:
    case ZK_VOICE_G726_24_MSB: return 3;
    default: return 2;
    }
}

}  // namespace

bool AudioTrack::Init(int32_t audio_type, int32_t sample_rate)
{
    if (initialised_)
        return false;
    // Refused, changing nothing: a later call with a usable rate still counts as the first.
    if (sample_rate > 0 && (sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate))
        return false;
    if (audio_type > 0)
        audioTypeCode_ = audio_type;
    if (sample_rate > 0)
        sampleRate_ = sample_rate;
    deviceAudio_.Reset(audio_type);
    initialised_ = true;
    return true;
}

bool AudioTrack::Fits(uint32_t size) const
{
    return PlayingSamples(size) <= QueuedSamplesLimit(sampleRate_);
}

void AudioTrack::Queue(const uint8_t *data, uint32_t size, uint64_t pts)
{
    if (!data && size != 0)
        return;
    const int64_t limit = QueuedSamplesLimit(sampleRate_);
    AVFrameInfo frame;
    frame.isKey = 1;
    frame.pts = pts;
    frame.data.assign(data, data + size);
    AVFrameInfo oldest;
    while ((queue_.Size() >= kMaxQueuedAudioFrames ||
            queuedSamples_ + PlayingSamples(size) > limit) &&
           queue_.Pop(oldest))
        queuedSamples_ -= PlayingSamples(static_cast<uint32_t>(oldest.data.size()));
    queuedSamples_ += PlayingSamples(size);
    queue_.Push(std::move(frame));
}

int64_t AudioTrack::PlayingSamples(uint32_t bytes) const
{
    return int64_t{bytes} * 8 / BitsPerSample(recmux_audio_voice_codec(audioTypeCode_));
}

void AudioTrack::DecodeQueued()
{
    AVFrameInfo frame;
    while (queue_.Pop(frame))
        DecodeBuffer(frame.data.data(), static_cast<uint32_t>(frame.data.size()), frame.pts);
    queuedSamples_ = 0;
}

bool AudioTrack::DecodeBuffer(const uint8_t *data, uint32_t size, uint64_t pts)
{
    if (!deviceAudio_.IsReady())
        return false;
    placement_.Begin(pts, sink_.AudioFileTime(pts));
    return deviceAudio_.DecodeBuffer(data, size, [this](const uint8_t *pcm, int32_t bytes) {
        return WritePcmToFifo(pcm, bytes);
    });
}

// The device rate may differ from the encoder's (set once at set-up, or
// changed by InitAudio later): samples are brought to the encoder's rate here,
// so the FIFO only ever holds what the encoder expects.
bool AudioTrack::WritePcmToFifo(const uint8_t *pcm, int32_t bytes)
{
    if (!fifo_ || !encoder_)
        return false;
    soundArrived_ = true;
    const int64_t silence = placement_.SilenceBefore(NextSampleTime());
    if (silence > 0 && !AppendSilence(silence * encoder_->sample_rate / 1000000))
        return false;
    const int trimmed = placement_.Trim(bytes / 2, sampleRate_);
    pcm += trimmed * 2;
    const int in_samples = bytes / 2 - trimmed;
    const int encoder_rate = encoder_->sample_rate;
    if (sampleRate_ == encoder_rate)
        return AppendToFifo(pcm, in_samples);
    if (!rateConverter_ || rateConverterInputRate_ != sampleRate_) {
        AVChannelLayout mono;
        av_channel_layout_default(&mono, 1);
        SwrContext *converter = nullptr;
        if (swr_alloc_set_opts2(&converter, &mono, AV_SAMPLE_FMT_S16, encoder_rate, &mono,
                                AV_SAMPLE_FMT_S16, sampleRate_, 0, nullptr) < 0)
            return false;
        rateConverter_.reset(converter);
        if (swr_init(converter) < 0) {
            rateConverter_.reset();
            return false;
        }
        rateConverterInputRate_ = sampleRate_;
    }
    return ConvertRate(pcm, in_samples);
}

bool AudioTrack::ConvertRate(const uint8_t *pcm, int samples)
{
    int16_t converted[8192];
    uint8_t *output[] = {reinterpret_cast<uint8_t *>(converted)};
    constexpr int kOut = static_cast<int>(sizeof converted / sizeof converted[0]);
    bool ok = true;
    for (int left = samples; left > 0;) {
        const int chunk = left < 64 ? left : 64;
        const uint8_t *input[] = {pcm};
        // A count of 0 with an input collects what the converter still holds.
        for (int out = swr_convert(rateConverter_.get(), output, kOut, input, chunk); out != 0;
             out = swr_convert(rateConverter_.get(), output, kOut, input, 0)) {
            if (out < 0)
                return false;
            ok = AppendToFifo(output[0], out) && ok;
        }
        pcm += chunk * 2;
        left -= chunk;
    }
    return ok;
}

bool AudioTrack::AppendToFifo(const uint8_t *pcm, int samples)
{
    if (samples <= 0)
        return samples == 0;
    // Sound the video does not catch up with is written ahead of it rather
    // than held without bound; only when the encoder fails is the oldest dropped.
    const int limit = encoder_->sample_rate * kFifoSeconds;
    while (av_audio_fifo_size(fifo_.get()) + samples > limit && EncodeFrame()) {
    }
    const int excess = av_audio_fifo_size(fifo_.get()) + samples - limit;
    if (excess > 0)
        av_audio_fifo_drain(fifo_.get(), excess);
    if (av_audio_fifo_realloc(fifo_.get(), av_audio_fifo_size(fifo_.get()) + samples) != 0)
        return false;
    void *planes[] = {const_cast<uint8_t *>(pcm)};
    if (av_audio_fifo_write(fifo_.get(), planes, samples) != samples)
        return false;
    nextSample_ += samples;
    return true;
}

bool AudioTrack::AppendSilence(int64_t samples)
{
    static const int16_t kSilence[1024] = {};
    constexpr int kChunk = static_cast<int>(sizeof kSilence / sizeof kSilence[0]);
    for (; samples > 0; samples -= kChunk) {
        const int chunk = static_cast<int>(std::min<int64_t>(samples, kChunk));
        if (!AppendToFifo(reinterpret_cast<const uint8_t *>(kSilence), chunk))
            return false;
    }
    return true;
}

// Where the next sample appended to the FIFO plays, in microseconds.
int64_t AudioTrack::NextSampleTime() const
{
    return av_rescale(nextSample_, 1000000, encoder_->sample_rate);
}

}  // namespace recmux
