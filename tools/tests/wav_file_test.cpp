// The WAV reader takes 16-bit mono PCM and refuses every header that is of
// another format or whose lengths do not fit the bytes it was given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wav_file.h"

namespace recmux_tool {
namespace {

void Put16(std::vector<uint8_t> &bytes, uint16_t value)
{
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t> &bytes, uint32_t value)
{
    Put16(bytes, static_cast<uint16_t>(value));
    Put16(bytes, static_cast<uint16_t>(value >> 16));
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

std::vector<uint8_t> FmtChunk(const Format &format)
{
    std::vector<uint8_t> chunk;
    PutId(chunk, "fmt ");
    Put32(chunk, 16);
    Put16(chunk, format.tag);
    Put16(chunk, format.channels);
    Put32(chunk, format.rate);
    Put32(chunk, format.rate * format.channels * format.bits / 8);
    Put16(chunk, static_cast<uint16_t>(format.channels * format.bits / 8));
    Put16(chunk, format.bits);
    return chunk;
}

std::vector<uint8_t> DataChunk(const std::vector<int16_t> &samples)
{
    std::vector<uint8_t> chunk;
    PutId(chunk, "data");
    Put32(chunk, static_cast<uint32_t>(samples.size() * 2));
    for (int16_t sample : samples)
        Put16(chunk, static_cast<uint16_t>(sample));
    return chunk;
}

std::vector<uint8_t> Riff(const std::vector<std::vector<uint8_t>> &chunks)
{
    std::vector<uint8_t> bytes;
    PutId(bytes, "RIFF");
    Put32(bytes, 0);
    PutId(bytes, "WAVE");
    for (const std::vector<uint8_t> &chunk : chunks)
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    const auto size = static_cast<uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; i++)
        bytes[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    return bytes;
}

const std::vector<int16_t> kSamples = {0, 1, -1, 32767, -32768, 1234};

std::string Problem(const std::vector<uint8_t> &bytes)
{
    std::string problem;
    EXPECT_FALSE(ParseWav(bytes, &problem));
    EXPECT_FALSE(problem.empty());
    return problem;
}

TEST(WavFile, ReadsTheSamplesAndRateOfPcmMono)
{
    const std::optional<WavAudio> wav =
        ParseWav(Riff({FmtChunk({.rate = 16000}), DataChunk(kSamples)}), nullptr);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->rate, 16000);
    EXPECT_EQ(wav->samples, kSamples);
}

TEST(WavFile, SkipsOtherChunksAndTheirPadByte)
{
    std::vector<uint8_t> list;
    PutId(list, "LIST");
    Put32(list, 3);
    list.insert(list.end(), {'a', 'b', 'c', 0});
    const std::optional<WavAudio> wav =
        ParseWav(Riff({list, FmtChunk({}), list, DataChunk(kSamples)}), nullptr);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->samples, kSamples);
}

TEST(WavFile, AcceptsAnEmptyDataChunk)
{
    const std::optional<WavAudio> wav = ParseWav(Riff({FmtChunk({}), DataChunk({})}), nullptr);
    ASSERT_TRUE(wav);
    EXPECT_TRUE(wav->samples.empty());
}

TEST(WavFile, TellsAWavByItsTwoMarks)
{
    EXPECT_TRUE(LooksLikeWav(Riff({})));
    std::vector<uint8_t> avi = Riff({});
    avi[8] = 'A';
    EXPECT_FALSE(LooksLikeWav(avi));
    EXPECT_FALSE(LooksLikeWav(std::vector<uint8_t>{'R', 'I', 'F', 'F'}));
    EXPECT_FALSE(ParseWav(avi, nullptr));
}

TEST(WavFile, RefusesEveryCutOfAValidFile)
{
    const std::vector<uint8_t> whole = Riff({FmtChunk({}), DataChunk(kSamples)});
    for (size_t size = 0; size < whole.size(); size++) {
        EXPECT_FALSE(ParseWav(std::span(whole).first(size), nullptr)) << size << " bytes";
        // Cut with a RIFF size that agrees: the chunk lengths still give it away.
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        if (size >= 8)
            cut[4] = static_cast<uint8_t>(size - 8);
        EXPECT_FALSE(ParseWav(cut, nullptr)) << size << " bytes, RIFF size adjusted";
    }
}

TEST(WavFile, RefusesOtherFormats)
{
    EXPECT_NE(Problem(Riff({FmtChunk({.tag = 3}), DataChunk(kSamples)})).find("not PCM"),
              std::string::npos);
    EXPECT_NE(Problem(Riff({FmtChunk({.channels = 2}), DataChunk(kSamples)})).find("channels"),
              std::string::npos);
    EXPECT_NE(Problem(Riff({FmtChunk({.bits = 8}), DataChunk(kSamples)})).find("16 bits"),
              std::string::npos);
    Problem(Riff({FmtChunk({.bits = 24}), DataChunk(kSamples)}));
    Problem(Riff({FmtChunk({.rate = 0}), DataChunk(kSamples)}));
    Problem(Riff({FmtChunk({.rate = 4'000'000}), DataChunk(kSamples)}));
}

TEST(WavFile, RefusesInconsistentRates)
{
    std::vector<uint8_t> fmt = FmtChunk({});
    fmt[16] ^= 1;  // byte rate
    Problem(Riff({fmt, DataChunk(kSamples)}));
}

TEST(WavFile, RefusesAMissingOrShortFmtChunk)
{
    Problem(Riff({DataChunk(kSamples)}));
    std::vector<uint8_t> fmt = FmtChunk({});
    fmt[4] = 14;
    fmt.resize(8 + 14);
    Problem(Riff({fmt, DataChunk(kSamples)}));
    Problem(Riff({FmtChunk({})}));
}

TEST(WavFile, RefusesLyingLengths)
{
    std::vector<uint8_t> riff_too_long = Riff({FmtChunk({}), DataChunk(kSamples)});
    riff_too_long[4] += 2;
    EXPECT_NE(Problem(riff_too_long).find("RIFF size"), std::string::npos);

    std::vector<uint8_t> data = DataChunk(kSamples);
    data[4] += 2;
    EXPECT_NE(Problem(Riff({FmtChunk({}), data})).find("past the end"), std::string::npos);

    std::vector<uint8_t> huge = DataChunk(kSamples);
    huge[4] = huge[5] = huge[6] = huge[7] = 0xff;
    Problem(Riff({FmtChunk({}), huge}));

    std::vector<uint8_t> fmt = FmtChunk({});
    fmt[7] = 0x80;
    Problem(Riff({fmt, DataChunk(kSamples)}));

    std::vector<uint8_t> odd = DataChunk(kSamples);
    odd[4] -= 1;
    Problem(Riff({FmtChunk({}), odd}));
}

TEST(WavFile, ReadsNothingBeyondTheRiffSize)
{
    std::vector<uint8_t> bytes = Riff({FmtChunk({})});
    const std::vector<uint8_t> data = DataChunk(kSamples);
    bytes.insert(bytes.end(), data.begin(), data.end());
    EXPECT_NE(Problem(bytes).find("no data chunk"), std::string::npos);
}

}  // namespace
}  // namespace recmux_tool
