// The reader against MP4s made by the ffmpeg tool and by our recorder, judged
// by ffprobe's packet list and by decoding what it hands back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "media_fixture.h"
#include "reader/CMP4Reader.h"
#include "recorder/CMP4Writer.h"
#include "test_files.h"

namespace recmux {
namespace {

using Status = CMP4Reader::ReadStatus;
using test::RunCommand;
using test::TempDir;

struct Packet {
    std::vector<uint8_t> bytes;
    int32_t mediaType = -1;
    int32_t key = -1;
};

struct ReadBack {
    std::vector<Packet> packets;
    int skipped = 0;
};

const std::string kPattern = "-f lavfi -i testsrc2=size=640x360:rate=25 ";
const std::string kTone = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";

// Made once per test binary under `name` with `ffmpeg -y ARGS name`.
std::string Made(const std::string &name, const std::string &args)
{
    static TempDir dir;
    static std::map<std::string, bool> made;
    const std::string path = dir.Path(name);
    if (made.find(name) == made.end()) {
        const std::string command =
            "ffmpeg -nostdin -loglevel error -y " + args + " '" + path + "'";
        made[name] = std::system(command.c_str()) == 0;
    }
    return made[name] ? path : std::string();
}

std::string H264()
{
    return Made("h264.mp4", kPattern + "-frames:v 60 -pix_fmt yuv420p -c:v libx264 -bf 0 -g 25");
}

ReadBack ReadAllPackets(CMP4Reader &reader)
{
    ReadBack back;
    std::vector<uint8_t> buffer(64);
    for (;;) {
        int32_t size = 0, mediaType = -1, key = -1;
        const Status status = reader.ReadNext(buffer.data(), static_cast<int32_t>(buffer.size()),
                                              size, mediaType, key);
        if (status == Status::End)
            return back;
        if (status == Status::TooSmall)
            buffer.resize(static_cast<size_t>(size));
        else if (status == Status::Skipped)
            back.skipped++;
        else
            back.packets.push_back({{buffer.begin(), buffer.begin() + size}, mediaType, key});
    }
}

ReadBack ReadFile(const std::string &path)
{
    CMP4Reader reader;
    if (!reader.Open(path.c_str()))
        return {};
    return ReadAllPackets(reader);
}

std::vector<const Packet *> OfType(const ReadBack &back, int32_t mediaType)
{
    std::vector<const Packet *> chosen;
    for (const Packet &packet : back.packets) {
        if (packet.mediaType == mediaType)
            chosen.push_back(&packet);
    }
    return chosen;
}

std::string WriteVideo(const ReadBack &back, const std::string &path)
{
    std::ofstream out(path, std::ios::binary);
    for (const Packet *packet : OfType(back, 0))
        out.write(reinterpret_cast<const char *>(packet->bytes.data()),
                  static_cast<std::streamsize>(packet->bytes.size()));
    return path;
}

std::vector<std::string> ProbePackets(const std::string &path, const std::string &streams,
                                      const std::string &entry)
{
    std::istringstream lines(RunCommand("ffprobe -v error -select_streams " + streams +
                                        " -show_entries packet=" + entry + " -of csv=p=0 '" + path +
                                        "'"));
    // A packet with side data ends in a comma and is followed by an empty line.
    std::vector<std::string> values;
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && line.back() == ',')
            line.pop_back();
        if (!line.empty())
            values.push_back(line);
    }
    return values;
}

std::vector<std::string> KeyFlags(const ReadBack &back)
{
    std::vector<std::string> flags;
    for (const Packet *packet : OfType(back, 0))
        flags.push_back(packet->key ? "K" : "_");
    return flags;
}

std::vector<std::string> ProbedKeyFlags(const std::string &path)
{
    std::vector<std::string> flags = ProbePackets(path, "v:0", "flags");
    for (std::string &flag : flags)
        flag = flag.substr(0, 1);
    return flags;
}

