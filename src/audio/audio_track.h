// The recording's sound: device buffers queued as they come, decoded into a
// PCM FIFO at the encoder's rate, placed on the video's clock, encoded to AAC
// and handed to the recorder one packet at a time.
#pragma once

#include <cstdint>
#include <optional>

#include "audio/audio_placement.h"
#include "audio/device_audio.h"
#include "ffmpeg/av_owners.h"
#include "platform/TConQue.h"

namespace recmux {

// What the sound needs of the recorder it goes to.
class AudioPacketSink {
public:
    // Writes one AAC packet timed in time_base; false when the output did not take it.
    virtual bool WriteAudioPacket(AVPacket &packet, AVRational time_base) = 0;
    // A device timestamp on the file's clock in microseconds; none when the
    // video cannot place it.
    virtual std::optional<int64_t> AudioFileTime(uint64_t pts) const = 0;

protected:
    ~AudioPacketSink() = default;
};

class AudioTrack {
public:
    explicit AudioTrack(AudioPacketSink &sink) : sink_(sink) {}
    AudioTrack(const AudioTrack &) = delete;
    AudioTrack &operator=(const AudioTrack &) = delete;

    // InitAudio: false, changing nothing, for a rate no audio device uses.
    bool Init(int32_t audio_type, int32_t sample_rate);
    bool Initialised() const { return initialised_; }
    // A continued recording's sound keeps the old file's rate, or it would play at another speed.
    void KeepSampleRate(int32_t rate) { sampleRate_ = rate; }
    int32_t SampleRate() const { return sampleRate_; }

    // WriteAudio: false when the buffer alone plays longer than the queue may hold.
    bool Fits(uint32_t size) const;
    void Queue(const uint8_t *data, uint32_t size, uint64_t pts);

    // The encoder, its FIFO and resampler: the RECMUX_MSG_AUDIO value telling how it went.
    int32_t Open(bool global_header);
    bool IsOpen() const { return encoder_ != nullptr; }
    const AVCodecContext *Encoder() const { return encoder_.get(); }
    void Release();

    // Decodes the queued buffers into the FIFO.
    void DecodeQueued();
    // Until the caller's sound comes, silence a little behind the video's end.
    void FillSilenceUntilSound(int64_t video_end, AVRational time_base);
    // A whole frame waits and the sound has not reached the video's end.
    bool Due(int64_t video_end, AVRational time_base) const;
    bool EncodeFrame();
    // A continued recording's sound is padded with silence to the old video's
    // end, where the new sound starts.
    void ContinueAt(int64_t video_end, AVRational time_base);
    // A recording continued in place: packets carry the track's own decode
    // times, from where the old sound ends, in samples.
    void ResumeAt(int64_t samples);
    // An old recording's packet, lasting duration microseconds (0: a whole frame).
    bool WriteCopiedPacket(const uint8_t *data, int32_t size, int64_t duration);
    // At close: every sample out, the encoder emptied.
    void Drain();
    void Flush();
    // An audio step kept failing: the rest of the video goes without sound.
    void Stop() { stopped_ = true; }

    // Samples written so far, at the encoder's rate.
    uint64_t WrittenSamples() const { return writtenSamples_; }
    // Where the written sound ends, in microseconds; AV_NOPTS_VALUE without an encoder.
    int64_t EndMicroseconds() const;
    int32_t BufferedSamples() const;

private:
    int64_t PlayingSamples(uint32_t bytes) const;
    bool DecodeBuffer(const uint8_t *data, uint32_t size, uint64_t pts);
    bool WritePcmToFifo(const uint8_t *pcm, int32_t bytes);
    bool ConvertRate(const uint8_t *pcm, int samples);
    bool AppendToFifo(const uint8_t *pcm, int samples);
    bool AppendSilence(int64_t samples);
    int64_t NextSampleTime() const;
    bool EncodeSamples(int samples);
    bool WriteEncoded(const AVPacket &packet);
    bool WritePacket(const uint8_t *data, int32_t size, int64_t duration);

    AudioPacketSink &sink_;
    TConQue<AVFrameInfo> queue_;
    // Device samples the queued buffers play for, as far as their codec tells.
    int64_t queuedSamples_ = 0;
    DeviceAudio deviceAudio_;
    bool initialised_ = false;
    int32_t audioTypeCode_ = 0;
    int32_t sampleRate_ = 8000;
    AudioPlacement placement_;
    CodecContextPtr encoder_;
    AudioFifoPtr fifo_;
    // The FIFO's 16-bit samples to the encoder's format.
    ResamplerPtr resampler_;
    // The device rate to the encoder's, when they differ.
    ResamplerPtr rateConverter_;
    int32_t rateConverterInputRate_ = 0;
    // Samples of encoder priming still to come out: their packets are left out,
    // so that the track starts with the caller's first sample and needs no edit list.
    int64_t primingLeft_ = 0;
    uint64_t writtenSamples_ = 0;
    // Samples the encoder has taken but not yet given back as packets.
    int64_t pendingSamples_ = 0;
    // Samples at the encoder's rate appended to the FIFO since the sound began:
    // where the next one plays.
    int64_t nextSample_ = 0;
    bool stopped_ = false;
    // Whether any of the caller's sound has reached the FIFO; silence stands in
    // for it until then in fragmented output.
    bool soundArrived_ = false;
};

}  // namespace recmux
