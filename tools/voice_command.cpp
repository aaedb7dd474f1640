#include "voice_command.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <recmux/zk_voice.h>

#include "audio_source.h"
#include "file_bytes.h"
#include "wav_file.h"

namespace recmux_tool {
namespace {

constexpr size_t kHeader = ZK_VOICE_FRAME_HEADER_BYTES;

struct Options {
    std::string mode;  // encode, decode or transcode
    std::string in;
    std::string out;
    std::optional<long> codec;
    std::optional<long> samples;
    std::optional<long> rate;
    std::optional<long> transcode;
};

int Usage(const std::string &problem)
{
    std::fprintf(stderr, "recmux: voice: %s (recmux --help shows the usage)\n", problem.c_str());
    return 2;
}

int Fail(const std::string &problem)
{
    std::fprintf(stderr, "recmux: %s\n", problem.c_str());
    return 1;
}

std::string Hex(int32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, static_cast<uint32_t>(code));
    return text;
}

std::optional<long> Whole(const char *text, long low, long high)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
        return std::nullopt;
    return value;
}

// Empty when the arguments are fine, otherwise what is wrong with them.
std::string Parse(int argc, char **argv, Options &options)
{
    if (argc < 3)
        return "give encode, decode or transcode, an input and an output";
    options.mode = argv[0];
    options.in = argv[1];
    options.out = argv[2];
    for (int i = 3; i < argc; i += 2) {
        const std::string flag = argv[i];
        if (i + 1 == argc)
            return "missing value: " + flag;
        const char *value = argv[i + 1];
        if (flag == "--codec" && (options.codec = Whole(value, 1, 100)))
            continue;
        if (flag == "--samples" && (options.samples = Whole(value, 1, 1020)))
            continue;
        if (flag == "--rate" && (options.rate = Whole(value, 1000, 384000)))
            continue;
        if (flag == "--mode" && (options.transcode = Whole(value, 97, 100)))
            continue;
        if (flag == "--codec" || flag == "--samples" || flag == "--rate" || flag == "--mode")
            return "bad value for " + flag + ": " + value;
        return "unknown option: " + flag;
    }
    const bool encode = options.mode == "encode", decode = options.mode == "decode";
    if (!encode && !decode && options.mode != "transcode")
        return "the voice commands are encode, decode and transcode";
    if ((encode || decode) && (!options.codec || options.transcode))
        return options.mode + " takes --codec ID";
    if (!encode && options.samples)
        return "--samples applies to encode";
    if (!decode && options.rate)
        return "--rate applies to decode";
    if (options.mode == "transcode" && (!options.transcode || options.codec))
        return "transcode takes --mode 97, 98, 99 or 100";
    return {};
}

// Walks a file of voice frames; false at the first byte that does not start a
// whole frame, with where in problem.
class FrameWalk {
public:
    explicit FrameWalk(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}

    bool Next(std::span<const uint8_t> &frame, std::string &problem)
    {
        if (at_ == bytes_.size())
            return false;
        const size_t left = bytes_.size() - at_;
        const size_t length = left >= kHeader ? kHeader + 2 * size_t{bytes_[at_ + 2]} : 0;
        if (left < kHeader || bytes_[at_ + 2] == 0 || (bytes_[at_ + 1] & 3) != 1 || length > left) {
            problem = "byte " + std::to_string(at_) + " does not start a whole voice frame";
            return false;
        }
        frame = std::span<const uint8_t>(bytes_).subspan(at_, length);
        at_ += length;
        return true;
    }

private:
    const std::vector<uint8_t> &bytes_;
    size_t at_ = 0;
};

int Encode(const Options &options)
{
    std::vector<uint8_t> bytes;
    if (!ReadAudioFile(options.in, bytes))
        return 1;
    std::string problem;
    const std::optional<WavAudio> wav = ParseWav(bytes, &problem);
    if (!wav)
        return Fail(options.in + ": not a usable WAV: " + problem);
    const auto codec = static_cast<int16_t>(*options.codec);
    const size_t per_frame = static_cast<size_t>(options.samples.value_or(SamplesPerFrame(codec)));
    VoiceCodecState state{};
    if (const int32_t result = ZK_VOICE_EncReset(&state, codec); result != ZK_VOICE_OK)
        return Fail("the voice codec has no encoder for identifier " + std::to_string(codec) +
                    " (" + Hex(result) + ")");
    std::vector<uint8_t> frames;
    std::vector<int16_t> block(per_frame);
    for (size_t at = 0; at < wav->samples.size(); at += per_frame) {
        // The last frame is padded with silence.
        std::fill(block.begin(), block.end(), 0);
        const size_t take = std::min(per_frame, wav->samples.size() - at);
        std::copy_n(wav->samples.begin() + static_cast<std::ptrdiff_t>(at), take, block.begin());
        uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
        const int32_t result =
            ZK_VOICE_EncodeFrame(&state, block.data(), frame, static_cast<uint16_t>(per_frame));
        if (result != ZK_VOICE_OK)
            return Fail("codec " + std::to_string(codec) + " does not encode frames of " +
                        std::to_string(per_frame) + " samples (" + Hex(result) + ")");
        frames.insert(frames.end(), frame, frame + kHeader + 2 * size_t{frame[2]});
    }
    if (!WriteWholeFile(options.out, frames))
        return 1;
    std::printf("%s: %zu samples at %d Hz -> %s: %zu bytes of codec %d frames\n",
                options.in.c_str(), wav->samples.size(), wav->rate, options.out.c_str(),
                frames.size(), codec);
    return 0;
}

