// Where the audio of a recording comes from: a WAV encoded with the library's
// voice codec, a file of device audio frames, or the built-in test tone.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace recmux_tool {

struct AudioFrame {
    std::vector<uint8_t> bytes;  // as a device hands them to the recorder
    uint64_t offset_us = 0;      // from the start of the audio
    std::optional<uint64_t> pts_us;  // a capture's own timestamp, used instead of offset_us
};

class AudioSource {
public:
    virtual ~AudioSource() = default;
    // False at the end of the audio or on failure; Failed() tells which.
    virtual bool Next(AudioFrame &frame) = 0;
    virtual bool Failed() const = 0;
    virtual int Code() const = 0;  // the recorder's audio type code
    virtual int Rate() const = 0;
    virtual std::string Describe() const = 0;
};

// The voice-codec identifier the recorder decodes an audio type code with;
// nothing for the codes it knows no codec for.
std::optional<int16_t> VoiceCodecFor(int code);

// Samples the tool encodes into one voice frame of that codec.
int SamplesPerFrame(int16_t voice_codec);

// Encodes samples frame by frame; the last frame is padded with silence.
std::unique_ptr<AudioSource> EncodePcm(std::vector<int16_t> samples, int rate, int code,
                                       std::string description);

// A WAV, encoded with the codec of code at the WAV's rate (which rate, when
// given, must match), or device audio frames of code at rate (default 8000 Hz).
// Null after saying why on stderr.
std::unique_ptr<AudioSource> OpenAudioFile(const std::string &path, int code,
                                           std::optional<int> rate);

}  // namespace recmux_tool
