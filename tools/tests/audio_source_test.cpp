// The audio sources hand the recorder frames that the library's own voice
// decoder reads back as the input signal, stamped by their place in it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "audio_source.h"
#include "test_tone.h"
#include <recmux/zk_voice.h>

namespace recmux_tool {
namespace {

std::vector<AudioFrame> Drain(AudioSource &source)
{
    std::vector<AudioFrame> frames;
    AudioFrame frame;
    while (source.Next(frame))
        frames.push_back(frame);
    EXPECT_FALSE(source.Failed());
    return frames;
}

std::vector<int16_t> Decode(const std::vector<AudioFrame> &frames, int16_t voice)
{
    VoiceCodecState state{};
    EXPECT_EQ(ZK_VOICE_DecReset(&state, voice), ZK_VOICE_OK);
    std::vector<int16_t> pcm;
    for (AudioFrame frame : frames) {
        int16_t block[ZK_VOICE_PCM_MAX];
        uint16_t count = 0;
        EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, frame.bytes.data(), block, &count), ZK_VOICE_OK);
        pcm.insert(pcm.end(), block, block + count);
    }
    return pcm;
}

double SnrDb(const std::vector<int16_t> &reference, const std::vector<int16_t> &decoded)
{
    double signal = 0;
    double noise = 0;
    for (size_t i = 0; i < reference.size(); i++) {
        signal += static_cast<double>(reference[i]) * reference[i];
        const double error = static_cast<double>(decoded[i]) - reference[i];
        noise += error * error;
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

class TempFile {
public:
    TempFile(const std::string &name, const std::vector<uint8_t> &bytes)
        : path_(std::filesystem::temp_directory_path() /
                ("recmux_audio_" + std::to_string(getpid()) + "_" + name))
    {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

class EncodeEveryCode : public ::testing::TestWithParam<int> {};

TEST_P(EncodeEveryCode, FramesDecodeBackToTheToneAtTheirTimes)
{
    const int code = GetParam();
    const int16_t voice = *VoiceCodecFor(code);
    const int per_frame = SamplesPerFrame(voice);
    const std::vector<int16_t> tone = SineSamples(1000, -12, 8000, 8000);
    std::unique_ptr<AudioSource> source = EncodePcm(tone, 8000, code, "tone");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Code(), code);
    const std::vector<AudioFrame> frames = Drain(*source);
    const size_t expected = (tone.size() + per_frame - 1) / per_frame;
    ASSERT_EQ(frames.size(), expected);
    for (size_t i = 0; i < frames.size(); i++)
        EXPECT_EQ(frames[i].offset_us, i * per_frame * 1'000'000 / 8000) << "frame " << i;
    const std::vector<int16_t> decoded = Decode(frames, voice);
    ASSERT_EQ(decoded.size(), expected * per_frame);
    // G.726 at 16 kbit/s is the coarsest; every other codec does better.
    EXPECT_GT(SnrDb(tone, decoded), code == 9 ? 8 : 15) << "code " << code;
}

INSTANTIATE_TEST_SUITE_P(AudioTypes, EncodeEveryCode,
                         ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16));

TEST(EncodePcm, PadsTheLastFrameWithSilence)
{
    std::unique_ptr<AudioSource> source = EncodePcm({1000, -1000}, 16000, 7, "two samples");
    const std::vector<AudioFrame> frames = Drain(*source);
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<int16_t> decoded = Decode(frames, ZK_VOICE_G711_ULAW);
    ASSERT_EQ(decoded.size(), 320u);
    EXPECT_NEAR(decoded[0], 1000, 40);
    EXPECT_NEAR(decoded[1], -1000, 40);
    for (size_t i = 2; i < decoded.size(); i++)
        ASSERT_LE(std::abs(decoded[i]), 8) << "sample " << i;
}

TEST(EncodePcm, RefusesACodeWithoutCodec)
{
    EXPECT_EQ(EncodePcm({1, 2}, 8000, 12, "none"), nullptr);
}

TEST(TestTone, IsALawAt8000HzForTheWholeLength)
{
    std::unique_ptr<AudioSource> tone = OpenTestTone(1.0);
    ASSERT_NE(tone, nullptr);
    EXPECT_EQ(tone->Code(), 6);
    EXPECT_EQ(tone->Rate(), 8000);
    const std::vector<AudioFrame> frames = Drain(*tone);
    ASSERT_EQ(frames.size(), 25u);
    EXPECT_EQ(frames.back().offset_us, 960'000u);
    EXPECT_EQ(frames[0].bytes.size(), 4u + 320);
}

TEST(DeviceAudio, PassesVoiceFramesAsTheyAreAndTimesThemByTheirSamples)
{
    const std::vector<AudioFrame> encoded =
        Drain(*EncodePcm(SineSamples(500, -6, 8000, 1600), 8000, 4, "tone"));
    std::vector<uint8_t> file;
    for (const AudioFrame &frame : encoded)
        file.insert(file.end(), frame.bytes.begin(), frame.bytes.end());
    const TempFile input("frames.g726", file);
    std::unique_ptr<AudioSource> source = OpenAudioFile(input.Path(), 4, std::nullopt);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Rate(), 8000);
    const std::vector<AudioFrame> frames = Drain(*source);
    ASSERT_EQ(frames.size(), encoded.size());
    for (size_t i = 0; i < frames.size(); i++) {
        EXPECT_EQ(frames[i].bytes, encoded[i].bytes);
        EXPECT_EQ(frames[i].offset_us, encoded[i].offset_us);
    }
}

TEST(DeviceAudio, TimesHeaderlessPiecesAsTheRecorderDecodesThem)
{
    const TempFile alaw("headerless.alaw", std::vector<uint8_t>(650, 0xd5));
    std::vector<AudioFrame> frames = Drain(*OpenAudioFile(alaw.Path(), 6, 16000));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].offset_us, 20'000u);
    EXPECT_EQ(frames[2].offset_us, 40'000u);
    EXPECT_EQ(frames[2].bytes.size(), 10u);

    // G.726 cannot decode a 160-word block, so the recorder takes it as PCM.
    const TempFile pcm("headerless.pcm", std::vector<uint8_t>(640, 0));
    frames = Drain(*OpenAudioFile(pcm.Path(), 0, std::nullopt));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].offset_us, 20'000u);
}

TEST(OpenAudioFile, TakesTheRateOfAWavAndRefusesAnotherOne)
{
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 36 + 4, 0, 0, 0, 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                0x80, 0x3e, 0, 0, 0, 0x7d, 0, 0, 2, 0, 16, 0,
                                'd', 'a', 't', 'a', 4, 0, 0, 0, 1, 0, 2, 0};
    const TempFile input("tone.wav", wav);
    std::unique_ptr<AudioSource> source = OpenAudioFile(input.Path(), 6, std::nullopt);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Rate(), 16000);
    EXPECT_EQ(Drain(*source).size(), 1u);
    EXPECT_NE(OpenAudioFile(input.Path(), 6, 16000), nullptr);
    EXPECT_EQ(OpenAudioFile(input.Path(), 6, 8000), nullptr);

    wav[20] = 3;  // float samples
    const TempFile bad("float.wav", wav);
    EXPECT_EQ(OpenAudioFile(bad.Path(), 6, std::nullopt), nullptr);
}

TEST(OpenAudioFile, RefusesAMissingFile)
{
    EXPECT_EQ(OpenAudioFile("/nonexistent/recmux/a.wav", 6, std::nullopt), nullptr);
}

}  // namespace
}  // namespace recmux_tool