// Every video packet back in file order with ffprobe's key flags, and the
// elementary stream they make decodes to the frames of the file.
void ExpectFaithfulVideo(const std::string &mp4, const std::string &extension)
{
    ASSERT_FALSE(mp4.empty());
    const ReadBack back = ReadFile(mp4);
    ASSERT_FALSE(back.packets.empty());
    EXPECT_EQ(KeyFlags(back), ProbedKeyFlags(mp4));
    EXPECT_EQ(back.packets.front().key, 1);
    TempDir dir;
    const std::string stream = WriteVideo(back, dir.Path("video" + extension));
    const std::vector<std::string> expected = test::FrameMd5s(mp4);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(test::FrameMd5s(stream), expected);
    EXPECT_EQ(test::DecodeErrors(stream), "");
}

TEST(ReaderRoundTrip, H264WithoutBFrames)
{
    ExpectFaithfulVideo(H264(), ".h264");
}

TEST(ReaderRoundTrip, H264WithBFrames)
{
    ExpectFaithfulVideo(
        Made("h264_b.mp4", kPattern + "-frames:v 60 -pix_fmt yuv420p -c:v libx264 -bf 3 -g 25"),
        ".h264");
}

TEST(ReaderRoundTrip, H265)
{
    ExpectFaithfulVideo(Made("hevc.mp4", kPattern + "-frames:v 60 -pix_fmt yuv420p -c:v libx265 "
                                                    "-x265-params log-level=error:keyint=25"),
                        ".hevc");
}

TEST(ReaderRoundTrip, Mpeg4WithBFramesCarriesItsVolHeader)
{
    ExpectFaithfulVideo(Made("mpeg4.mp4", kPattern + "-frames:v 60 -c:v mpeg4 -bf 2 -g 25"),
                        ".m4v");
}

TEST(ReaderRoundTrip, FragmentedFile)
{
    const std::string mp4 = Made("frag.mp4", kPattern +
                                                 "-frames:v 60 -pix_fmt yuv420p -c:v libx264 "
                                                 "-g 25 -movflags frag_keyframe+empty_moov");
    ASSERT_NE(test::ReadAll(mp4).find("moof"), std::string::npos);
    ExpectFaithfulVideo(mp4, ".h264");
}

TEST(ReaderRoundTrip, AacPacketsComeBackAsStored)
{
    const std::string mp4 = Made("aac.mp4", kPattern + kTone +
                                                "-frames:v 50 -pix_fmt yuv420p "
                                                "-c:v libx264 -g 25 -c:a aac -t 2");
    ExpectFaithfulVideo(mp4, ".h264");
    const ReadBack back = ReadFile(mp4);
    std::vector<std::string> sizes;
    for (const Packet *packet : OfType(back, 1)) {
        EXPECT_EQ(packet->key, 1);
        sizes.push_back(std::to_string(packet->bytes.size()));
    }
    EXPECT_FALSE(sizes.empty());
    EXPECT_EQ(sizes, ProbePackets(mp4, "a:0", "size"));
    EXPECT_EQ(back.skipped, 0);
}

TEST(ReaderRoundTrip, OtherVideoAndSubtitleTracksAreSkipped)
{
    TempDir dir;
    const std::string cues = dir.Path("cues.srt");
    test::WriteAll(cues,
                   "1\n00:00:00,000 --> 00:00:01,000\nfirst\n\n"
                   "2\n00:00:01,000 --> 00:00:01,500\nsecond\n");
    const std::string mp4 =
        Made("tracks.mp4", kPattern + kPattern + "-i '" + cues +
                               "' -map 0 -map 1 -map 2 -frames:v 40 -pix_fmt yuv420p "
                               "-c:v:0 libx264 -c:v:1 mpeg4 -c:s mov_text");
    ASSERT_EQ(test::ProbeVideo(mp4, "codec_name"), "h264");
    const size_t others =
        ProbePackets(mp4, "v:1", "flags").size() + ProbePackets(mp4, "s", "flags").size();
    ASSERT_GT(ProbePackets(mp4, "s", "flags").size(), 0u);
    const ReadBack back = ReadFile(mp4);
    EXPECT_EQ(KeyFlags(back), ProbedKeyFlags(mp4));
    EXPECT_EQ(static_cast<size_t>(back.skipped), others);
    EXPECT_EQ(test::FrameMd5s(WriteVideo(back, dir.Path("first.h264"))), test::FrameMd5s(mp4));
}

