#include "audio_source.h"

#include <algorithm>
#include <cstdio>

#include "device_frames.h"
#include "file_bytes.h"
#include "wav_file.h"
#include <recmux/recmux_writer.h>

namespace recmux_tool {
namespace {

constexpr size_t kHeader = ZK_VOICE_FRAME_HEADER_BYTES;
constexpr int kDeviceRate = 8000;

uint64_t OffsetUs(uint64_t samples, int rate)
{
    return samples * 1'000'000 / static_cast<uint64_t>(rate);
}

class PcmEncoder final : public AudioSource {
public:
    PcmEncoder(std::vector<int16_t> samples, int rate, int code, int16_t voice,
               std::string description)
        : samples_(std::move(samples)), rate_(rate), code_(code),
          per_frame_(static_cast<size_t>(SamplesPerFrame(voice))),
          description_(std::move(description))
    {
        ZK_VOICE_EncReset(&state_, voice);
    }

    bool Next(AudioFrame &frame) override
    {
        if (at_ >= samples_.size())
            return false;
        std::vector<int16_t> block(per_frame_, 0);
        const size_t take = std::min(per_frame_, samples_.size() - at_);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(at_), take, block.begin());
        uint8_t encoded[ZK_VOICE_ENCODED_MAX_BYTES];
        if (ZK_VOICE_EncodeFrame(&state_, block.data(), encoded,
                                 static_cast<uint16_t>(per_frame_)) != ZK_VOICE_OK) {
            std::fprintf(stderr, "recmux: the voice codec refused a frame of %s\n",
                         description_.c_str());
            failed_ = true;
            return false;
        }
        frame.bytes.assign(encoded, encoded + kHeader + 2 * size_t{encoded[2]});
        frame.offset_us = OffsetUs(at_, rate_);
        at_ += per_frame_;
        return true;
    }

    int Code() const override { return code_; }
    int Rate() const override { return rate_; }
    std::string Describe() const override { return description_; }
    bool Failed() const override { return failed_; }

private:
    std::vector<int16_t> samples_;
    int rate_;
    int code_;
    size_t per_frame_;
    std::string description_;
    VoiceCodecState state_{};
    size_t at_ = 0;
    bool failed_ = false;
};

// Frames are passed as they are; their lengths in time come from decoding a
// copy, as the recorder will (an undecodable block counts as raw PCM there).
class DeviceAudio final : public AudioSource {
public:
    DeviceAudio(std::vector<uint8_t> file, int code, int16_t voice, int rate, std::string path)
        : file_(std::move(file)), split_(SplitDeviceFrames(file_)), code_(code), rate_(rate),
          path_(std::move(path))
    {
        ZK_VOICE_DecReset(&state_, voice);
    }

    bool Next(AudioFrame &frame) override
    {
        if (next_ == split_.frames.size())
            return false;
        const std::span<const uint8_t> bytes = split_.frames[next_++];
        frame.bytes.assign(bytes.begin(), bytes.end());
        frame.offset_us = OffsetUs(samples_, rate_);
        samples_ += Samples(bytes);
        return true;
    }

    int Code() const override { return code_; }
    int Rate() const override { return rate_; }
    bool Failed() const override { return false; }
    std::string Describe() const override
    {
        std::string text = path_ + ": " + std::to_string(split_.frames.size()) +
                           (split_.headered ? " voice frames" : " headerless pieces");
        if (split_.dropped_bytes > 0)
            text += ", " + std::to_string(split_.dropped_bytes) + " bytes of a cut frame dropped";
        return text;
    }

private:
    uint64_t Samples(std::span<const uint8_t> bytes)
    {
        uint8_t block[ZK_VOICE_FRAME_MAX_BYTES] = {0x00, 0x01, 0, 0};
        size_t payload = bytes.size() - kHeader;
        if (split_.headered) {
            std::copy(bytes.begin(), bytes.end(), block);
        } else {
            payload = bytes.size() & ~size_t{1};
            block[2] = static_cast<uint8_t>(payload / 2);
            std::copy_n(bytes.begin(), payload, block + kHeader);
        }
        int16_t pcm[ZK_VOICE_PCM_MAX];
        uint16_t count = 0;
        if (ZK_VOICE_DecodeFrame(&state_, block, pcm, &count) != ZK_VOICE_OK)
            return payload / 2;
        return count;
    }

    std::vector<uint8_t> file_;
    DeviceFrames split_;
    int code_;
    int rate_;
    std::string path_;
    VoiceCodecState state_{};
    size_t next_ = 0;
    uint64_t samples_ = 0;
};

}  // namespace

std::optional<int16_t> VoiceCodecFor(int code)
{
    const int16_t voice = recmux_audio_voice_codec(code);
    return voice != 0 ? std::optional<int16_t>(voice) : std::nullopt;
}

// 40 ms at 8 kHz; the WAVE-block ADPCM counts its header sample on top.
int SamplesPerFrame(int16_t voice_codec)
{
    return voice_codec == ZK_VOICE_IMA_ADPCM_WAVE ? 321 : 320;
}

std::unique_ptr<AudioSource> EncodePcm(std::vector<int16_t> samples, int rate, int code,
                                       std::string description)
{
    const std::optional<int16_t> voice = VoiceCodecFor(code);
    if (!voice || rate <= 0)
        return nullptr;
    return std::make_unique<PcmEncoder>(std::move(samples), rate, code, *voice,
                                        std::move(description));
}

std::unique_ptr<AudioSource> OpenAudioFile(const std::string &path, int code,
                                           std::optional<int> rate)
{
    const std::optional<int16_t> voice = VoiceCodecFor(code);
    std::vector<uint8_t> bytes;
    if (!voice || !ReadAudioFile(path, bytes))
        return nullptr;
    if (!LooksLikeWav(bytes))
        return std::make_unique<DeviceAudio>(std::move(bytes), code, *voice,
                                             rate.value_or(kDeviceRate), path);
    std::string problem;
    std::optional<WavAudio> wav = ParseWav(bytes, &problem);
    if (!wav) {
        std::fprintf(stderr, "recmux: %s: not a usable WAV: %s\n", path.c_str(), problem.c_str());
        return nullptr;
    }
    if (rate && *rate != wav->rate) {
        std::fprintf(stderr, "recmux: %s: a WAV at %d Hz, so --audio-rate %d does not apply\n",
                     path.c_str(), wav->rate, *rate);
        return nullptr;
    }
    const std::string description = path + ": WAV, " + std::to_string(wav->samples.size()) +
                                    " samples at " + std::to_string(wav->rate) + " Hz";
    return EncodePcm(std::move(wav->samples), wav->rate, code, description);
}

}  // namespace recmux_tool
