// Recordings keep the camera's time: the packet times ffprobe reads back are
// held against the timestamps fed, for the patterns real cameras send, with
// sound, plain and fragmented, through the exported functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>
#include "test_files.h"

namespace {

using recmux::test::ReadAll;
using recmux::test::TempDir;

constexpr uint64_t kStart = 5000000000;
constexpr uint64_t kAudioPacket = 20000;  // 160 A-law samples at 8 kHz
constexpr int kAlaw = 6;

struct AccessUnit {
    std::string bytes;
    bool key;
};

// A small H.264 clip with access unit delimiters, cut at them; cycled as a camera's stream.
const std::vector<AccessUnit> &Clip()
{
    static TempDir dir;
    static const std::vector<AccessUnit> units = [] {
        const std::string path = dir.Path("clip.h264");
        const std::string command =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=64x64:rate=25 -frames:v 50 "
            "-c:v libx264 -bf 0 -g 25 -x264-params aud=1 -f h264 '" + path + "'";
        std::vector<AccessUnit> cut;
        if (std::system(command.c_str()) != 0)
            return cut;
        const std::string stream = ReadAll(path);
        const std::string delimiter("\0\0\0\x01\x09", 5);
        for (size_t at = stream.find(delimiter); at != std::string::npos;) {
            const size_t next = stream.find(delimiter, at + 1);
            std::string unit = stream.substr(at, next - at);
            const bool key = unit.find(std::string("\0\0\x01\x65", 4)) != std::string::npos;
            cut.push_back({std::move(unit), key});
            at = next;
        }
        return cut;
    }();
    return units;
}

// What a camera sends: the timestamps of its video frames and voice packets,
// and the frame interval around each frame (for the half-interval bound).
struct Feed {
    std::vector<uint64_t> video;
    std::vector<double> interval;
    std::vector<uint64_t> audio;
    bool steady = false;
};

// Deterministic noise in [0, 1).
double Noise(uint64_t n)
{
    n = (n + 0x9e3779b97f4a7c15) * 0xbf58476d1ce4e5b9;
    n ^= n >> 31;
    return static_cast<double>(n % 1000003) / 1000003.0;
}

// Frames at `rate` (changing to `later_rate` at `change` s), sound throughout;
// `lost` of the frames and packets missing, nothing between `outage` and +10 s.
struct Camera {
    double rate = 25;
    double seconds = 20;
    double later_rate = 0;
    double change = 0;
    double lost = 0;
    double outage = -1;
    double jitter_us = 0;
    double clock = 1.0;  // how fast the timestamps run
    bool steady = true;
};

Feed Make(const Camera &c)
{
    Feed feed;
    feed.steady = c.steady;
    auto silent = [&](double t) { return c.outage >= 0 && t >= c.outage && t < c.outage + 10; };
    auto stamp = [&](double t, uint64_t n) {
        const double jitter = c.jitter_us * (2 * Noise(n) - 1);
        return kStart + static_cast<uint64_t>(std::llround(t * 1e6 * c.clock + jitter));
    };
    double t = 0;
    for (uint64_t i = 0; t < c.seconds; i++) {
        const double rate = c.later_rate > 0 && t >= c.change ? c.later_rate : c.rate;
        if (!silent(t) && (i == 0 || Noise(i) >= c.lost)) {
            feed.video.push_back(stamp(t, i));
            feed.interval.push_back(1e6 / rate);
        }
        t += 1 / rate;
    }
    for (uint64_t k = 0; k * kAudioPacket < c.seconds * 1e6; k++) {
        const double at = static_cast<double>(k * kAudioPacket) / 1e6;
        if (!silent(at) && Noise(k + 7777) >= c.lost)
            feed.audio.push_back(stamp(at, k + 99999));
    }
    return feed;
}

Feed Untimed()
{
    Feed feed = Make(Camera{});
    for (auto &pts : feed.video)
        pts = 0;
    for (auto &pts : feed.audio)
        pts = 0;
    return feed;
}

// Feeds everything in time order through a file recorder; false when a call failed.
bool Record(const std::string &path, int file_type, const Feed &feed)
{
    const auto &clip = Clip();
    recmux_writer *writer = recmux_writer_open(path.c_str());
    if (!writer || recmux_writer_set_file_type(writer, file_type) != 0 ||
        recmux_writer_init_audio(writer, kAlaw, 1, 8000, 16) != 0)
        return false;
    const std::string alaw(160, '\xd5');
    bool ok = true;
    size_t a = 0;
    for (size_t v = 0; v < feed.video.size(); v++) {
        const bool untimed = feed.video[v] == 0;
        for (; a < feed.audio.size() && (untimed ? a * 2 < v * 4 : feed.audio[a] <= feed.video[v]); a++)
            ok &= recmux_writer_write_audio(writer, reinterpret_cast<const uint8_t *>(alaw.data()),
                                            160, feed.audio[a]) == 0;
        const AccessUnit &unit = clip[v % clip.size()];
        ok &= recmux_writer_write_video(writer, reinterpret_cast<const uint8_t *>(unit.bytes.data()),
                                        static_cast<uint32_t>(unit.bytes.size()), feed.video[v],
                                        unit.key) == 0;
    }
    for (; a < feed.audio.size(); a++)
        ok &= recmux_writer_write_audio(writer, reinterpret_cast<const uint8_t *>(alaw.data()), 160,
                                        feed.audio[a]) == 0;
    return recmux_writer_close(&writer) == 0 && ok;
}

std::vector<std::string> Lines(const std::string &command)
{
    std::vector<std::string> lines;
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    char line[512];
    while (pipe && fgets(line, sizeof line, pipe.get()))
        lines.emplace_back(line, strcspn(line, "\r\n"));
    return lines;
}

struct Probed {
    std::vector<int64_t> video_ticks;  // in the stream's time base
    double video_time_base = 0;
    double video_start = 0, video_end = 0;
    double audio_start = 0, audio_end = 0;
};

Probed Probe(const std::string &path)
{
    Probed p;
    const std::string ffprobe = "ffprobe -v error -of csv=p=0 ";
    for (const auto &line : Lines(ffprobe + "-select_streams v -show_entries packet=pts '" + path + "'"))
        p.video_ticks.push_back(std::stoll(line));
    for (const auto &line : Lines(ffprobe + "-show_entries stream=codec_type,time_base,start_time,duration '" +
                                  path + "'")) {
        std::istringstream fields(line);
        std::string type, base, start, duration;
        std::getline(fields, type, ',');
        std::getline(fields, base, ',');
        std::getline(fields, start, ',');
        std::getline(fields, duration, ',');
        const double s = std::stod(start), e = s + std::stod(duration);
        if (type == "video") {
            p.video_time_base = 1.0 / std::stod(base.substr(base.find('/') + 1));
            p.video_start = s;
            p.video_end = e;
        } else {
            // The encoder's priming may lie before 0, hidden by an edit list.
            p.audio_start = std::max(s, 0.0);
            p.audio_end = e;
        }
    }
    return p;
}

void ExpectCameraTime(const Feed &feed, const std::string &path)
{
    const Probed p = Probe(path);
    ASSERT_EQ(p.video_ticks.size(), feed.video.size());
    const bool untimed = feed.video[0] == 0;
    for (size_t i = 0; i < feed.video.size(); i++) {
        const double fed = untimed ? i * 0.04 : (feed.video[i] - feed.video[0]) / 1e6;
        const double got = (p.video_ticks[i] - p.video_ticks[0]) * p.video_time_base;
        ASSERT_LE(std::fabs(got - fed), feed.interval[i] / 2e6) << "frame " << i;
    }
    if (feed.steady) {
        for (size_t i = 2; i < p.video_ticks.size(); i++)
            ASSERT_EQ(p.video_ticks[i] - p.video_ticks[i - 1], p.video_ticks[1] - p.video_ticks[0])
                << "frame " << i;
    }
    const double video_fed = untimed ? feed.video.size() * 0.04
                                     : (feed.video.back() - feed.video[0]) / 1e6 + feed.interval.back() / 1e6;
    EXPECT_NEAR(p.video_end - p.video_start, video_fed, feed.interval.back() / 1e6);
    const double audio_fed =
        untimed ? feed.audio.size() * 0.02
                : (static_cast<double>(feed.audio.back()) - static_cast<double>(feed.video[0])) / 1e6 + 0.02;
    EXPECT_NEAR(p.audio_start, p.video_start, 0.05);
    EXPECT_NEAR(p.audio_end - p.video_start, audio_fed, 0.25);
}

double ReadFps(const std::string &path)
{
    recmux_reader *reader = recmux_reader_open(path.c_str());
    double fps = 0;
    if (reader && recmux_reader_get_fps(reader, &fps) != 0)
        fps = 0;
    recmux_reader_close(&reader);
    return fps;
}

struct Case {
    const char *name;
    std::function<Feed()> feed;
    double fps = 0;  // what the reader reports, when the camera is steady
};

const Case kCases[] = {
    {"12.5 fps", [] { return Make(Camera{.rate = 12.5}); }, 12.5},
    {"7.5 fps", [] { return Make(Camera{.rate = 7.5}); }, 7.5},
    {"29.97 fps", [] { return Make(Camera{.rate = 30000.0 / 1001}); }, 29.97},
    {"5% lost", [] { return Make(Camera{.lost = 0.05, .steady = false}); }},
    {"night mode", [] { return Make(Camera{.later_rate = 12.5, .change = 8, .steady = false}); }},
    {"10 s outage", [] { return Make(Camera{.seconds = 25, .outage = 8, .steady = false}); }},
    {"5 ms jitter", [] { return Make(Camera{.jitter_us = 5000}); }},
    {"no timestamps", Untimed},
};

TEST(Timeline, EveryFrameAndTheSoundStayWhereTheCameraPutThem)
{
    ASSERT_FALSE(Clip().empty());
    TempDir dir;
    int recording = 0;
    for (const Case &c : kCases) {
        for (int file_type : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (file_type ? ", fragmented" : ", plain"));
            const std::string mp4 = dir.Path("cam" + std::to_string(recording++) + ".mp4");
            const Feed feed = c.feed();
            ASSERT_TRUE(Record(mp4, file_type, feed));
            ExpectCameraTime(feed, mp4);
            if (c.fps > 0) {
                EXPECT_NEAR(ReadFps(mp4), c.fps, c.fps / 100);
            }
        }
    }
}

