#include "wav_file.h"

#include <cstring>

namespace recmux_tool {
namespace {

constexpr size_t kRiffHeader = 12;
constexpr size_t kChunkHeader = 8;
constexpr size_t kFmtMin = 16;
constexpr uint16_t kFormatPcm = 1;
// Far above any voice device; keeps the microsecond arithmetic far from overflow.
constexpr uint32_t kMaxRate = 384000;

uint16_t Le16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Le32(std::span<const uint8_t> bytes, size_t at)
{
    return Le16(bytes, at) | static_cast<uint32_t>(Le16(bytes, at + 2)) << 16;
}

bool IdIs(std::span<const uint8_t> bytes, size_t at, const char *id)
{
    return std::memcmp(bytes.data() + at, id, 4) == 0;
}

std::optional<WavAudio> Fail(std::string *problem, std::string why)
{
    if (problem)
        *problem = std::move(why);
    return std::nullopt;
}

// Empty when the format chunk describes 16-bit mono PCM.
std::string CheckFormat(std::span<const uint8_t> fmt, int &rate)
{
    if (fmt.size() < kFmtMin)
        return "its fmt chunk is shorter than 16 bytes";
    if (Le16(fmt, 0) != kFormatPcm)
        return "it is not PCM (format tag " + std::to_string(Le16(fmt, 0)) + ")";
    if (Le16(fmt, 2) != 1)
        return "it has " + std::to_string(Le16(fmt, 2)) + " channels, not 1";
    const uint32_t sample_rate = Le32(fmt, 4);
    if (sample_rate == 0 || sample_rate > kMaxRate)
        return "its sample rate " + std::to_string(sample_rate) + " is out of range";
    if (Le16(fmt, 14) != 16 || Le16(fmt, 12) != 2 || Le32(fmt, 8) != sample_rate * 2)
        return "it is not 16 bits per sample with consistent block and byte rates";
    rate = static_cast<int>(sample_rate);
    return {};
}

}  // namespace

bool LooksLikeWav(std::span<const uint8_t> bytes)
{
    return bytes.size() >= kRiffHeader && IdIs(bytes, 0, "RIFF") && IdIs(bytes, 8, "WAVE");
}

std::optional<WavAudio> ParseWav(std::span<const uint8_t> bytes, std::string *problem)
{
    if (!LooksLikeWav(bytes))
        return Fail(problem, "it does not start with RIFF and WAVE");
    const uint64_t riff_end = uint64_t{Le32(bytes, 4)} + kChunkHeader;
    if (riff_end > bytes.size())
        return Fail(problem, "its RIFF size runs past the end of the file");
    const std::span<const uint8_t> riff = bytes.first(static_cast<size_t>(riff_end));
    WavAudio audio;
    size_t at = kRiffHeader;
    while (riff.size() - at >= kChunkHeader) {
        const uint32_t size = Le32(riff, at + 4);
        const size_t body = at + kChunkHeader;
        if (size > riff.size() - body)
            return Fail(problem, "a chunk's size runs past the end of the RIFF data");
        const std::span<const uint8_t> chunk = riff.subspan(body, size);
        if (IdIs(riff, at, "fmt ")) {
            const std::string wrong = CheckFormat(chunk, audio.rate);
            if (!wrong.empty())
                return Fail(problem, wrong);
        } else if (IdIs(riff, at, "data")) {
            if (audio.rate == 0)
                return Fail(problem, "its data chunk comes before any fmt chunk");
            if (size % 2 != 0)
                return Fail(problem, "its data chunk holds an odd number of bytes");
            audio.samples.resize(size / 2);
            for (size_t i = 0; i < audio.samples.size(); i++)
                audio.samples[i] = static_cast<int16_t>(Le16(chunk, 2 * i));
            return audio;
        }
        // Chunks are padded to an even length; a missing pad byte at the end is harmless.
        at = body + size + (size & 1u);
        if (at > riff.size())
            break;
    }
    return Fail(problem, "it has no data chunk");
}

std::optional<std::vector<uint8_t>> WavBytes(const WavAudio &audio)
{
    const uint64_t data = uint64_t{2} * audio.samples.size();
    constexpr uint64_t kHeaders = 36;  // RIFF size counts "WAVE", the fmt chunk and the data header
    if (audio.rate <= 0 || static_cast<uint32_t>(audio.rate) > kMaxRate ||
        data + kHeaders > UINT32_MAX)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(kRiffHeader + kHeaders + data);
    const auto put = [&bytes](uint32_t value, int size) {
        for (int i = 0; i < size; i++)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    const auto id = [&bytes](const char *text) { bytes.insert(bytes.end(), text, text + 4); };
    const auto rate = static_cast<uint32_t>(audio.rate);
    id("RIFF");
    put(static_cast<uint32_t>(kHeaders + data), 4);
    id("WAVE");
    id("fmt ");
    put(kFmtMin, 4);
    put(kFormatPcm, 2);
    put(1, 2);
    put(rate, 4);
    put(rate * 2, 4);
    put(2, 2);
    put(16, 2);
    id("data");
    put(static_cast<uint32_t>(data), 4);
    for (int16_t sample : audio.samples)
        put(static_cast<uint16_t>(sample), 2);
    return bytes;
}

}  // namespace recmux_tool