TEST(ReaderRoundTrip, RecordingOfOursComesBackWhole)
{
    TempDir dir;
    const std::string stream = dir.Path("cam.h264");
    ASSERT_TRUE(test::MakeElementaryStream(stream, 100, "-c:v libx264 -bf 0 -g 25 -f h264"));
    const std::vector<test::AccessUnit> units = test::SplitAccessUnits(stream);
    ASSERT_EQ(units.size(), 100u);
    const std::string mp4 = dir.Path("cam.mp4");
    {
        CMP4Writer writer;
        ASSERT_TRUE(writer.Open(mp4.c_str()));
        for (size_t i = 0; i < units.size(); i++)
            ASSERT_TRUE(writer.WriteVideo(units[i].bytes.data(),
                                          static_cast<uint32_t>(units[i].bytes.size()),
                                          1000000 + i * 40000, units[i].key));
        ASSERT_TRUE(writer.Close());
    }
    CMP4Reader reader;
    ASSERT_TRUE(reader.Open(mp4.c_str()));
    double fps = 0;
    ASSERT_TRUE(reader.GetFps(&fps));
    EXPECT_EQ(fps, 25.0);
    int32_t ms = 0;
    ASSERT_TRUE(reader.GetDuration(&ms));
    const double probed =
        std::stod(RunCommand("ffprobe -v error -show_entries format=duration "
                             "-of default=nw=1:nk=1 '" +
                             mp4 + "'"));
    EXPECT_NEAR(ms, probed * 1000, 1.0);
    const ReadBack back = ReadAllPackets(reader);
    ASSERT_EQ(OfType(back, 0).size(), 100u);
    for (size_t i = 0; i < units.size(); i++)
        EXPECT_EQ(back.packets[i].key, units[i].key ? 1 : 0) << i;
    EXPECT_EQ(KeyFlags(back), ProbedKeyFlags(mp4));
    EXPECT_EQ(test::FrameMd5s(WriteVideo(back, dir.Path("back.h264"))), test::FrameMd5s(stream));
}

// Refused files

void ExpectRefused(const std::string &path)
{
    CMP4Reader reader;
    EXPECT_FALSE(reader.Open(path.c_str())) << path;
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.Close());
}

TEST(ReaderRefuses, FilesWithoutUsableVideo)
{
    ExpectRefused(Made("audio.mp4", kTone + "-t 1 -c:a aac"));
    ExpectRefused(Made("mjpeg.mp4", kPattern + "-frames:v 10 -c:v mjpeg"));
    ExpectRefused("/nonexistent/file.mp4");
    CMP4Reader reader;
    EXPECT_FALSE(reader.Open(nullptr));
}

TEST(ReaderRefuses, FilesThatAreNotMp4)
{
    TempDir dir;
    test::WriteAll(dir.Path("text.mp4"), "this is a text file, not a movie\n");
    test::WriteAll(dir.Path("empty.mp4"), "");
    const std::string whole = test::ReadAll(H264());
    test::WriteAll(dir.Path("truncated.mp4"), whole.substr(0, whole.size() / 2));
    std::string noise(65536, '\0');
    uint32_t state = 12345;
    for (char &c : noise) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    test::WriteAll(dir.Path("random.mp4"), noise);
    for (const char *name : {"text.mp4", "empty.mp4", "truncated.mp4", "random.mp4"})
        ExpectRefused(dir.Path(name));
}

TEST(ReaderDamage, TruncatedFileWithLeadingMovieBoxEndsEarlyWithoutCrashing)
{
    const std::string mp4 = Made("faststart.mp4", kPattern +
                                                      "-frames:v 60 -pix_fmt yuv420p -c:v libx264 "
                                                      "-g 25 -movflags faststart");
    const std::string whole = test::ReadAll(mp4);
    TempDir dir;
    test::WriteAll(dir.Path("cut.mp4"), whole.substr(0, whole.size() / 2));
    const ReadBack back = ReadFile(dir.Path("cut.mp4"));
    EXPECT_GT(back.packets.size(), 0u);
    EXPECT_LT(back.packets.size(), 60u);
}

