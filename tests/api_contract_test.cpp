// Every exported recorder and reader function against every kind of bad
// argument: the result the headers promise, and nothing done besides.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

int32_t RECMUX_STDCALL Ignore(void *, int32_t, int32_t) { return 0; }

const uint8_t kByte = 0;
const uint8_t kKeyWithoutSize[] = {0, 0, 0, 1, 0x65, 0x88, 0x84};

// Each on a new file recorder and a new callback recorder: the result (calls summed by powers of two), then
// the recorder is still open, closes whole, and has written nothing anywhere.
const struct {
    const char *what;
    int32_t (*call)(recmux_writer *);
    int32_t result;
} kWriterCases[] = {
    {"file type 2", [](auto w) { return recmux_writer_set_file_type(w, 2); }, 0},
    {"file type INT_MIN", [](auto w) { return recmux_writer_set_file_type(w, INT_MIN); }, 0},
    {"notify removed", [](auto w) { return recmux_writer_set_msg_notify(w, nullptr, nullptr); }, 0},
    {"notify without user", [](auto w) { return recmux_writer_set_msg_notify(w, nullptr, Ignore); }, 0},
    {"video twice",
     [](auto w) { return recmux_writer_init_video(w, 0, 0, 0, 0) + 2 * recmux_writer_init_video(w, 1, 320, 240, 0); },
     2},
    {"sample rate 192001", [](auto w) { return recmux_writer_init_audio(w, RECMUX_AUDIO_G711_ALAW, 1, 192001, 16); }, 1},
    {"a refused rate does not count as the first", [](auto w) {
         const auto alaw = [w](int32_t rate) { return recmux_writer_init_audio(w, RECMUX_AUDIO_G711_ALAW, 1, rate, 16); };
         return alaw(999) + 2 * alaw(192000) + 4 * recmux_writer_init_audio(w, RECMUX_AUDIO_G711_ULAW, 1, 8000, 16);
     }, 1 + 4},
    {"defaults for 0 and less", [](auto w) { return recmux_writer_init_audio(w, RECMUX_AUDIO_G726_16, -1, 0, -5); }, 0},
    {"video NULL with a size", [](auto w) { return recmux_writer_write_video(w, nullptr, 10, 1000000, 1); }, 1},
    {"video above INT32_MAX", [](auto w) { return recmux_writer_write_video(w, &kByte, 0x80000000u, 1000000, 1); }, 1},
    {"video before a key frame", [](auto w) { return recmux_writer_write_video(w, &kByte, 1, 1000000, 0); }, 1},
    {"key frame without a size",
     [](auto w) { return recmux_writer_write_video(w, kKeyWithoutSize, sizeof kKeyWithoutSize, 1000000, 1); }, 1},
    {"audio before video is dropped", [](auto w) { return recmux_writer_write_audio(w, &kByte, 1, 1000000); }, 0},
    {"empty audio", [](auto w) { return recmux_writer_write_audio(w, nullptr, 0, 0); }, 0},
    {"frame type 2", [](auto w) { return recmux_writer_write_frame(w, 2, &kByte, 1, 1, 1); }, 1},
    {"frame type -1", [](auto w) { return recmux_writer_write_frame(w, -1, &kByte, 1, 1, 1); }, 1},
    {"frame NULL with a size", [](auto w) { return recmux_writer_write_frame(w, 0, nullptr, 10, 1, 1); }, 1},
    {"audio frame before video", [](auto w) { return recmux_writer_write_frame(w, 1, &kByte, 1, 1, 0); }, 0},
    {"begin and end pts before a frame, or to NULL", [](auto w) {
         uint64_t pts = 99;
         const int32_t result = recmux_writer_get_begin_pts(w, &pts) + 2 * recmux_writer_get_end_pts(w, &pts);
         return result + 4 * (pts != 99) + 8 * recmux_writer_get_begin_pts(w, nullptr) +
                16 * recmux_writer_get_end_pts(w, nullptr);
     }, 1 + 2 + 8 + 16},
};

