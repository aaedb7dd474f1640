// Device audio into the recorder: queued as it comes, decoded into the FIFO by
// the interleaving writer, at the encoder's rate.
#include <algorithm>
#include <optional>

#include "recorder/CMP4Writer.h"
#include "recorder/print_log.h"

namespace recmux {
namespace {

// Users record for days: audio that video never catches up with is bounded,
// queued by its playing time and, for buffers of no sound, by their count.
constexpr int kFifoSeconds = 30;
constexpr uint32_t kMaxQueuedAudioFrames = 1500;
// What audio devices use; a rate beyond would cost the resampler without bound.
constexpr int32_t kMinSampleRate = 1000;
constexpr int32_t kMaxSampleRate = 192000;

// Bits per sample of the codec's payload; the fewest (G.726 at 16 kbit/s) for
// a code of no codec, so that its playing time is never underestimated.
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

bool CMP4Writer::InitAudio(int32_t audio_type, int32_t channels, int32_t sample_rate,
                           int32_t bits_per_sample)
{
    CallLock::Guard guard(callLock_);
    if (!guard || audioInitialised_)
        return false;
    // Streams are fixed when the header is written: sound described later has
    // no track to go to, and the caller must learn that now.
    if (headerWritten_ && !audioEncoder_)
        return false;
    // Refused, changing nothing: a later call with a usable rate still counts as the first.
    if (sample_rate > 0 && (sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate))
        return false;
    if (audio_type > 0)
        audioTypeCode_ = audio_type;
    if (channels > 0)
        audioChannels_ = 1;
    if (sample_rate > 0)
        audioSampleRate_ = sample_rate;
    if (bits_per_sample > 0)
        audioBits_ = 16;
    deviceAudio_.Reset(audio_type);
    audioInitialised_ = true;
    return true;
}

bool CMP4Writer::WriteAudio(const uint8_t *data, uint32_t size, uint64_t pts)
{
    CallLock::Guard guard(callLock_);
    if (!guard || CannotWrite())
        return false;
    const int64_t limit = int64_t{audioSampleRate_} * kFifoSeconds;
    // A buffer that alone plays longer than the queue may hold is refused whole.
    if (PlayingSamples(size) > limit)
        return false;
    if (!waitingForKey_ && (data || size == 0)) {
        AVFrameInfo frame;
        frame.isKey = 1;
        frame.pts = pts;
        frame.data.assign(data, data + size);
        AVFrameInfo oldest;
        while ((audioQueue_.Size() >= kMaxQueuedAudioFrames ||
                queuedAudioSamples_ + PlayingSamples(size) > limit) &&
               audioQueue_.Pop(oldest))
            queuedAudioSamples_ -= PlayingSamples(static_cast<uint32_t>(oldest.data.size()));
        queuedAudioSamples_ += PlayingSamples(size);
        audioQueue_.Push(std::move(frame));
    }
    WriteInterleaved(3);
    return true;
}

int64_t CMP4Writer::PlayingSamples(uint32_t bytes) const
{
    return int64_t{bytes} * 8 / BitsPerSample(recmux_audio_voice_codec(audioTypeCode_));
}

void CMP4Writer::ConvertQueuedAudio()
{
    AVFrameInfo frame;
    while (audioQueue_.Pop(frame))
        DecodeAudioFrame(frame.data.data(), static_cast<uint32_t>(frame.data.size()), frame.pts);
    queuedAudioSamples_ = 0;
}

bool CMP4Writer::DecodeAudioFrame(const uint8_t *data, uint32_t size, uint64_t pts)
{
    if (!deviceAudio_.IsReady())
        return false;
    int64_t time = 0;
    audioPlacement_.Begin(pts, timeline_.FileTime(pts, time) ? std::optional<int64_t>(time)
                                                             : std::nullopt);
    return deviceAudio_.DecodeBuffer(data, size, [this](const uint8_t *pcm, int32_t bytes) {
        return WritePcmToFifo(pcm, bytes);
    });
}

// The device rate may differ from the encoder's (set once at set-up, or
// changed by InitAudio later): samples are brought to the encoder's rate here,
// so the FIFO only ever holds what the encoder expects.
bool CMP4Writer::WritePcmToFifo(const uint8_t *pcm, int32_t bytes)
{
    if (!audioFifo_ || !audioEncoder_)
        return false;
    soundArrived_ = true;
    const int64_t silence = audioPlacement_.SilenceBefore(NextAudioTime());
    if (silence > 0 && !AppendSilence(silence))
        return false;
    const int trimmed = audioPlacement_.Trim(bytes / 2, audioSampleRate_);
    pcm += trimmed * 2;
    const int in_samples = bytes / 2 - trimmed;
    const int encoder_rate = audioEncoder_->sample_rate;
    if (audioSampleRate_ == encoder_rate)
        return AppendToFifo(pcm, in_samples);
    if (!rateConverter_ || rateConverterInputRate_ != audioSampleRate_) {
        AVChannelLayout mono;
        av_channel_layout_default(&mono, 1);
        SwrContext *converter = nullptr;
        if (swr_alloc_set_opts2(&converter, &mono, AV_SAMPLE_FMT_S16, encoder_rate, &mono,
                                AV_SAMPLE_FMT_S16, audioSampleRate_, 0, nullptr) < 0)
            return false;
        rateConverter_.reset(converter);
        if (swr_init(converter) < 0) {
            rateConverter_.reset();
            return false;
        }
        rateConverterInputRate_ = audioSampleRate_;
    }
    return ConvertRate(pcm, in_samples);
}

bool CMP4Writer::ConvertRate(const uint8_t *pcm, int samples)
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

bool CMP4Writer::AppendToFifo(const uint8_t *pcm, int samples)
{
    if (samples <= 0)
        return samples == 0;
    // Sound the video does not catch up with is written ahead of it rather
    // than held without bound; only when the encoder fails is the oldest dropped.
    const int limit = audioEncoder_->sample_rate * kFifoSeconds;
    while (av_audio_fifo_size(audioFifo_.get()) + samples > limit && EncodeFifoFrame()) {
    }
    const int excess = av_audio_fifo_size(audioFifo_.get()) + samples - limit;
    if (excess > 0)
        av_audio_fifo_drain(audioFifo_.get(), excess);
    if (av_audio_fifo_realloc(audioFifo_.get(), av_audio_fifo_size(audioFifo_.get()) + samples) != 0)
        return false;
    void *planes[] = {const_cast<uint8_t *>(pcm)};
    if (av_audio_fifo_write(audioFifo_.get(), planes, samples) != samples)
        return false;
    audioNextSample_ += samples;
    return true;
}

bool CMP4Writer::AppendSilence(int64_t microseconds)
{
    static const int16_t kSilence[1024] = {};
    constexpr int kChunk = static_cast<int>(sizeof kSilence / sizeof kSilence[0]);
    int64_t samples = microseconds * audioEncoder_->sample_rate / 1000000;
    for (; samples > 0; samples -= kChunk) {
        const int chunk = static_cast<int>(std::min<int64_t>(samples, kChunk));
        if (!AppendToFifo(reinterpret_cast<const uint8_t *>(kSilence), chunk))
            return false;
    }
    return true;
}

// Where the next sample appended to the FIFO plays, in microseconds.
int64_t CMP4Writer::NextAudioTime() const
{
    return av_rescale(audioNextSample_, 1000000, audioEncoder_->sample_rate);
}

}  // namespace recmux