int Decode(const Options &options)
{
    std::vector<uint8_t> bytes;
    if (!ReadAudioFile(options.in, bytes))
        return 1;
    const auto codec = static_cast<int16_t>(*options.codec);
    VoiceCodecState state{};
    if (const int32_t result = ZK_VOICE_DecReset(&state, codec); result != ZK_VOICE_OK)
        return Fail("the voice codec has no decoder for identifier " + std::to_string(codec) +
                    " (" + Hex(result) + ")");
    WavAudio wav;
    wav.rate = static_cast<int>(options.rate.value_or(8000));
    FrameWalk walk(bytes);
    std::string problem;
    size_t count = 0;
    for (std::span<const uint8_t> frame; walk.Next(frame, problem); count++) {
        // Some decoders repack the payload in place: decode a copy.
        uint8_t copy[ZK_VOICE_FRAME_MAX_BYTES];
        std::copy(frame.begin(), frame.end(), copy);
        int16_t pcm[ZK_VOICE_PCM_MAX];
        uint16_t samples = 0;
        const int32_t result = ZK_VOICE_DecodeFrame(&state, copy, pcm, &samples);
        if (result != ZK_VOICE_OK)
            return Fail(options.in + ": frame " + std::to_string(count) + " does not decode as " +
                        "codec " + std::to_string(codec) + " (" + Hex(result) + ")");
        wav.samples.insert(wav.samples.end(), pcm, pcm + samples);
    }
    if (!problem.empty())
        return Fail(options.in + ": " + problem);
    const std::optional<std::vector<uint8_t>> out = WavBytes(wav);
    if (!out)
        return Fail(options.out + ": would exceed the size of a WAV file");
    if (!WriteWholeFile(options.out, *out))
        return 1;
    std::printf("%s: %zu frames -> %s: %zu samples at %d Hz\n", options.in.c_str(), count,
                options.out.c_str(), wav.samples.size(), wav.rate);
    return 0;
}

int Transcode(const Options &options)
{
    std::vector<uint8_t> bytes;
    if (!ReadAudioFile(options.in, bytes))
        return 1;
    const auto mode = static_cast<int16_t>(*options.transcode);
    // The record is large for a stack frame and must start zeroed.
    auto record = std::make_unique<VoiceTransState>();
    if (const int32_t result = ZK_VOICE_TransCodeReset(record.get(), mode); result != ZK_VOICE_OK)
        return Fail("the voice codec has no transcoding mode " + std::to_string(mode) + " (" +
                    Hex(result) + ")");
    std::vector<uint8_t> frames;
    FrameWalk walk(bytes);
    std::string problem;
    size_t count = 0;
    for (std::span<const uint8_t> frame; walk.Next(frame, problem); count++) {
        uint8_t converted[ZK_VOICE_FRAME_MAX_BYTES] = {};
        std::copy(frame.begin(), frame.end(), converted);
        const int32_t result = ZK_VOICE_TransCodeFrame(record.get(), converted);
        if (result != ZK_VOICE_OK)
            return Fail(options.in + ": frame " + std::to_string(count) +
                        " does not convert in mode " + std::to_string(mode) + " (" + Hex(result) +
                        ")");
        frames.insert(frames.end(), converted, converted + kHeader + 2 * size_t{converted[2]});
    }
    if (!problem.empty())
        return Fail(options.in + ": " + problem);
    if (!WriteWholeFile(options.out, frames))
        return 1;
    std::printf("%s: %zu frames -> %s: %zu bytes in mode %d\n", options.in.c_str(), count,
                options.out.c_str(), frames.size(), mode);
    return 0;
}

}  // namespace

int VoiceCommand(int argc, char **argv)
{
    Options options;
    const std::string problem = Parse(argc, argv, options);
    if (!problem.empty())
        return Usage(problem);
    if (options.mode == "encode")
        return Encode(options);
    if (options.mode == "decode")
        return Decode(options);
    return Transcode(options);
}

}  // namespace recmux_tool
