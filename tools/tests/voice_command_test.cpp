// `recmux voice` end to end: a WAV goes through the tool's encode and decode
// (and transcode) and comes back within the codec's expected quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "file_bytes.h"
#include "test_tone.h"
#include "wav_file.h"

namespace recmux_tool {
namespace {

class VoiceCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "recmux-voice-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        // Two tones an octave and a half apart, at -12 dBFS and -18 dBFS.
        WavAudio wav{8000, SineSamples(440, -12, 8000, 16000)};
        const std::vector<int16_t> high = SineSamples(1700, -18, 8000, 16000);
        for (size_t i = 0; i < wav.samples.size(); i++)
            wav.samples[i] = static_cast<int16_t>(wav.samples[i] + high[i]);
        original_ = wav.samples;
        ASSERT_TRUE(WriteWholeFile(Path("in.wav"), *WavBytes(wav)));
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const std::string &name) const { return (dir_ / name).string(); }

    // The tool's exit status for `recmux voice ARGS`, its output kept quiet.
    int Voice(const std::string &args) const
    {
        const std::string command = std::string("'") + RECMUX_TOOL + "' voice " + args +
                                    " >'" + Path("log") + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<int16_t> ReadWav(const std::string &name) const
    {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadAudioFile(Path(name), bytes));
        std::string problem;
        const std::optional<WavAudio> wav = ParseWav(bytes, &problem);
        EXPECT_TRUE(wav) << problem;
        EXPECT_EQ(wav ? wav->rate : 0, 8000);
        return wav ? wav->samples : std::vector<int16_t>{};
    }

    // Signal to noise over the original's length; the last frame was padded.
    double SnrDb(const std::vector<int16_t> &decoded) const
    {
        EXPECT_GE(decoded.size(), original_.size());
        double signal = 0, noise = 0;
        for (size_t i = 0; i < std::min(original_.size(), decoded.size()); i++) {
            const double error = static_cast<double>(decoded[i]) - original_[i];
            signal += static_cast<double>(original_[i]) * original_[i];
            noise += error * error;
        }
        return 10 * std::log10(signal / std::max(noise, 1.0));
    }

    std::filesystem::path dir_;
    std::vector<int16_t> original_;
};

struct Codec {
    int id;
    double min_snr_db;  // a few dB under what a correct codec gives on this signal
};

class ToolRoundTrip : public VoiceCommand, public ::testing::WithParamInterface<Codec> {};

TEST_P(ToolRoundTrip, DecodesBackWithinTheCodecsQuality)
{
    const Codec codec = GetParam();
    const std::string id = std::to_string(codec.id);
    ASSERT_EQ(Voice("encode '" + Path("in.wav") + "' '" + Path("v.frames") + "' --codec " + id), 0);
    ASSERT_EQ(Voice("decode '" + Path("v.frames") + "' '" + Path("out.wav") + "' --codec " + id),
              0);
    EXPECT_GT(SnrDb(ReadWav("out.wav")), codec.min_snr_db);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, ToolRoundTrip,
    // Measured: G.711 37, G.726 at 40/32/24/16 kbit/s 30/27/21/14, IMA ADPCM 23 dB.
    ::testing::Values(Codec{1, 34}, Codec{2, 34}, Codec{65, 34}, Codec{7, 27}, Codec{38, 24},
                      Codec{5, 18}, Codec{36, 11}, Codec{3, 20}, Codec{35, 20}, Codec{67, 20}),
    [](const auto &info) { return "codec_" + std::to_string(info.param.id); });

TEST_F(VoiceCommand, TranscodedFramesDecodeAsTheTargetCodec)
{
    ASSERT_EQ(Voice("encode '" + Path("in.wav") + "' '" + Path("swapped") + "' --codec 65"), 0);
    ASSERT_EQ(Voice("decode '" + Path("swapped") + "' '" + Path("a.wav") + "' --codec 65"), 0);
    ASSERT_EQ(Voice("transcode '" + Path("swapped") + "' '" + Path("alaw") + "' --mode 97"), 0);
    ASSERT_EQ(Voice("decode '" + Path("alaw") + "' '" + Path("b.wav") + "' --codec 1"), 0);
    EXPECT_EQ(ReadWav("a.wav"), ReadWav("b.wav"));

    ASSERT_EQ(Voice("encode '" + Path("in.wav") + "' '" + Path("raw") + "' --codec 67"), 0);
    ASSERT_EQ(Voice("transcode '" + Path("raw") + "' '" + Path("ima") + "' --mode 99"), 0);
    ASSERT_EQ(Voice("decode '" + Path("ima") + "' '" + Path("c.wav") + "' --codec 3"), 0);
    EXPECT_GT(SnrDb(ReadWav("c.wav")), 20);
}

TEST_F(VoiceCommand, RefusesFramesThatAreNotWhole)
{
    ASSERT_EQ(Voice("encode '" + Path("in.wav") + "' '" + Path("v.frames") + "' --codec 1"), 0);
    std::vector<uint8_t> frames;
    ASSERT_TRUE(ReadAudioFile(Path("v.frames"), frames));
    frames.pop_back();
    ASSERT_TRUE(WriteWholeFile(Path("cut.frames"), frames));
    EXPECT_EQ(Voice("decode '" + Path("cut.frames") + "' '" + Path("out.wav") + "' --codec 1"), 1);
    EXPECT_EQ(Voice("transcode '" + Path("cut.frames") + "' '" + Path("t") + "' --mode 97"), 1);
    EXPECT_EQ(Voice("encode '" + Path("in.wav") + "' '" + Path("x") + "' --codec 3 --samples 100"),
              1);
    EXPECT_FALSE(std::filesystem::exists(Path("out.wav")));
}

}  // namespace
}  // namespace recmux_tool