TEST(WriterContract, EveryCallGivesItsResultAndWritesNothing)
{
    for (const auto &c : kWriterCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string bytes;
        for (recmux_writer *writer : {recmux_writer_open(dir.Path("cam.mp4").c_str()),
                                      recmux_writer_open_and_set_callback(&bytes, AppendTo)}) {
            ASSERT_NE(writer, nullptr);
            EXPECT_EQ((std::vector<int32_t>{c.call(writer), recmux_writer_is_open(writer), recmux_writer_close(&writer)}),
                      (std::vector<int32_t>{c.result, 0, 0}));
            EXPECT_EQ(writer, nullptr);
        }
        EXPECT_EQ(bytes, "");
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path("")));
    }
}

TEST(WriterContract, ANullHandleFailsEverywhereAndTouchesNothing)
{
    uint64_t pts = 5;
    recmux_writer *none = nullptr;
    const std::vector<int32_t> results = {
        recmux_writer_is_open(nullptr), recmux_writer_set_file_type(nullptr, 1),
        recmux_writer_set_msg_notify(nullptr, nullptr, Ignore), recmux_writer_init_video(nullptr, 0, 640, 480, 0),
        recmux_writer_init_audio(nullptr, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16),
        recmux_writer_write_video(nullptr, &kByte, 1, 1, 1), recmux_writer_write_audio(nullptr, &kByte, 1, 1),
        recmux_writer_write_frame(nullptr, 0, &kByte, 1, 1, 1), recmux_writer_write_frame(nullptr, 1, &kByte, 1, 1, 1),
        recmux_writer_get_begin_pts(nullptr, &pts), recmux_writer_get_end_pts(nullptr, &pts),
        recmux_writer_close(nullptr), recmux_writer_close(&none)};
    EXPECT_EQ(results, std::vector<int32_t>(results.size(), 1));
    EXPECT_EQ(pts, 5u);
    EXPECT_EQ(recmux_writer_open_and_set_callback(&pts, nullptr), nullptr);
}

TEST(WriterContract, OnlyMp4NamesOpenAndRefusedOnesTouchNoFile)
{
    for (const char *name : {"a.mp4", "a.MP4", "a.Mp4", "dir.x/b.mP4"}) {
        TempDir dir;
        std::filesystem::create_directory(dir.Path("dir.x"));
        recmux_writer *writer = recmux_writer_open(dir.Path(name).c_str());
        EXPECT_TRUE(writer && recmux_writer_close(&writer) == 0) << name;
    }
    TempDir dir;
    std::filesystem::create_directory(dir.Path("x.mp4"));
    for (const char *name : {"a", "a.mp3", "a.mp4.bak", "a.mp", "a.mp44", ".mp4x", "x.mp4/a"}) {
        WriteAll(dir.Path(name) + ".tmp", "stale");
        EXPECT_EQ(recmux_writer_open(dir.Path(name).c_str()), nullptr) << name;
    }
    EXPECT_EQ(recmux_writer_open(""), nullptr);
    EXPECT_EQ(recmux_writer_open(nullptr), nullptr);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path("")), {}), 7);
    EXPECT_EQ(ReadAll(dir.Path("a.tmp")), "stale");
}

// One second of MPEG-4 at 10 fps.
std::string Movie()
{
    return Fixture("movie.mp4", "-f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4");
}

struct Reader {
    recmux_reader *handle = recmux_reader_open(Movie().c_str());
    ~Reader() { recmux_reader_close(&handle); }
};

