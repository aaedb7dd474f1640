// The library as a host program embeds it: an FFmpeg without video encoders,
// nothing printed on the normal path, its own lines through the log callback.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"
#include "test_tone.h"

namespace {

std::atomic<int> videoEncodersAsked{0};
std::atomic<bool> aacMissing{false};

}  // namespace

// This FFmpeg has no video encoder, and, when a test says so, no AAC encoder.
// Visible to the library, whose lookups it then takes over.
extern "C" __attribute__((visibility("default"))) const AVCodec *avcodec_find_encoder(
    enum AVCodecID id)
{
    using Find = const AVCodec *(*)(enum AVCodecID);
    static const auto real = reinterpret_cast<Find>(dlsym(RTLD_NEXT, "avcodec_find_encoder"));
    if (avcodec_get_type(id) == AVMEDIA_TYPE_VIDEO) {
        videoEncodersAsked++;
        return nullptr;
    }
    return id == AV_CODEC_ID_AAC && aacMissing ? nullptr : real(id);
}

namespace {

using namespace recmux::test;

const Units &Stream(const std::string &codec)
{
    if (codec == "h265")
        return Encoded("host-75.hevc", 75, kX265);
    if (codec == "mpeg4")
        return Encoded("host-75.m4v", 75, "-c:v mpeg4 -bf 0 -g 25 -f m4v");
    return H264(75);
}

// Three seconds of picture with the test tone; what close returned.
int RecordWithSound(recmux_writer *writer, const Units &video, int file_type)
{
    recmux_writer_set_file_type(writer, file_type);
    recmux_writer_init_audio(writer, recmux_tool::kToneCode, 1, recmux_tool::kToneRate, 16);
    auto tone = recmux_tool::OpenTestTone(3);
    recmux_tool::AudioFrame sound;
    for (size_t i = 0; i < video.size(); i++) {
        const uint64_t pts = 1000000 + i * 40000;
        recmux_writer_write_video(writer, video[i].bytes.data(),
                                  static_cast<uint32_t>(video[i].bytes.size()), pts, video[i].key);
        while (sound.offset_us <= i * 40000 && tone->Next(sound))
            recmux_writer_write_audio(writer, sound.bytes.data(),
                                      static_cast<uint32_t>(sound.bytes.size()),
                                      1000000 + sound.offset_us);
    }
    return recmux_writer_close(&writer);
}

int ReadEveryFrame(const std::string &path)
{
    recmux_reader *reader = recmux_reader_open(path.c_str());
    std::vector<uint8_t> buffer(1 << 20);
    int frames = 0;
    for (;;) {
        int32_t size = static_cast<int32_t>(buffer.size()), media = 0, key = 0;
        int64_t pts = 0;
        if (recmux_reader_read_frame(reader, buffer.data(), &size, &pts, &media, &key) != 0)
            break;
        frames++;
    }
    recmux_reader_close(&reader);
    return frames;
}

// Where the first picture's start code is: what comes before it are the parameter sets.
size_t FirstPicture(const std::string &codec, const std::vector<uint8_t> &frame)
{
    for (size_t i = 0; i + 3 < frame.size(); i++) {
        if (frame[i] != 0 || frame[i + 1] != 0 || frame[i + 2] != 1)
            continue;
        const uint8_t header = frame[i + 3];
        if (codec == "h264" ? (header & 0x1F) >= 1 && (header & 0x1F) <= 5
            : codec == "h265" ? ((header >> 1) & 0x3F) < 32
                              : header == 0xB6)
            return i;
    }
    return 0;
}

std::string CallbackStream;

// Every codec, plain, fragmented and through the callback, with sound: the
// number of recordings that closed and read back whole.
int RecordEverything(const std::string &dir)
{
    int good = 0;
    for (const std::string codec : {"h264", "h265", "mpeg4"}) {
        for (int type : {RECMUX_FILE_PLAIN, RECMUX_FILE_FRAGMENTED}) {
            const std::string path = dir + "/" + codec + std::to_string(type) + ".mp4";
            good += RecordWithSound(recmux_writer_open(path.c_str()), Stream(codec), type) == 0 &&
                    ReadEveryFrame(path) > 75;
        }
        CallbackStream.clear();
        good += RecordWithSound(recmux_writer_open_and_set_callback(&CallbackStream, AppendTo),
                                Stream(codec), RECMUX_FILE_FRAGMENTED) == 0 &&
                !CallbackStream.empty();
    }
    return good;
}

// What work printed on stdout and stderr, run in a child with both sent to a file.
std::string Printed(const std::string &dir, const std::function<int()> &work, int &status)
{
    const std::string captured = dir + "/printed";
    status = InChild([&] {
        const int fd = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0)
            return 100;
        const int result = work();
        std::fflush(nullptr);
        return result;
    });
    return ReadAll(captured);
}