TEST(Timeline, AnHourWithLossAndAFastClockKeepsSoundWithPicture)
{
    TempDir dir;
    const std::string mp4 = dir.Path("hour.mp4");
    const Feed feed = Make(Camera{.seconds = 3600, .lost = 0.01, .clock = 1.0001, .steady = false});
    ASSERT_TRUE(Record(mp4, 0, feed));
    ExpectCameraTime(feed, mp4);
}

struct Stream {
    std::string bytes;
};

int Collect(void *opaque, uint8_t *data, int size)
{
    static_cast<Stream *>(opaque)->bytes.append(reinterpret_cast<char *>(data), static_cast<size_t>(size));
    return size;
}

// A live viewer sees the first fragment within two seconds of frames, and a
// caller that describes the sound only when its first packet comes still gets it.
TEST(Timeline, TheFirstFragmentLeavesWithinTwoSecondsWithTheLateDescribedSound)
{
    const auto &clip = Clip();
    ASSERT_FALSE(clip.empty());
    Stream stream;
    recmux_writer *writer = recmux_writer_open_and_set_callback(&stream, Collect);
    ASSERT_NE(writer, nullptr);
    const std::string alaw(160, '\xd5');
    int first_fragment_at = -1;
    for (int i = 0; i < 100; i++) {
        const uint64_t pts = kStart + static_cast<uint64_t>(i) * 40000;
        if (i == 1) {
            ASSERT_EQ(recmux_writer_init_audio(writer, kAlaw, 1, 8000, 16), 0);
        }
        for (uint64_t a = pts; i > 0 && a < pts + 40000; a += kAudioPacket)
            ASSERT_EQ(recmux_writer_write_audio(writer, reinterpret_cast<const uint8_t *>(alaw.data()),
                                                160, a), 0);
        const AccessUnit &unit = clip[static_cast<size_t>(i) % clip.size()];
        ASSERT_EQ(recmux_writer_write_video(writer, reinterpret_cast<const uint8_t *>(unit.bytes.data()),
                                            static_cast<uint32_t>(unit.bytes.size()), pts, unit.key), 0);
        if (first_fragment_at < 0 && stream.bytes.find("moof") != std::string::npos)
            first_fragment_at = i;
    }
    ASSERT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_GE(first_fragment_at, 0);
    EXPECT_LE(first_fragment_at, 50);
    TempDir dir;
    const std::string mp4 = dir.Path("live.mp4");
    recmux::test::WriteAll(mp4, stream.bytes);
    EXPECT_EQ(Lines("ffprobe -v error -of csv=p=0 -show_entries stream=codec_type '" + mp4 + "'"),
              (std::vector<std::string>{"video", "audio"}));
}

}  // namespace
