// Recordings keep the camera's time: the packet times ffprobe reads back are
// held against the timestamps fed, for the patterns real cameras send, with
// sound, plain and fragmented, through the exported functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

constexpr uint64_t kStart = 5000000000;
constexpr uint64_t kAudioPacket = 20000;  // 160 A-law samples at 8 kHz

// Small clips, cycled as a camera's stream: H.264, and H.264, H.265 and MPEG-4
// with B-frames.
struct Clip {
    std::string path;
    Units units;
    // For each frame in decode order, its place in presentation order.
    std::vector<size_t> shown;
};

const Clip &Clips(int kind)
{
    static const std::vector<Clip> clips = [] {
        const std::string source = "-f lavfi -i testsrc=size=64x64:rate=25 -frames:v 50 -g 25 ";
        std::vector<Clip> made;
        for (const auto &[name, args] : {std::pair{"clip.h264", "-c:v libx264 -bf 0 -f h264"},
                                         {"clip_bf.h264", "-c:v libx264 -bf 2 -f h264"},
                                         {"clip_bf.hevc", "-c:v libx265 -x265-params log-level=error:bframes=3 -f hevc"},
                                         {"clip_bf.m4v", "-c:v mpeg4 -bf 2 -f m4v"}}) {
            Clip clip{Fixture(name, source + args), {}, {}};
            clip.units = SplitAccessUnits(clip.path);
            // The decoder shows frames in presentation order, each with its place in the file.
            std::map<int64_t, size_t> by_offset;
            int64_t offset = 0;
            for (size_t i = 0; i < clip.units.size(); offset += clip.units[i++].bytes.size())
                by_offset[offset] = i;
            clip.shown.resize(clip.units.size());
            size_t place = 0;
            for (const std::string &pos : Lines("ffprobe -v error -show_entries frame=pkt_pos -of csv=p=0 '" + clip.path + "'")) {
                if (!pos.empty())  // in the unit that holds it, whose start code may be longer
                    clip.shown.at(std::prev(by_offset.upper_bound(std::stoll(pos)))->second) = place++;
            }
            made.push_back(std::move(clip));
        }
        return made;
    }();
    return clips.at(static_cast<size_t>(kind));
}

// What a camera sends: the timestamps of its video frames and voice packets,
// and the frame interval around each frame (for the half-interval bound).
struct Feed {
    std::vector<uint64_t> video;
    std::vector<double> interval;
    std::vector<uint64_t> audio;
    bool steady = false;
    int clip = 0;
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
    double rate = 25, seconds = 20, later_rate = 0, change = 0, lost = 0, outage = -1, jitter_us = 0;
    bool ramp = false;  // the delay grows steadily over the first eight frames, then stays
    int clip = 0;       // of Clips: 1 to 3 come in decode order, shown in another
    double clock = 1.0;  // how fast the timestamps run
    bool steady = true, untimed = false;
};