TEST(Host, RecordsEveryCodecWithNoVideoEncoderAndPrintsNothingOnceFfmpegIsQuiet)
{
    TempDir dir;
    for (const std::string codec : {"h264", "h265", "mpeg4"})
        ASSERT_FALSE(Stream(codec).empty()) << codec;
    const struct {
        const char *how;
        std::function<void()> quiet;
    } hosts[] = {
        {"the host's own FFmpeg call", [] { av_log_set_level(AV_LOG_QUIET); }},
        {"through the library", [] { recmux_set_ffmpeg_log_level(RECMUX_LOG_QUIET); }},
    };
    for (const auto &host : hosts) {
        int status = -1;
        const std::string printed = Printed(dir.Path(""), [&] {
            host.quiet();
            return RecordEverything(dir.Path(""));
        }, status);
        EXPECT_EQ(status, 9) << host.how;
        EXPECT_EQ(printed, "") << host.how;
    }
    EXPECT_EQ(RecordEverything(dir.Path("")), 9);
    EXPECT_EQ(videoEncodersAsked, 0);
    EXPECT_EQ(Probe(dir.Path("h2651.mp4"), "codec_tag_string,profile,width,height"),
              "Main,hvc1,640,360");
}

std::vector<std::string> lines;

void RECMUX_CDECL Collect(void *, int32_t level, const char *text)
{
    lines.push_back(std::to_string(level) + " " + text);
}

// A failed set-up is told in the words log watchers match: on stdout without
// a callback, to the callback (with the events around it) when there is one.
TEST(Host, TheLibrarysOwnLinesGoToTheCallbackOrStdout)
{
    TempDir dir;
    const std::string path = dir.Path("no-aac.mp4");
    aacMissing = true;
    int status = -1;
    const std::string printed = Printed(dir.Path(""), [&] {
        av_log_set_level(AV_LOG_QUIET);
        return RecordWithSound(recmux_writer_open(path.c_str()), H264(75), RECMUX_FILE_PLAIN);
    }, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(printed, "could not find encoder for 'aac' \n");

    recmux_set_log_callback(Collect, nullptr, RECMUX_LOG_INFO);
    EXPECT_EQ(RecordWithSound(recmux_writer_open(path.c_str()), H264(75), RECMUX_FILE_PLAIN), 1);
    recmux_set_log_callback(nullptr, nullptr, 0);
    aacMissing = false;
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "32 " + path + ": video stream set up from the stream's own parameter sets\n",
                         "16 could not find encoder for 'aac' \n",
                         "16 " + path + ": the AAC stream or its encoder could not be made\n",
                         "16 " + path + ": the output could not be set up: every later frame is refused\n"}));
}

// Without its parameter sets a key frame describes nothing: it is refused when
// given, and the recording starts with the next one that has them.
TEST(Host, AKeyFrameWithoutParameterSetsIsRefused)
{
    TempDir dir;
    for (const std::string codec : {"h264", "h265", "mpeg4"}) {
        const Units &units = Stream(codec);
        const std::string path = dir.Path(codec + ".mp4");
        recmux_writer *writer = recmux_writer_open(path.c_str());
        std::vector<uint8_t> bare = units[0].bytes;
        bare.erase(bare.begin(), bare.begin() + static_cast<long>(FirstPicture(codec, bare)));
        EXPECT_EQ(recmux_writer_write_video(writer, bare.data(), static_cast<uint32_t>(bare.size()),
                                            1000000, 1), 1) << codec;
        EXPECT_EQ(WriteUnits(writer, units, 1040000), units.size()) << codec;
        EXPECT_EQ(recmux_writer_close(&writer), 0) << codec;
        EXPECT_EQ(Probe(path, "nb_read_frames"), std::to_string(units.size())) << codec;
    }
}

}  // namespace