TEST(ReaderDamage, ACorruptPacketIsSkippedAndReadingGoesOn)
{
    const std::string mp4 = H264();
    const std::vector<std::string> positions = ProbePackets(mp4, "v:0", "pos");
    ASSERT_EQ(positions.size(), 60u);
    std::string bytes = test::ReadAll(mp4);
    // A NAL length far past the end of its sample.
    bytes.replace(std::stoul(positions[10]), 4, "\xff\xff\xff\xff");
    TempDir dir;
    test::WriteAll(dir.Path("corrupt.mp4"), bytes);
    const ReadBack back = ReadFile(dir.Path("corrupt.mp4"));
    EXPECT_EQ(back.skipped, 1);
    EXPECT_EQ(back.packets.size(), 59u);
}

// The buffer rules of the two reads

struct Opened {
    CMP4Reader reader;
    explicit Opened(const std::string &path) { EXPECT_TRUE(reader.Open(path.c_str())); }
};

TEST(ReaderBuffer, ReadFrameConsumesAPacketThatDoesNotFit)
{
    const ReadBack all = ReadFile(H264());
    ASSERT_GE(all.packets.size(), 3u);
    Opened opened(H264());
    std::vector<uint8_t> buffer(1 << 20);
    int32_t size = 16, mediaType = -1, key = -1;
    int64_t pts = 77;
    EXPECT_FALSE(opened.reader.ReadFrame(buffer.data(), &size, &pts, &mediaType, &key));
    EXPECT_EQ(size, static_cast<int32_t>(all.packets[0].bytes.size()));
    EXPECT_EQ(mediaType, 0);
    EXPECT_EQ(key, 1);

    size = static_cast<int32_t>(all.packets[1].bytes.size());
    ASSERT_TRUE(opened.reader.ReadFrame(buffer.data(), &size, &pts, &mediaType, &key));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size), all.packets[1].bytes);
    EXPECT_EQ(key, 0);

    size = 0;
    EXPECT_FALSE(opened.reader.ReadFrame(nullptr, &size, &pts, &mediaType, &key));
    EXPECT_EQ(size, static_cast<int32_t>(all.packets[2].bytes.size()));
    size = 1 << 20;
    EXPECT_FALSE(opened.reader.ReadFrame(nullptr, &size, &pts, &mediaType, &key))
        << "null holds nothing";
    EXPECT_EQ(size, static_cast<int32_t>(all.packets[3].bytes.size()));
    EXPECT_EQ(pts, 77);
}

TEST(ReaderBuffer, EndOfFileLeavesEverythingAlone)
{
    Opened opened(H264());
    std::vector<uint8_t> buffer(1 << 20);
    int32_t size = 0, mediaType = 0, key = 0;
    int reads = 0;
    for (;; reads++) {
        size = static_cast<int32_t>(buffer.size());
        if (!opened.reader.ReadFrame(buffer.data(), &size, nullptr, &mediaType, &key))
            break;
    }
    EXPECT_EQ(reads, 60);
    EXPECT_EQ(size, static_cast<int32_t>(buffer.size()));
    mediaType = key = 9;
    EXPECT_FALSE(opened.reader.ReadFrame(buffer.data(), &size, nullptr, &mediaType, &key));
    EXPECT_EQ(mediaType, 9);
    EXPECT_EQ(key, 9);
    int32_t next = -1;
    EXPECT_EQ(opened.reader.ReadNext(buffer.data(), 1 << 20, next, mediaType, key), Status::End);
    EXPECT_EQ(next, -1);
}

TEST(ReaderBuffer, NullOutPointersConsumeNothing)
{
    const ReadBack all = ReadFile(H264());
    Opened opened(H264());
    std::vector<uint8_t> buffer(1 << 20);
    int32_t size = static_cast<int32_t>(buffer.size()), mediaType = 0, key = 0;
    EXPECT_FALSE(opened.reader.ReadFrame(buffer.data(), nullptr, nullptr, &mediaType, &key));
    EXPECT_FALSE(opened.reader.ReadFrame(buffer.data(), &size, nullptr, nullptr, &key));
    EXPECT_FALSE(opened.reader.ReadFrame(buffer.data(), &size, nullptr, &mediaType, nullptr));
    EXPECT_EQ(size, static_cast<int32_t>(buffer.size()));
    ASSERT_TRUE(opened.reader.ReadFrame(buffer.data(), &size, nullptr, &mediaType, &key));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size), all.packets[0].bytes);
}