Feed Make(const Camera &c)
{
    Feed feed;
    feed.steady = c.steady;
    feed.clip = c.clip;
    auto silent = [&](double t) { return c.outage >= 0 && t >= c.outage && t < c.outage + 10; };
    auto stamp = [&](double t, uint64_t n) {
        const double jitter = c.jitter_us * (c.ramp ? std::min(n, uint64_t{8}) / 4.0 - 1 : 2 * Noise(n) - 1);
        return c.untimed ? 0 : kStart + static_cast<uint64_t>(std::llround(t * 1e6 * c.clock + jitter));
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

// Feeds everything in time order through a recorder; false when a call failed.
// The sound is described before frame late_audio; after_frame sees each frame's index.
bool Record(recmux_writer *writer, int file_type, const Feed &feed, size_t late_audio = 0,
            const std::function<void(size_t)> &after_frame = [](size_t) {})
{
    const Clip &clip = Clips(feed.clip);
    const size_t n = clip.units.size();
    bool ok = writer && recmux_writer_set_file_type(writer, file_type) == 0;
    const std::vector<uint8_t> alaw(160, 0xd5);
    size_t a = 0;
    for (size_t v = 0; v < feed.video.size(); v++) {
        if (v == late_audio)
            ok &= recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16) == 0;
        // A frame's timestamp is when it is shown.
        const uint64_t pts = feed.video[v / n * n + clip.shown[v % n]];
        const bool untimed = pts == 0;
        for (; a < feed.audio.size() && (untimed ? a < v * 2 : feed.audio[a] <= pts); a++)
            ok &= recmux_writer_write_audio(writer, alaw.data(), 160, feed.audio[a]) == 0;
        ok &= WriteUnits(writer, {clip.units[v % n]}, pts) == 1;
        after_frame(v);
    }
    for (; a < feed.audio.size(); a++)
        ok &= recmux_writer_write_audio(writer, alaw.data(), 160, feed.audio[a]) == 0;
    return recmux_writer_close(&writer) == 0 && ok;
}

// ffprobe's time_base, start_time and duration of one stream.
std::vector<std::string> StreamTimes(const std::string &path, const std::string &stream)
{
    return Lines("ffprobe -v error -select_streams " + stream +
                 " -show_entries stream=time_base,start_time,duration -of default=nw=1:nk=1 '" + path + "'");
}

void ExpectCameraTime(const Feed &feed, const std::string &path)
{
    const auto video = StreamTimes(path, "v:0"), audio = StreamTimes(path, "a:0");
    ASSERT_EQ(video.size(), 3u);
    ASSERT_EQ(audio.size(), 3u);
    std::vector<int64_t> ticks;
    for (const std::string &pts : Packets(path, "v", "pts"))
        ticks.push_back(std::stoll(pts));
    std::sort(ticks.begin(), ticks.end());
    ASSERT_EQ(ticks.size(), feed.video.size());
    const double time_base = 1.0 / std::stod(video[0].substr(video[0].find('/') + 1));
    const bool untimed = feed.video[0] == 0;
    for (size_t i = 0; i < feed.video.size(); i++) {
        const double fed = untimed ? i * 0.04 : (feed.video[i] - feed.video[0]) / 1e6;
        ASSERT_LE(std::fabs((ticks[i] - ticks[0]) * time_base - fed), feed.interval[i] / 2e6) << "frame " << i;
        if (feed.steady && i > 1) {
            ASSERT_EQ(ticks[i] - ticks[i - 1], ticks[1] - ticks[0]) << "frame " << i;
        }
    }
    const double video_fed = untimed ? feed.video.size() * 0.04
                                     : (feed.video.back() - feed.video[0]) / 1e6 + feed.interval.back() / 1e6;
    EXPECT_NEAR(std::stod(video[2]), video_fed, feed.interval.back() / 1e6);
    const double audio_fed =
        untimed ? feed.audio.size() * 0.02
                : (static_cast<double>(feed.audio.back()) - static_cast<double>(feed.video[0])) / 1e6 + 0.02;
    const double video_start = std::stod(video[1]);
    EXPECT_NEAR(std::stod(audio[1]), video_start, 0.01);
    EXPECT_NEAR(std::stod(audio[1]) + std::stod(audio[2]) - video_start, audio_fed, 0.04);
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
    Camera camera;
    double fps = 0;  // what the reader reports, when the camera is steady
};

const Case kCases[] = {
    {"12.5 fps", {.rate = 12.5}, 12.5},
    {"7.5 fps", {.rate = 7.5}, 7.5},
    {"29.97 fps", {.rate = 30000.0 / 1001}, 29.97},
    {"5% lost", {.lost = 0.05, .steady = false}},
    {"night mode", {.later_rate = 12.5, .change = 8, .steady = false}},
    {"10 s outage", {.seconds = 25, .outage = 8, .steady = false}},
    {"5 ms jitter", {.jitter_us = 5000}, 25},
    {"1.5 ms jitter", {.jitter_us = 1500}, 25},
    {"1.5 ms delay growing", {.jitter_us = 1500, .ramp = true}, 25},
    {"no timestamps", {.untimed = true}},
    {"B-frames, 1.5 ms jitter", {.jitter_us = 1500, .clip = 1}, 25},
    {"H.265 B-frames", {.clip = 2}, 25},
    {"MPEG-4 B-VOPs", {.clip = 3}, 25},
};

TEST(Timeline, EveryFrameAndTheSoundStayWhereTheCameraPutThem)
{
    for (int kind : {0, 1, 2, 3})
        ASSERT_EQ(Clips(kind).units.size(), 50u);
    TempDir dir;
    int recording = 0;
    for (const Case &c : kCases) {
        for (const char *output : {"plain", "fragmented", "callback"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + output);
            const std::string mp4 = dir.Path("cam" + std::to_string(recording++) + ".mp4");
            const Feed feed = Make(c.camera);
            std::string stream;
            const bool callback = output[0] == 'c';
            ASSERT_TRUE(Record(callback ? recmux_writer_open_and_set_callback(&stream, AppendTo)
                                        : recmux_writer_open(mp4.c_str()),
                               output[0] != 'p', feed));
            if (callback)
                WriteAll(mp4, stream);
            ExpectCameraTime(feed, mp4);
            EXPECT_NEAR(c.fps > 0 ? ReadFps(mp4) : 0, c.fps, 0.01);
            EXPECT_EQ(DecodeErrors(mp4), "");
            if (c.camera.clip > 0) {  // the pictures of the clip, in their order
                const std::vector<std::string> clip = FrameMd5s(Clips(c.camera.clip).path), got = FrameMd5s(mp4);
                ASSERT_EQ(got.size(), feed.video.size());
                for (size_t i = 0; i < got.size(); i++)
                    ASSERT_EQ(got[i], clip[i % clip.size()]) << "picture " << i;
            }
            // FFmpeg states the camera's rate from the first frame on.
            std::istringstream rates(c.fps > 0 ? Probe(mp4, "r_frame_rate,avg_frame_rate") : "");
            for (std::string rate; std::getline(rates, rate, ',');)
                EXPECT_NEAR(std::stod(rate) / std::stod(rate.substr(rate.find('/') + 1)), c.fps, 0.01) << rate;
        }
    }
}

TEST(Timeline, AnHourWithLossAndAFastClockKeepsSoundWithPicture)
{
    TempDir dir;
    const std::string mp4 = dir.Path("hour.mp4");
    const Feed feed = Make(Camera{.seconds = 3600, .lost = 0.01, .clock = 1.0001, .steady = false});
    ASSERT_TRUE(Record(recmux_writer_open(mp4.c_str()), 0, feed));
    ExpectCameraTime(feed, mp4);
}

// A live viewer sees the first fragment within two seconds of frames, and a
// caller that describes the sound only when its first packet comes still gets it.
TEST(Timeline, TheFirstFragmentLeavesWithinTwoSecondsWithTheLateDescribedSound)
{
    std::string stream;
    size_t first_fragment_at = 0;
    const auto fragment_out = [&](size_t frame) {
        if (!first_fragment_at && stream.find("moof") != std::string::npos)
            first_fragment_at = frame;
    };
    ASSERT_TRUE(Record(recmux_writer_open_and_set_callback(&stream, AppendTo), 1, Make(Camera{.seconds = 4}), 1,
                       fragment_out));
    EXPECT_GT(first_fragment_at, 0u);
    EXPECT_LE(first_fragment_at, 50u);
    TempDir dir;
    WriteAll(dir.Path("live.mp4"), stream);
    EXPECT_EQ(Probe(dir.Path("live.mp4"), "codec_type", "1"), "audio");  // behind the video
}

}  // namespace
