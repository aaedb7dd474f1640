// The audio sources hand the recorder frames that the library's voice decoder, chosen
// by the library's own audio type mapping, reads back as the input, stamped by their
// place in it.
#include <gtest/gtest.h>

#include <cmath>

#include "audio_source.h"
#include "test_tone.h"
#include "tool_test_support.h"
#include <recmux/recmux_writer.h>
#include <recmux/zk_voice.h>

namespace recmux_tool {
namespace {

std::vector<AudioFrame> DrainAudio(AudioSource &source)
{
    return Drain<AudioFrame>(source);
}

std::vector<int16_t> Decode(const std::vector<AudioFrame> &frames, int code)
{
    VoiceCodecState state{};
    EXPECT_EQ(ZK_VOICE_DecReset(&state, recmux_audio_voice_codec(code)), ZK_VOICE_OK);
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
        noise += std::pow(static_cast<double>(decoded[i]) - reference[i], 2);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

class EncodeEveryCode : public ::testing::TestWithParam<int> {};

TEST_P(EncodeEveryCode, FramesDecodeBackToTheToneAtTheirTimes)
{
    const int code = GetParam();
    const int per_frame = SamplesPerFrame(recmux_audio_voice_codec(code));
    const std::vector<int16_t> tone = SineSamples(1000, -12, 8000, 8000);
    std::unique_ptr<AudioSource> source = EncodePcm(tone, 8000, code, "tone");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Code(), code);
    const std::vector<AudioFrame> frames = DrainAudio(*source);
    ASSERT_EQ(frames.size(), (tone.size() + per_frame - 1) / per_frame);
    for (size_t i = 0; i < frames.size(); i++)
        EXPECT_EQ(frames[i].offset_us, i * per_frame * 1'000'000 / 8000) << "frame " << i;
    const std::vector<int16_t> decoded = Decode(frames, code);
    ASSERT_EQ(decoded.size(), frames.size() * per_frame);
    // G.726 at 16 kbit/s is the coarsest; every other codec does better.
    EXPECT_GT(SnrDb(tone, decoded), code == RECMUX_AUDIO_G726_16 ? 8 : 15);
}

INSTANTIATE_TEST_SUITE_P(
    AudioTypes, EncodeEveryCode,
    ::testing::Values(RECMUX_AUDIO_G726_40, RECMUX_AUDIO_G726_40_ALT, RECMUX_AUDIO_IMA_ADPCM, RECMUX_AUDIO_G726_40_MSB,
                      RECMUX_AUDIO_G726_32_MSB, RECMUX_AUDIO_G726_24_MSB, RECMUX_AUDIO_G711_ALAW,
                      RECMUX_AUDIO_G711_ULAW, RECMUX_AUDIO_G726_24, RECMUX_AUDIO_G726_16,
                      RECMUX_AUDIO_G711_ALAW_ALT, RECMUX_AUDIO_G711_ULAW_ALT, RECMUX_AUDIO_IMA_ADPCM_WAVE));

TEST(EncodePcm, PadsTheLastFrameWithSilenceAndRefusesACodeWithoutCodec)
{
    const std::vector<AudioFrame> frames =
        DrainAudio(*EncodePcm({1000, -1000}, 16000, RECMUX_AUDIO_G711_ULAW, "two samples"));
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<int16_t> decoded = Decode(frames, RECMUX_AUDIO_G711_ULAW);
    ASSERT_EQ(decoded.size(), 320u);
    EXPECT_NEAR(decoded[0], 1000, 40);
    EXPECT_NEAR(decoded[1], -1000, 40);
    for (size_t i = 2; i < decoded.size(); i++)
        ASSERT_LE(std::abs(decoded[i]), 8) << "sample " << i;
    EXPECT_EQ(EncodePcm({1, 2}, 8000, 12, "none"), nullptr);
}

TEST(TestTone, IsALawAt8000HzForTheWholeLength)
{
    std::unique_ptr<AudioSource> tone = OpenTestTone(1.0);
    ASSERT_NE(tone, nullptr);
    EXPECT_EQ(tone->Code(), RECMUX_AUDIO_G711_ALAW);
    EXPECT_EQ(tone->Rate(), 8000);
    const std::vector<AudioFrame> frames = DrainAudio(*tone);
    ASSERT_EQ(frames.size(), 25u);
    EXPECT_EQ(frames.back().offset_us, 960'000u);
}

TEST(DeviceAudio, PassesVoiceFramesAsTheyAreAndTimesHeaderlessPiecesByTheirSamples)
{
    const std::vector<AudioFrame> encoded =
        DrainAudio(*EncodePcm(SineSamples(500, -6, 8000, 1600), 8000, RECMUX_AUDIO_G726_32_MSB, "tone"));
    std::vector<uint8_t> file;
    for (const AudioFrame &frame : encoded)
        file.insert(file.end(), frame.bytes.begin(), frame.bytes.end());
    const TempFile input("frames.g726", file);
    std::unique_ptr<AudioSource> source = OpenAudioFile(input.Path(), RECMUX_AUDIO_G726_32_MSB, std::nullopt);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Rate(), 8000);
    const std::vector<AudioFrame> frames = DrainAudio(*source);
    ASSERT_EQ(frames.size(), encoded.size());
    for (size_t i = 0; i < frames.size(); i++) {
        EXPECT_EQ(frames[i].bytes, encoded[i].bytes);
        EXPECT_EQ(frames[i].offset_us, encoded[i].offset_us);
    }

    const TempFile alaw("headerless.alaw", std::vector<uint8_t>(650, 0xd5));
    std::vector<AudioFrame> pieces = DrainAudio(*OpenAudioFile(alaw.Path(), RECMUX_AUDIO_G711_ALAW, 16000));
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[2].offset_us, 40'000u);
    // G.726 cannot decode a 160-word block, so the recorder takes it as PCM.
    const TempFile pcm("headerless.pcm", std::vector<uint8_t>(640, 0));
    pieces = DrainAudio(*OpenAudioFile(pcm.Path(), RECMUX_AUDIO_G726_40, std::nullopt));
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[1].offset_us, 20'000u);
}

TEST(OpenAudioFile, TakesTheRateOfAWavAndRefusesAnotherOne)
{
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 36 + 4, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0x3e, 0, 0, 0, 0x7d, 0, 0,
                                2, 0, 16, 0, 'd', 'a', 't', 'a', 4, 0, 0, 0, 1, 0, 2, 0};
    const TempFile input("tone.wav", wav);
    std::unique_ptr<AudioSource> source = OpenAudioFile(input.Path(), RECMUX_AUDIO_G711_ALAW, std::nullopt);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Rate(), 16000);
    EXPECT_EQ(DrainAudio(*source).size(), 1u);
    EXPECT_NE(OpenAudioFile(input.Path(), RECMUX_AUDIO_G711_ALAW, 16000), nullptr);
    EXPECT_EQ(OpenAudioFile(input.Path(), RECMUX_AUDIO_G711_ALAW, 8000), nullptr);
    wav[20] = 3;  // float samples
    const TempFile bad("float.wav", wav);
    EXPECT_EQ(OpenAudioFile(bad.Path(), RECMUX_AUDIO_G711_ALAW, std::nullopt), nullptr);
    EXPECT_EQ(OpenAudioFile("/nonexistent/recmux/a.wav", RECMUX_AUDIO_G711_ALAW, std::nullopt), nullptr);
}

}  // namespace
}  // namespace recmux_tool
