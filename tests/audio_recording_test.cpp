// Recordings with sound: device audio of every type code becomes one AAC track
// that carries the caller's tone, judged by ffprobe and by the decoded signal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "media_fixture.h"
#include "recorder/CMP4Writer.h"
#include "test_files.h"
#include <recmux/zk_voice.h>

namespace recmux {
namespace {

using test::AccessUnit;
using test::DecodeErrors;
using test::Exists;
using test::RunCommand;
using test::TempDir;

constexpr uint64_t kStart = 1000000;
constexpr double kToneHz = 1000.0;

const std::vector<AccessUnit> &Video()
{
    static TempDir dir;
    static const std::vector<AccessUnit> units = [] {
        const std::string path = dir.Path("video.h264");
        if (!test::MakeElementaryStream(path, 750, "-c:v libx264 -bf 0 -g 25 -f h264"))
            return std::vector<AccessUnit>();
        return test::SplitAccessUnits(path);
    }();
    return units;
}

// The voice-codec identifier behind each recorder audio type code.
int16_t IdentifierOf(int32_t code)
{
    static const std::map<int32_t, int16_t> identifiers = {
        {0, 7}, {1, 7}, {2, 3}, {3, 39}, {4, 38}, {5, 37}, {6, 1},
        {7, 2}, {8, 5}, {9, 4}, {10, 1}, {11, 2}, {16, 35}};
    return identifiers.at(code);
}

std::vector<int16_t> Tone(int rate, double seconds)
{
    std::vector<int16_t> pcm(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * kToneHz * i / rate));
    return pcm;
}

// Voice frames of the tone as a device sends them, one per 40 ms (41 for 35).
std::vector<std::vector<uint8_t>> DeviceFrames(int32_t code, const std::vector<int16_t> &pcm)
{
    const int16_t identifier = IdentifierOf(code);
    const size_t per_frame = identifier == 35 ? 321 : 320;
    VoiceCodecState state;
    ZK_VOICE_EncReset(&state, identifier);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; at + per_frame <= pcm.size(); at += per_frame) {
        uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
        if (ZK_VOICE_EncodeFrame(&state, pcm.data() + at, frame, static_cast<uint16_t>(per_frame)) != 0)
            return {};
        frames.emplace_back(frame, frame + 4 + 2 * frame[2]);
    }
    return frames;
}

struct Recording {
    int32_t code = 6;
    int32_t rate = 8000;
    int32_t file_type = 0;
    std::vector<std::vector<uint8_t>> audio;
    double audio_frame_seconds = 0.04;
};

// Video at 25 fps and audio frames interleaved by their timestamps.
void Feed(IWriter &writer, const std::vector<AccessUnit> &video, const Recording &r)
{
    size_t next_audio = 0;
    for (size_t i = 0; i < video.size(); i++) {
        const uint64_t pts = kStart + i * 40000;
        for (; next_audio < r.audio.size() &&
               kStart + static_cast<uint64_t>(next_audio * r.audio_frame_seconds * 1e6) <= pts;
             next_audio++)
            writer.WriteAudio(r.audio[next_audio].data(),
                              static_cast<uint32_t>(r.audio[next_audio].size()), pts);
        writer.WriteVideo(video[i].bytes.data(), static_cast<uint32_t>(video[i].bytes.size()), pts,
                          video[i].key);
    }
}

bool Record(const std::string &path, const Recording &r)
{
    CMP4Writer writer;
    if (!writer.Open(path.c_str()))
        return false;
    writer.SetFileType(r.file_type);
    writer.InitAudio(r.code, 1, r.rate, 16);
    Feed(writer, Video(), r);
    return writer.Close();
}

std::string ProbeAudio(const std::string &path, const std::string &entry)
{
    std::string value = RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=" +
                                   entry + " -of default=nw=1:nk=1 '" + path + "'");
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

