#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <recmux/recmux_writer.h>
#include "test_files.h"

namespace {

using recmux::test::Exists;
using recmux::test::TempDir;
using recmux::test::WriteAll;

bool DirectoryIsEmpty(const std::string &path)
{
    return std::filesystem::is_empty(path);
}

int AcceptBytes(void *, uint8_t *, int size)
{
    return size;
}

TEST(WriterApi, OnlyPathsEndingInMp4OpenARecorder)
{
    for (const char *name : {"a.mp4", "a.MP4", "a.Mp4", "dir.x/b.mP4"}) {
        TempDir dir;
        std::filesystem::create_directory(dir.Path("dir.x"));
        recmux_writer *writer = recmux_writer_open(dir.Path(name).c_str());
        EXPECT_NE(writer, nullptr) << name;
        EXPECT_EQ(recmux_writer_is_open(writer), 0) << name;
        EXPECT_EQ(recmux_writer_close(&writer), 0) << name;
        EXPECT_EQ(writer, nullptr) << name;
    }
}

TEST(WriterApi, RefusedPathsTouchNoFile)
{
    for (const char *name : {"a", "a.mp3", "a.mp4.bak", "a.mp", "a.mp44", "x.mp4/a", ".mp4x"}) {
        TempDir dir;
        const std::string path = dir.Path(name);
        if (std::string(name) == "x.mp4/a")
            std::filesystem::create_directory(dir.Path("x.mp4"));
        else
            WriteAll(path + ".tmp", "stale");
        EXPECT_EQ(recmux_writer_open(path.c_str()), nullptr) << name;
        if (std::string(name) != "x.mp4/a") {
            EXPECT_TRUE(Exists(path + ".tmp")) << name;
        }
    }
    EXPECT_EQ(recmux_writer_open(nullptr), nullptr);
    EXPECT_EQ(recmux_writer_open(""), nullptr);
}

TEST(WriterApi, AStaleWorkingFileIsRemovedAndAnEmptyRecordingLeavesNothing)
{
    TempDir dir;
    const std::string path = dir.Path("cam.mp4");
    WriteAll(path + ".tmp", "stale");
    recmux_writer *writer = recmux_writer_open(path.c_str());
    ASSERT_NE(writer, nullptr);
    EXPECT_FALSE(Exists(path + ".tmp"));
    EXPECT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_TRUE(DirectoryIsEmpty(dir.Path("")));
}

TEST(WriterApi, NullHandlesFailEverywhere)
{
    uint64_t pts = 5;
    const uint8_t byte = 0;
    EXPECT_EQ(recmux_writer_is_open(nullptr), 1);
    EXPECT_EQ(recmux_writer_set_file_type(nullptr, 1), 1);
    EXPECT_EQ(recmux_writer_set_msg_notify(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(recmux_writer_init_video(nullptr, 0, 640, 480, 0), 1);
    EXPECT_EQ(recmux_writer_init_audio(nullptr, 1, 1, 8000, 16), 1);
    EXPECT_EQ(recmux_writer_write_video(nullptr, &byte, 1, 1, 1), 1);
    EXPECT_EQ(recmux_writer_write_audio(nullptr, &byte, 1, 1), 1);
    EXPECT_EQ(recmux_writer_write_frame(nullptr, 0, &byte, 1, 1, 1), 1);
    EXPECT_EQ(recmux_writer_get_begin_pts(nullptr, &pts), 1);
    EXPECT_EQ(recmux_writer_get_end_pts(nullptr, &pts), 1);
    EXPECT_EQ(pts, 5u);

    recmux_writer *none = nullptr;
    EXPECT_EQ(recmux_writer_close(nullptr), 1);
    EXPECT_EQ(recmux_writer_close(&none), 1);
}

TEST(WriterApi, CloseDestroysOnceAndNullsTheHandle)
{
    recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, AcceptBytes);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(recmux_writer_set_file_type(writer, 0), 0);
    EXPECT_EQ(recmux_writer_set_msg_notify(writer, nullptr, nullptr), 0);
    EXPECT_EQ(recmux_writer_close(&writer), 0);
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(recmux_writer_close(&writer), 1);

    EXPECT_EQ(recmux_writer_open_and_set_callback(nullptr, nullptr), nullptr);
}

TEST(WriterApi, QueriesBeforeAnyFrameLeaveTheOutputAlone)
{
    recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, AcceptBytes);
    ASSERT_NE(writer, nullptr);
    uint64_t pts = 99;
    EXPECT_EQ(recmux_writer_get_begin_pts(writer, &pts), 1);
    EXPECT_EQ(recmux_writer_get_end_pts(writer, &pts), 1);
    EXPECT_EQ(recmux_writer_get_begin_pts(writer, nullptr), 1);
    EXPECT_EQ(pts, 99u);

    const uint8_t byte = 0;
    EXPECT_EQ(recmux_writer_write_frame(writer, 2, &byte, 1, 1, 1), 1);
    EXPECT_EQ(recmux_writer_write_frame(writer, -1, &byte, 1, 1, 1), 1);
    EXPECT_EQ(recmux_writer_close(&writer), 0);
}

}  // namespace
