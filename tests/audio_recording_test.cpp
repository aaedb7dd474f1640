// Recordings with sound: device audio of every type code becomes one AAC track
// that carries the caller's tone, judged by ffprobe and by the decoded signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstring>
#include <string>
#include <vector>

#include <recmux/recmux_writer.h>
#include <recmux/zk_voice.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

constexpr uint64_t kStart = 1000000;
constexpr double kToneHz = 1000.0;
constexpr double kSeconds = 12;

using Frames = std::vector<std::vector<uint8_t>>;

std::vector<int16_t> Tone(int rate)
{
    std::vector<int16_t> pcm(static_cast<size_t>(rate * (kSeconds + 0.5)));
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * kToneHz * i / rate));
    return pcm;
}

// Voice frames of the tone as a device sends them, of per_frame samples each.
Frames DeviceFrames(int32_t audio_type, int rate, size_t per_frame = 320)
{
    const std::vector<int16_t> pcm = Tone(rate);
    VoiceCodecState state;
    ZK_VOICE_EncReset(&state, recmux_audio_voice_codec(audio_type));
    Frames frames;
    for (size_t at = 0; at + per_frame <= pcm.size(); at += per_frame) {
        uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
        if (ZK_VOICE_EncodeFrame(&state, pcm.data() + at, frame, static_cast<uint16_t>(per_frame)) != 0)
            return {};
        frames.emplace_back(frame, frame + 4 + 2 * frame[2]);
    }
    return frames;
}

// Video at 25 fps with the audio frames interleaved by their timestamps (no sound
// described for a negative type); what close returned.
int Record(const std::string &path, int32_t audio_type, int rate, const Frames &audio, double frame_seconds)
{
    recmux_writer *writer = recmux_writer_open(path.c_str());
    if (audio_type >= 0)
        recmux_writer_init_audio(writer, audio_type, 1, rate, 16);
    const Units &video = H264(300);
    size_t next = 0;
    for (size_t i = 0; i < kSeconds * 25; i++) {
        const uint64_t pts = kStart + i * 40000;
        for (; next < audio.size() && kStart + static_cast<uint64_t>(next * frame_seconds * 1e6) <= pts; next++)
            recmux_writer_write_audio(writer, audio[next].data(), static_cast<uint32_t>(audio[next].size()), pts);
        WriteUnits(writer, {video[i % video.size()]}, pts);
    }
    return recmux_writer_close(&writer);
}

std::vector<int16_t> DecodedAudio(const std::string &path, int rate)
{
    const std::string raw = RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:0 -f s16le -ac 1 -ar " +
                                       std::to_string(rate) + " -");
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

// Power at one frequency (Goertzel) in seconds from..to, in dB relative to a full-scale sine.
double LevelAt(const std::vector<int16_t> &pcm, double hz, int rate, double from, double to)
{
    const double w = 2 * std::numbers::pi * hz / rate, coefficient = 2 * std::cos(w);
    const size_t begin = static_cast<size_t>(from * rate), end = std::min(pcm.size(), size_t(to * rate));
    double s1 = 0, s2 = 0;
    for (size_t i = begin; i < end; i++) {
        const double s0 = pcm[i] / 32768.0 + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double n = static_cast<double>(end - begin);
    return 10 * std::log10((s1 * s1 + s2 * s2 - coefficient * s1 * s2) / (n * n / 4.0) + 1e-30);
}

void ExpectTone(const std::string &mp4, int rate)
{
    EXPECT_EQ(Probe(mp4, "codec_name,sample_rate,channels", "a:0"), "aac," + std::to_string(rate) + ",1");
    // Neither priming nor padding counts: the sound lasts as long as the picture.
    EXPECT_NEAR(std::stod(Probe(mp4, "duration", "a:0")), std::stod(Probe(mp4, "duration")), 0.04);
    EXPECT_NEAR(std::stod(Probe(mp4, "start_time", "a:0")), std::stod(Probe(mp4, "start_time")), 0.001);
    const std::vector<int16_t> pcm = DecodedAudio(mp4, rate);
    ASSERT_GT(pcm.size(), (kSeconds - 1) * rate);
    // A sine of amplitude 8000 lies 12.3 dB below full scale.
    EXPECT_NEAR(LevelAt(pcm, kToneHz, rate, 0.5, kSeconds - 0.5), -12.3, 2.0);
    EXPECT_LT(LevelAt(pcm, 1700, rate, 0.5, kSeconds - 0.5), -40);
    EXPECT_EQ(DecodeErrors(mp4), "");
    // Whole encoder frames from the first sample on, no priming: the last as long as what was left.
    const auto packets = Packets(mp4, "a:0", "pts");
    for (size_t i = 0; i < packets.size(); i++)
        ASSERT_EQ(packets[i], std::to_string(static_cast<long>(i) * 1024)) << i;
}

TEST(AudioRecording, EveryAudioTypeAndRateCarriesTheTone)
{
    struct Case {
        int32_t type;
        int rate, recorded;  // a rate the AAC encoder refuses is resampled to its nearest
        bool headerless = false;
    };
    std::vector<Case> cases = {{RECMUX_AUDIO_G711_ALAW, 16000, 16000},
                               {RECMUX_AUDIO_G711_ALAW, 12345, 12000},
                               {RECMUX_AUDIO_G711_ALAW, 8000, 8000, true}};
    for (int32_t type = 0; type <= RECMUX_AUDIO_IMA_ADPCM_WAVE; type++) {
        if (recmux_audio_voice_codec(type))
            cases.push_back({type, 8000, 8000});
    }
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " at " + std::to_string(c.rate) + (c.headerless ? ", headerless" : ""));
        // The wave-form ADPCM frame holds one sample more; headerless, a frame's payload is half a packet.
        const size_t per_frame = c.type == RECMUX_AUDIO_IMA_ADPCM_WAVE ? 321 : c.headerless ? 160 : 320;
        Frames frames = DeviceFrames(c.type, c.rate, per_frame);
        ASSERT_FALSE(frames.empty());
        for (auto &frame : frames)
            frame.erase(frame.begin(), frame.begin() + (c.headerless ? 4 : 0));
        const std::string mp4 = dir.Path("cam" + std::to_string(&c - cases.data()) + ".mp4");
        ASSERT_EQ(Record(mp4, c.type, c.rate, frames, static_cast<double>(per_frame) / c.rate), 0);
        ExpectTone(mp4, c.recorded);
    }
}