std::vector<int16_t> DecodedAudio(const std::string &path, int rate)
{
    const std::string raw = RunCommand("ffmpeg -nostdin -v error -i '" + path +
                                       "' -map 0:a:0 -f s16le -ac 1 -ar " + std::to_string(rate) +
                                       " -");
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

// Power at one frequency (Goertzel), in dB relative to a full-scale sine.
double LevelAt(const std::vector<int16_t> &pcm, double hz, int rate)
{
    const double w = 2 * M_PI * hz / rate, coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (int16_t x : pcm) {
        const double s0 = x / 32768.0 + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 10 * std::log10(power / (pcm.size() * pcm.size() / 4.0) + 1e-30);
}

void ExpectTone(const std::string &mp4, int rate, const std::string &what)
{
    EXPECT_EQ(ProbeAudio(mp4, "codec_name"), "aac") << what;
    EXPECT_EQ(ProbeAudio(mp4, "channels"), "1") << what;
    EXPECT_EQ(ProbeAudio(mp4, "sample_rate"), std::to_string(rate)) << what;
    const double video = std::stod(test::ProbeVideo(mp4, "duration"));
    const double audio = std::stod(ProbeAudio(mp4, "duration"));
    EXPECT_NEAR(audio, video, 2 * 1024.0 / rate + 0.05) << what;
    const std::vector<int16_t> pcm = DecodedAudio(mp4, rate);
    ASSERT_GT(pcm.size(), static_cast<size_t>(rate)) << what;
    // A sine of amplitude 8000 lies 12.3 dB below full scale.
    const std::vector<int16_t> middle(pcm.begin() + rate / 2, pcm.end() - rate / 2);
    EXPECT_NEAR(LevelAt(middle, kToneHz, rate), -12.3, 2.0) << what;
    EXPECT_LT(LevelAt(middle, 1700, rate), -40) << what;
    EXPECT_EQ(DecodeErrors(mp4), "") << what;
}

TEST(AudioRecording, EveryAudioTypeCodeCarriesTheTone)
{
    ASSERT_EQ(Video().size(), 750u);
    const std::vector<int16_t> tone = Tone(8000, 30.5);
    TempDir dir;
    for (int32_t code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16}) {
        Recording r;
        r.code = code;
        r.audio = DeviceFrames(code, tone);
        r.audio_frame_seconds = IdentifierOf(code) == 35 ? 321 / 8000.0 : 0.04;
        ASSERT_FALSE(r.audio.empty()) << code;
        const std::string mp4 = dir.Path("code" + std::to_string(code) + ".mp4");
        ASSERT_TRUE(Record(mp4, r)) << code;
        ExpectTone(mp4, 8000, "code " + std::to_string(code));
    }
}

TEST(AudioRecording, OtherRatesAndHeaderlessPacketsKeepTheirSound)
{
    TempDir dir;
    Recording wide;
    wide.rate = 16000;
    wide.audio = DeviceFrames(6, Tone(16000, 30.5));
    wide.audio_frame_seconds = 0.02;
    ASSERT_TRUE(Record(dir.Path("wide.mp4"), wide));
    ExpectTone(dir.Path("wide.mp4"), 16000, "16 kHz");

    // A rate the AAC encoder refuses is recorded at its nearest one, resampled.
    Recording odd;
    odd.rate = 12345;
    odd.audio = DeviceFrames(6, Tone(12345, 30.5));
    odd.audio_frame_seconds = 320 / 12345.0;
    ASSERT_TRUE(Record(dir.Path("odd.mp4"), odd));
    ExpectTone(dir.Path("odd.mp4"), 12000, "12345 Hz");

    // Many devices send G.711 as 160-byte packets without a header (20 ms).
    Recording headerless;
    for (const auto &frame : DeviceFrames(6, Tone(8000, 30.5))) {
        headerless.audio.emplace_back(frame.begin() + 4, frame.begin() + 4 + 160);
        headerless.audio.emplace_back(frame.begin() + 4 + 160, frame.end());
    }
    headerless.audio_frame_seconds = 0.02;
    ASSERT_TRUE(Record(dir.Path("headerless.mp4"), headerless));
    ExpectTone(dir.Path("headerless.mp4"), 8000, "headerless");
}

std::vector<std::pair<long, long>> AudioPackets(const std::string &path)
{
    std::istringstream lines(RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                                        "packet=pts,duration -of csv=p=0 '" + path + "'"));
    std::vector<std::pair<long, long>> packets;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty())
            continue;
        const size_t comma = line.find(',');
        packets.emplace_back(std::stol(line.substr(0, comma)), std::stol(line.substr(comma + 1)));
    }
    return packets;
}