TEST(ReaderBuffer, ReadNextKeepsAPacketThatDoesNotFit)
{
    const ReadBack all = ReadFile(H264());
    Opened opened(H264());
    const int32_t first = static_cast<int32_t>(all.packets[0].bytes.size());
    std::vector<uint8_t> buffer(static_cast<size_t>(first));
    int32_t size = 0, mediaType = -1, key = -1;
    EXPECT_EQ(opened.reader.ReadNext(buffer.data(), 16, size, mediaType, key), Status::TooSmall);
    EXPECT_EQ(size, first);
    EXPECT_EQ(opened.reader.ReadNext(nullptr, first, size, mediaType, key), Status::TooSmall);
    EXPECT_EQ(opened.reader.ReadNext(buffer.data(), first - 1, size, mediaType, key),
              Status::TooSmall);
    ASSERT_EQ(opened.reader.ReadNext(buffer.data(), first, size, mediaType, key), Status::Packet);
    EXPECT_EQ(buffer, all.packets[0].bytes);
    EXPECT_EQ(mediaType, 0);
    EXPECT_EQ(key, 1);
}

// Rates, durations and the states of the reader

TEST(ReaderRates, FrameRateFallsBackToTheBaseRate)
{
    EXPECT_EQ(StreamFrameRate({25, 1}, {0, 0}), 25.0);
    EXPECT_NEAR(*StreamFrameRate({0, 0}, {30000, 1001}), 29.97, 0.001);
    EXPECT_EQ(StreamFrameRate({0, 1}, {30, 1}), 0.0);
    EXPECT_EQ(StreamFrameRate({25, 0}, {25, -1}), std::nullopt);
}

TEST(ReaderRates, DurationFromFramesIsClampedNotUndefined)
{
    constexpr int64_t kHuge = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(DurationFromFrameCount(250, {25, 1}), 10000);
    EXPECT_EQ(DurationFromFrameCount(1, {30000, 1001}), 33);
    EXPECT_EQ(DurationFromFrameCount(kHuge, {1, 1000}), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(DurationFromFrameCount(-kHuge, {1, 1000}), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(DurationFromFrameCount(250, {0, 1}), std::nullopt);
    EXPECT_EQ(DurationFromFrameCount(250, {25, 0}), std::nullopt);
    EXPECT_EQ(DurationFromFrameCount(250, {-25, -1}), std::nullopt);
}

TEST(ReaderRates, FileRateAndDurationAgreeWithFfprobe)
{
    Opened opened(H264());
    double fps = 0;
    ASSERT_TRUE(opened.reader.GetFps(&fps));
    EXPECT_EQ(fps, 25.0);
    int32_t ms = 0;
    ASSERT_TRUE(opened.reader.GetDuration(&ms));
    const double probed =
        std::stod(RunCommand("ffprobe -v error -show_entries format=duration "
                             "-of default=nw=1:nk=1 '" +
                             H264() + "'"));
    EXPECT_NEAR(ms, probed * 1000, 1.0);
    EXPECT_FALSE(opened.reader.GetFps(nullptr));
    EXPECT_FALSE(opened.reader.GetDuration(nullptr));
}

TEST(ReaderState, ClosedReaderAnswersNothing)
{
    CMP4Reader reader;
    double fps = 3;
    int32_t ms = 4, size = 5, mediaType = 6, key = 7;
    uint8_t byte = 0;
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.Close());
    EXPECT_FALSE(reader.GetFps(&fps));
    EXPECT_FALSE(reader.GetDuration(&ms));
    EXPECT_FALSE(reader.ReadFrame(&byte, &size, nullptr, &mediaType, &key));
    EXPECT_EQ(reader.ReadNext(&byte, 1, size, mediaType, key), Status::End);
    EXPECT_EQ(fps, 3);
    EXPECT_EQ(ms + size + mediaType + key, 4 + 5 + 6 + 7);

    ASSERT_TRUE(reader.Open(H264().c_str()));
    EXPECT_FALSE(reader.Open(H264().c_str())) << "a second open keeps the first file";
    EXPECT_TRUE(reader.IsOpen());
    EXPECT_TRUE(reader.Close());
    EXPECT_FALSE(reader.Close());
    ASSERT_TRUE(reader.Open(H264().c_str())) << "a closed reader opens again from the start";
    EXPECT_EQ(ReadAllPackets(reader).packets.size(), 60u);
}

}  // namespace
}  // namespace recmux
