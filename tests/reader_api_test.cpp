#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <recmux/recmux_reader.h>
#include "test_files.h"

namespace {

using recmux::test::TempDir;
using recmux::test::WriteAll;

// The one-second 10 fps MPEG-4 file of the fixtures, made once.
std::string Movie()
{
    static TempDir dir;
    static const std::string path = dir.Path("movie.mp4");
    static const bool made = recmux::test::MakeMp4WithFfmpeg(path);
    return made ? path : std::string();
}

struct Reader {
    recmux_reader *handle = recmux_reader_open(Movie().c_str());
    ~Reader() { recmux_reader_close(&handle); }
};

TEST(ReaderApi, NullHandlesAndHandleAddressesFail)
{
    double fps = 1.5;
    int32_t ms = 2, size = 3, media = 4, key = 5;
    int64_t pts = 6;
    uint8_t byte = 0;
    EXPECT_EQ(recmux_reader_is_open(nullptr), 1);
    EXPECT_EQ(recmux_reader_get_fps(nullptr, &fps), 1);
    EXPECT_EQ(recmux_reader_get_duration(nullptr, &ms), 1);
    EXPECT_EQ(recmux_reader_read_frame(nullptr, &byte, &size, &pts, &media, &key), 1);
    EXPECT_EQ(fps + ms + size + media + key + pts, 1.5 + 2 + 3 + 4 + 5 + 6);
    recmux_reader *none = nullptr;
    EXPECT_EQ(recmux_reader_close(nullptr), 1);
    EXPECT_EQ(recmux_reader_close(&none), 1);
}

TEST(ReaderApi, OnlyMp4FilesWithKnownVideoOpen)
{
    TempDir dir;
    WriteAll(dir.Path("text.mp4"), "not a movie");
    WriteAll(dir.Path("empty.mp4"), "");
    EXPECT_EQ(recmux_reader_open(nullptr), nullptr);
    EXPECT_EQ(recmux_reader_open(""), nullptr);
    EXPECT_EQ(recmux_reader_open(dir.Path("missing.mp4").c_str()), nullptr);
    EXPECT_EQ(recmux_reader_open(dir.Path("text.mp4").c_str()), nullptr);
    EXPECT_EQ(recmux_reader_open(dir.Path("empty.mp4").c_str()), nullptr);
}

TEST(ReaderApi, CloseDestroysOnceAndNullsTheHandle)
{
    recmux_reader *reader = recmux_reader_open(Movie().c_str());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(recmux_reader_is_open(reader), 0);
    EXPECT_EQ(recmux_reader_close(&reader), 0);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(recmux_reader_close(&reader), 1);
}

TEST(ReaderApi, RateAndDurationOfTheFile)
{
    Reader reader;
    ASSERT_NE(reader.handle, nullptr);
    double fps = 0;
    int32_t ms = 0;
    EXPECT_EQ(recmux_reader_get_fps(reader.handle, &fps), 0);
    EXPECT_EQ(fps, 10.0);
    EXPECT_EQ(recmux_reader_get_duration(reader.handle, &ms), 0);
    EXPECT_EQ(ms, 1000);
    EXPECT_EQ(recmux_reader_get_fps(reader.handle, nullptr), 1);
    EXPECT_EQ(recmux_reader_get_duration(reader.handle, nullptr), 1);
}

TEST(ReaderApi, EveryFrameOnceThenEndWithTheSizeUntouched)
{
    Reader reader;
    ASSERT_NE(reader.handle, nullptr);
    std::vector<uint8_t> buffer(1 << 20);
    int frames = 0, keys = 0;
    int32_t size = 0, media = -1, key = -1;
    int64_t pts = -42;
    for (;;) {
        size = static_cast<int32_t>(buffer.size());
        if (recmux_reader_read_frame(reader.handle, buffer.data(), &size, &pts, &media, &key) != 0)
            break;
        EXPECT_EQ(media, 0);
        frames++;
        keys += key;
    }
    EXPECT_EQ(frames, 10);
    EXPECT_GE(keys, 1);
    EXPECT_EQ(size, static_cast<int32_t>(buffer.size()));
    EXPECT_EQ(pts, -42);
}

TEST(ReaderApi, ATooSmallBufferLosesThatPacketOnly)
{
    Reader reader;
    ASSERT_NE(reader.handle, nullptr);
    std::vector<uint8_t> buffer(1 << 20);
    int32_t size = 16, media = -1, key = -1;
    ASSERT_EQ(recmux_reader_read_frame(reader.handle, buffer.data(), &size, nullptr, &media, &key),
              1);
    EXPECT_GT(size, 16);
    EXPECT_EQ(media, 0);
    EXPECT_EQ(key, 1);

    int32_t second = 1 << 20;
    ASSERT_EQ(
        recmux_reader_read_frame(reader.handle, buffer.data(), &second, nullptr, &media, &key), 0);
    Reader again;
    std::vector<uint8_t> exact(static_cast<size_t>(size));
    ASSERT_EQ(recmux_reader_read_frame(again.handle, exact.data(), &size, nullptr, &media, &key), 0)
        << "a packet exactly as large as the buffer fits";
    std::vector<uint8_t> next(static_cast<size_t>(second));
    ASSERT_EQ(recmux_reader_read_frame(again.handle, next.data(), &second, nullptr, &media, &key),
              0);
    EXPECT_EQ(next, std::vector<uint8_t>(buffer.begin(), buffer.begin() + second));
}

TEST(ReaderApi, NullOutPointersFailWithoutTakingAPacket)
{
    Reader reader;
    Reader twin;
    ASSERT_NE(reader.handle, nullptr);
    std::vector<uint8_t> buffer(1 << 20), first(1 << 20);
    int32_t size = 1 << 20, media = 0, key = 0;
    EXPECT_EQ(
        recmux_reader_read_frame(reader.handle, buffer.data(), nullptr, nullptr, &media, &key), 1);
    EXPECT_EQ(recmux_reader_read_frame(reader.handle, buffer.data(), &size, nullptr, nullptr, &key),
              1);
    EXPECT_EQ(
        recmux_reader_read_frame(reader.handle, buffer.data(), &size, nullptr, &media, nullptr), 1);
    EXPECT_EQ(size, 1 << 20);
    ASSERT_EQ(recmux_reader_read_frame(reader.handle, buffer.data(), &size, nullptr, &media, &key),
              0);
    int32_t firstSize = 1 << 20;
    ASSERT_EQ(
        recmux_reader_read_frame(twin.handle, first.data(), &firstSize, nullptr, &media, &key), 0);
    EXPECT_EQ(size, firstSize);
    EXPECT_EQ(buffer, first);

    int32_t nullSize = 1 << 20;
    EXPECT_EQ(recmux_reader_read_frame(reader.handle, nullptr, &nullSize, nullptr, &media, &key), 1)
        << "a null buffer holds nothing";
    EXPECT_GT(nullSize, 0);
    EXPECT_LT(nullSize, 1 << 20);
}

}  // namespace