TEST(AudioRecording, PacketsAreWholeEncoderFramesAndStartWithTheVideo)
{
    TempDir dir;
    Recording r;
    r.audio = DeviceFrames(6, Tone(8000, 30.5));
    const std::string mp4 = dir.Path("cam.mp4");
    ASSERT_TRUE(Record(mp4, r));
    const auto packets = AudioPackets(mp4);
    ASSERT_GT(packets.size(), 70u);
    for (size_t i = 0; i < packets.size(); i++) {
        EXPECT_EQ(packets[i].second, 1024) << i;
        EXPECT_EQ(packets[i].first, static_cast<long>(i) * 1024 - 1024) << i;
    }
    const double audio_start = std::stod(ProbeAudio(mp4, "start_time"));
    const double video_start = std::stod(test::ProbeVideo(mp4, "start_time"));
    EXPECT_NEAR(audio_start, video_start, 0.001);
}

TEST(AudioRecordingThreads, AudioFromAnotherThreadThanVideo)
{
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    const auto audio = DeviceFrames(6, Tone(8000, 30.5));
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    writer.InitAudio(6, 1, 8000, 16);
    std::thread video([&] {
        Recording none;
        Feed(writer, Video(), none);
    });
    // Audio counts only once the first key frame is in.
    uint64_t begin = 0;
    while (!writer.GetBeginPts(&begin))
        std::this_thread::yield();
    for (const auto &frame : audio) {
        writer.WriteAudio(frame.data(), static_cast<uint32_t>(frame.size()), kStart);
        std::this_thread::yield();
    }
    video.join();
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(ProbeAudio(mp4, "codec_name"), "aac");
    EXPECT_EQ(test::ProbeVideo(mp4, "nb_read_frames"), "750");
}

TEST(AudioRecording, ContinuationKeepsTheOldRateAndFillsAGapWithSilence)
{
    TempDir dir;
    const std::string wide = dir.Path("wide.mp4");
    Recording r;
    r.rate = 16000;
    r.audio = DeviceFrames(6, Tone(16000, 30.5));
    r.audio_frame_seconds = 0.02;
    ASSERT_TRUE(Record(wide, r));
    ASSERT_TRUE(Record(wide, r));
    EXPECT_EQ(ProbeAudio(wide, "sample_rate"), "16000");
    EXPECT_NEAR(std::stod(ProbeAudio(wide, "duration")),
                std::stod(test::ProbeVideo(wide, "duration")), 0.3);

    // A video-only recording continued with sound: the sound starts at the old video's end.
    const std::string mute = dir.Path("mute.mp4");
    {
        CMP4Writer writer;
        ASSERT_TRUE(writer.Open(mute.c_str()));
        Feed(writer, Video(), Recording{});
        ASSERT_TRUE(writer.Close());
    }
    Recording sound;
    sound.audio = DeviceFrames(6, Tone(8000, 30.5));
    ASSERT_TRUE(Record(mute, sound));
    const std::vector<int16_t> pcm = DecodedAudio(mute, 8000);
    ASSERT_GT(pcm.size(), 8000u * 59);
    const std::vector<int16_t> first(pcm.begin() + 8000, pcm.begin() + 8000 * 29);
    const std::vector<int16_t> second(pcm.begin() + 8000 * 31, pcm.begin() + 8000 * 59);
    EXPECT_LT(LevelAt(first, kToneHz, 8000), -60);
    EXPECT_NEAR(LevelAt(second, kToneHz, 8000), -12.3, 2.0);
}