TEST(ReaderContract, OnlyRegularMp4FilesWithKnownVideoOpen)
{
    TempDir dir;
    const std::string whole = ReadAll(Movie());
    std::string noise(65536, '\0');
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (const auto &[name, bytes] : {std::pair<std::string, std::string>{"text.mp4", "not a movie"},
                                      {"empty.mp4", ""}, {"truncated.mp4", whole.substr(0, whole.size() / 2)},
                                      {"random.mp4", noise}}) {
        WriteAll(dir.Path(name), bytes);
        EXPECT_EQ(recmux_reader_open(dir.Path(name).c_str()), nullptr) << name;
    }
    for (const std::string &path :
         {dir.Path("missing.mp4"), std::string(), Fixture("tone.mp4", "-f lavfi -i sine=d=1 -c:a aac"),
          Fixture("mjpeg.mp4", "-f lavfi -i testsrc2=s=320x240:r=25 -frames:v 10 -c:v mjpeg")})
        EXPECT_EQ(recmux_reader_open(path.c_str()), nullptr) << path;
    EXPECT_EQ(recmux_reader_open(nullptr), nullptr);
}

TEST(ReaderContract, FramesRateDurationAndTheBufferRulesAndNullArgumentsTouchNothing)
{
    Reader reader, twin;
    ASSERT_NE(reader.handle, nullptr);
    double fps = 1.5;
    int32_t ms = 2, size = 3, media = 4, key = 5;
    int64_t pts = 6;
    recmux_reader *none = nullptr;
    std::vector<uint8_t> buffer(1 << 20);
    const int32_t capacity = static_cast<int32_t>(buffer.size());
    const std::vector<int32_t> results = {
        recmux_reader_is_open(nullptr), recmux_reader_get_fps(nullptr, &fps), recmux_reader_get_duration(nullptr, &ms),
        recmux_reader_read_frame(nullptr, buffer.data(), &size, &pts, &media, &key), recmux_reader_close(nullptr),
        recmux_reader_close(&none), recmux_reader_get_fps(reader.handle, nullptr),
        recmux_reader_get_duration(reader.handle, nullptr),
        recmux_reader_read_frame(reader.handle, buffer.data(), nullptr, &pts, &media, &key),
        recmux_reader_read_frame(reader.handle, buffer.data(), &size, &pts, nullptr, &key),
        recmux_reader_read_frame(reader.handle, buffer.data(), &size, &pts, &media, nullptr)};
    EXPECT_EQ(results, std::vector<int32_t>(results.size(), 1));
    EXPECT_EQ(fps + ms + size + media + key + pts, 1.5 + 2 + 3 + 4 + 5 + 6);

    EXPECT_EQ(recmux_reader_is_open(reader.handle), 0);
    EXPECT_EQ(recmux_reader_get_fps(reader.handle, &fps) + recmux_reader_get_duration(reader.handle, &ms), 0);
    EXPECT_EQ(std::pair(fps, ms), std::pair(10.0, 1000));
    // Too small (size is still 3): 1, the size it needed, the packet gone (the
    // null calls took none: the twin's first is as big); a null buffer holds nothing.
    int32_t needed = capacity, second = capacity;
    ASSERT_EQ(recmux_reader_read_frame(reader.handle, buffer.data(), &size, nullptr, &media, &key), 1);
    ASSERT_EQ(recmux_reader_read_frame(twin.handle, buffer.data(), &needed, nullptr, &media, &key), 0);
    EXPECT_EQ(std::pair(size, media), std::pair(needed, RECMUX_MEDIA_VIDEO));
    ASSERT_EQ(recmux_reader_read_frame(twin.handle, nullptr, &second, nullptr, &media, &key), 1);
    EXPECT_LT(second, capacity);
    // An exact fit is taken; then every frame once (pts never written), then the end leaves *size alone.
    size = second;
    std::vector<uint8_t> exact(static_cast<size_t>(second));
    ASSERT_EQ(recmux_reader_read_frame(reader.handle, exact.data(), &size, nullptr, &media, &key), 0);
    int frames = 2;
    for (size = capacity; recmux_reader_read_frame(reader.handle, buffer.data(), &size, &pts, &media, &key) == 0;
         size = capacity)
        frames++;
    EXPECT_EQ(std::tuple(frames, size, pts), std::tuple(10, capacity, int64_t{6}));
    EXPECT_EQ(recmux_reader_close(&reader.handle), 0);
    EXPECT_EQ(reader.handle, nullptr);
}

}  // namespace
