// The WAV reader takes 16-bit mono PCM and refuses every header that is of another
// format or whose lengths do not fit the bytes it was given.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "wav_file.h"

namespace recmux_tool {
namespace {

void Put(std::vector<uint8_t> &bytes, uint32_t value, int size)
{
    for (int i = 0; i < size; i++)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutId(std::vector<uint8_t> &bytes, const char *id)
{
    for (int i = 0; i < 4; i++)
        bytes.push_back(static_cast<uint8_t>(id[i]));
}

struct Format {
    uint16_t tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint16_t bits = 16;
};

std::vector<uint8_t> FmtChunk(const Format &f)
{
    std::vector<uint8_t> chunk;
    PutId(chunk, "fmt ");
    Put(chunk, 16, 4);
    Put(chunk, f.tag, 2);
    Put(chunk, f.channels, 2);
    Put(chunk, f.rate, 4);
    Put(chunk, f.rate * f.channels * f.bits / 8, 4);
    Put(chunk, f.channels * f.bits / 8u, 2);
    Put(chunk, f.bits, 2);
    return chunk;
}

const std::vector<int16_t> kSamples = {0, 1, -1, 32767, -32768, 1234};

std::vector<uint8_t> DataChunk(const std::vector<int16_t> &samples = kSamples)
{
    std::vector<uint8_t> chunk;
    PutId(chunk, "data");
    Put(chunk, static_cast<uint32_t>(samples.size() * 2), 4);
    for (int16_t sample : samples)
        Put(chunk, static_cast<uint16_t>(sample), 2);
    return chunk;
}

// The chunks in a RIFF whose size is right.
std::vector<uint8_t> Riff(const std::vector<std::vector<uint8_t>> &chunks)
{
    std::vector<uint8_t> bytes;
    PutId(bytes, "RIFF");
    Put(bytes, 0, 4);
    PutId(bytes, "WAVE");
    for (const std::vector<uint8_t> &chunk : chunks)
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    for (int i = 0; i < 4; i++)
        bytes[4 + i] = static_cast<uint8_t>((bytes.size() - 8) >> (8 * i));
    return bytes;
}

TEST(WavFile, ReadsRateAndSamplesSkippingOtherChunksAndTheirPadByte)
{
    std::vector<uint8_t> list;
    PutId(list, "LIST");
    Put(list, 3, 4);
    list.insert(list.end(), {'a', 'b', 'c', 0});
    std::optional<WavAudio> wav = ParseWav(Riff({list, FmtChunk({.rate = 16000}), list, DataChunk()}), nullptr);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->rate, 16000);
    EXPECT_EQ(wav->samples, kSamples);
    wav = ParseWav(Riff({FmtChunk({}), DataChunk({})}), nullptr);
    ASSERT_TRUE(wav);
    EXPECT_TRUE(wav->samples.empty());
}

TEST(WavFile, RefusesOtherFormatsAndLyingLengthsSayingWhy)
{
    const std::vector<uint8_t> data = DataChunk();
    const std::vector<uint8_t> fmt = FmtChunk({});
    using Change = std::function<void(std::vector<uint8_t> &)>;
    const auto at = [](size_t i, uint8_t v) -> Change { return [=](std::vector<uint8_t> &b) { b[i] = v; }; };
    const auto nothing = [](std::vector<uint8_t> &) {};
    const std::vector<uint8_t> whole = Riff({fmt, data});
    std::vector<uint8_t> short_fmt(fmt.begin(), fmt.begin() + 8 + 14);
    short_fmt[4] = 14;
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        Change change;
        const char *problem;
    };
    const Case cases[] = {
        {"float", Riff({FmtChunk({.tag = 3}), data}), nothing, "not PCM"},
        {"stereo", Riff({FmtChunk({.channels = 2}), data}), nothing, "channels"},
        {"8 bits", Riff({FmtChunk({.bits = 8}), data}), nothing, "16 bits"},
        {"24 bits", Riff({FmtChunk({.bits = 24}), data}), nothing, "16 bits"},
        {"rate 0", Riff({FmtChunk({.rate = 0}), data}), nothing, "sample rate"},
        {"rate 4 MHz", Riff({FmtChunk({.rate = 4'000'000}), data}), nothing, "sample rate"},
        {"wrong byte rate", whole, at(28, whole[28] ^ 1), "16 bits"},
        {"no fmt chunk", Riff({data}), nothing, "before any fmt"},
        {"short fmt chunk", Riff({short_fmt, data}), nothing, "shorter than 16"},
        {"no data chunk", Riff({fmt}), nothing, "no data chunk"},
        {"RIFF size too long", whole, at(4, whole[4] + 2), "RIFF size"},
        {"data size too long", whole, at(40, whole[40] + 2), "past the end"},
        {"data size huge", whole, [](auto &b) { b[40] = b[41] = b[42] = b[43] = 0xff; }, "past the end"},
        {"fmt size huge", whole, at(19, 0x80), "past the end"},
        {"odd data size", whole, at(40, whole[40] - 1), "odd"},
        {"data beyond the RIFF size", Riff({fmt}), [&](auto &b) { b.insert(b.end(), data.begin(), data.end()); },
         "no data chunk"},
        {"an AVI", whole, at(8, 'A'), "RIFF and WAVE"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = c.bytes;
        c.change(bytes);
        std::string problem;
        EXPECT_FALSE(ParseWav(bytes, &problem)) << c.what;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    }
    EXPECT_TRUE(LooksLikeWav(whole));
    EXPECT_FALSE(LooksLikeWav(std::vector<uint8_t>{'R', 'I', 'F', 'F'}));
}

TEST(WavFile, RefusesEveryCutOfAValidFile)
{
    const std::vector<uint8_t> whole = Riff({FmtChunk({}), DataChunk()});
    for (size_t size = 0; size < whole.size(); size++) {
        EXPECT_FALSE(ParseWav(std::span(whole).first(size), nullptr)) << size << " bytes";
        // With a RIFF size that agrees, the chunk lengths still give it away.
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        if (size >= 8)
            cut[4] = static_cast<uint8_t>(size - 8);
        EXPECT_FALSE(ParseWav(cut, nullptr)) << size << " bytes, RIFF size adjusted";
    }
}

}  // namespace
}  // namespace recmux_tool