TEST(AudioRecording, AudioWithoutVideoIsBoundedToThirtySeconds)
{
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    Recording r;
    r.audio = DeviceFrames(6, Tone(8000, 30.5));
    ASSERT_TRUE(Record(mp4, r));
    // Continuing sets the output up at once; after one key frame only audio comes.
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(mp4.c_str()));
    writer.InitAudio(6, 1, 8000, 16);
    const AccessUnit &key = Video().front();
    ASSERT_TRUE(writer.WriteVideo(key.bytes.data(), static_cast<uint32_t>(key.bytes.size()), kStart, 1));
    const auto frames = DeviceFrames(6, Tone(8000, 30.5));
    for (int round = 0; round < 2; round++)
        for (const auto &frame : frames)
            writer.WriteAudio(frame.data(), static_cast<uint32_t>(frame.size()), kStart);
    EXPECT_GT(writer.BufferedAudioSamples(), 8000 * 29);
    EXPECT_LE(writer.BufferedAudioSamples(), 8000 * 30);
    EXPECT_TRUE(writer.Close());
}

std::vector<AccessUnit> LongVideo()
{
    static TempDir dir;
    const std::string stream = dir.Path("long.h264");
    if (!test::MakeElementaryStream(stream, 700, "-c:v libx264 -bf 0 -g 25 -f h264"))
        return {};
    return test::SplitAccessUnits(stream);
}

TEST(AudioRecording, KilledFragmentedRecordingWithAudioStaysReadable)
{
    const auto video = LongVideo();
    ASSERT_EQ(video.size(), 700u);
    TempDir dir;
    const std::string mp4 = dir.Path("cam.mp4");
    ASSERT_TRUE(test::DiesBySigkill([&] {
        CMP4Writer writer;
        writer.Open(mp4.c_str());
        writer.SetFileType(1);
        writer.InitAudio(6, 1, 8000, 16);
        Recording r;
        r.audio = DeviceFrames(6, Tone(8000, 26));
        std::vector<AccessUnit> first(video.begin(), video.begin() + 650);
        Feed(writer, first, r);
        test::KillSelf();
    }));
    EXPECT_GE(std::stoi(test::ProbeVideo(mp4 + ".tmp", "nb_read_frames")), 300);
    EXPECT_EQ(ProbeAudio(mp4 + ".tmp", "codec_name"), "aac");
}

std::string g_stream;

int Collect(void *, uint8_t *buf, int size)
{
    g_stream.append(reinterpret_cast<char *>(buf), static_cast<size_t>(size));
    return size;
}

size_t Count(const std::string &bytes, const std::string &what)
{
    size_t n = 0;
    for (size_t at = bytes.find(what); at != std::string::npos; at = bytes.find(what, at + 1))
        n++;
    return n;
}

TEST(AudioRecording, AnAudioStreamWithoutPacketsHoldsNoVideoBack)
{
    const std::vector<AccessUnit> video = LongVideo();
    g_stream.clear();
    CMP4Writer writer;
    ASSERT_TRUE(writer.OpenWithCallback(nullptr, Collect));
    writer.InitAudio(6, 1, 8000, 16);
    std::vector<AccessUnit> first(video.begin(), video.begin() + 650);
    Feed(writer, first, Recording{});
    uint64_t end = 0;
    ASSERT_TRUE(writer.GetEndPts(&end));
    // Fragments close every 200 ms: each finished one has reached the callback.
    const size_t written = (end - kStart) / 40000 + 1;
    EXPECT_GE(Count(g_stream, "moof"), written / 5 - 2);
    ASSERT_TRUE(writer.Close());
}

}  // namespace
}  // namespace recmux