TEST(AudioRecording, ContinuationKeepsTheOldRateAndFillsAGapWithSilence)
{
    TempDir dir;
    const std::string wide = dir.Path("wide.mp4");
    const Frames frames = DeviceFrames(RECMUX_AUDIO_G711_ALAW, 16000);
    for (int session = 0; session < 2; session++)
        ASSERT_EQ(Record(wide, RECMUX_AUDIO_G711_ALAW, 16000, frames, 0.02), 0);
    EXPECT_EQ(Probe(wide, "sample_rate", "a:0"), "16000");
    EXPECT_NEAR(std::stod(Probe(wide, "duration", "a:0")), std::stod(Probe(wide, "duration")), 0.04);
    const std::vector<int16_t> both = DecodedAudio(wide, 16000);
    for (int session = 0; session < 2; session++)
        EXPECT_NEAR(LevelAt(both, kToneHz, 16000, session * kSeconds + 0.5, (session + 1) * kSeconds - 0.5),
                    -12.3, 2.0) << "the sound of session " << session;
    // Nothing lost at the join: past the new encoder's first frame (64 ms) the tone plays on.
    EXPECT_NEAR(LevelAt(both, kToneHz, 16000, kSeconds + 0.07, kSeconds + 0.3), -12.3, 2.0);

    // A recording without sound continued with sound: the sound starts at the old video's end.
    const std::string mute = dir.Path("mute.mp4");
    ASSERT_EQ(Record(mute, -1, 8000, {}, 0.04), 0);
    ASSERT_EQ(Record(mute, RECMUX_AUDIO_G711_ALAW, 8000,
                     DeviceFrames(RECMUX_AUDIO_G711_ALAW, 8000), 0.04), 0);
    const std::vector<int16_t> pcm = DecodedAudio(mute, 8000);
    ASSERT_GT(pcm.size(), 8000 * (2 * kSeconds - 1));
    EXPECT_LT(LevelAt(pcm, kToneHz, 8000, 1, kSeconds - 1), -60);
    EXPECT_NEAR(LevelAt(pcm, kToneHz, 8000, kSeconds + 1, 2 * kSeconds - 1), -12.3, 2.0);
}

// Fragments close every 200 ms whether or not the described sound ever comes.
TEST(AudioRecording, AnAudioStreamWithoutPacketsHoldsNoVideoBack)
{
    std::string stream;
    recmux_writer *writer = recmux_writer_open_and_set_callback(&stream, AppendTo);
    ASSERT_EQ(recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16), 0);
    ASSERT_EQ(WriteUnits(writer, H264(300), kStart), 300u);
    uint64_t end = 0;
    ASSERT_EQ(recmux_writer_get_end_pts(writer, &end), 0);
    size_t fragments = 0;
    for (size_t at = stream.find("moof"); at != std::string::npos; at = stream.find("moof", at + 1))
        fragments++;
    EXPECT_GE(fragments, (end - kStart) / 40000 / 5 - 2);
    EXPECT_EQ(recmux_writer_close(&writer), 0);
}

}  // namespace
