#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "recorder/CMP4Writer.h"
#include "test_files.h"

namespace recmux {
namespace {

using test::Exists;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

int g_bytes_written = 0;

int CountBytes(void *, uint8_t *, int size)
{
    g_bytes_written += size;
    return size;
}

TEST(RecorderLifecycle, NewRecorderIsClosedAndHasNoTimestamps)
{
    CMP4Writer writer;
    uint64_t pts = 7;
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.GetBeginPts(&pts));
    EXPECT_FALSE(writer.GetEndPts(&pts));
    EXPECT_EQ(pts, 7u);
    EXPECT_FALSE(writer.Close());
    EXPECT_EQ(writer.FileType(), 0);
}

bool RefuseMove(const char *, const char *)
{
    return false;
}

TEST(RecorderLifecycle, AStaleWorkingFileIsDeletedUnlessItHoldsARecording)
{
    TempDir dir;
    const std::string path = dir.Path("cam.mp4");
    WriteAll(path + ".tmp", "left over by a crash");
    {
        CMP4Writer writer;
        ASSERT_TRUE(writer.Open(path.c_str()));
        EXPECT_TRUE(writer.IsOpen());
        EXPECT_FALSE(Exists(path + ".tmp"));
        EXPECT_FALSE(Exists(path));
    }
    // A recording that can be moved nowhere is not written over.
    ASSERT_TRUE(test::MakeMp4WithFfmpeg(path));
    std::filesystem::rename(path, path + ".tmp");
    const std::string survivor = ReadAll(path + ".tmp");
    platform::FileOps no_moves = platform::SystemFileOps();
    no_moves.move_keep_target = RefuseMove;
    CMP4Writer writer(no_moves);
    EXPECT_FALSE(writer.Open(path.c_str()));
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(ReadAll(path + ".tmp"), survivor);
    EXPECT_FALSE(Exists(path));
}

TEST(RecorderLifecycle, CloseWithoutFramesLeavesNoFileAndCloseTwiceFails)
{
    TempDir dir;
    const std::string path = dir.Path("cam.mp4");
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    uint64_t pts = 7;
    EXPECT_FALSE(writer.GetBeginPts(&pts));
    EXPECT_FALSE(writer.GetEndPts(nullptr));
    EXPECT_EQ(pts, 7u);

    EXPECT_TRUE(writer.Close());
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(Exists(path + ".tmp"));
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(writer.Close());
}

TEST(RecorderLifecycle, DestructorClosesAnOpenRecorder)
{
    TempDir dir;
    const std::string path = dir.Path("cam.mp4");
    {
        CMP4Writer writer;
        ASSERT_TRUE(writer.Open(path.c_str()));
    }
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST(RecorderLifecycle, CallbackOutputIsFragmentedAndNeedsACallback)
{
    CMP4Writer refused;
    EXPECT_FALSE(refused.OpenWithCallback(nullptr, nullptr));
    EXPECT_FALSE(refused.IsOpen());

    g_bytes_written = 0;
    CMP4Writer writer;
    ASSERT_TRUE(writer.OpenWithCallback(nullptr, CountBytes));
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_EQ(writer.FileType(), 1);
    EXPECT_TRUE(writer.SetFileType(0));
    EXPECT_EQ(writer.FileType(), 0);
    EXPECT_TRUE(writer.Close());
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(g_bytes_written, 0);
}

TEST(RecorderLifecycle, AudioIsSetUpOnceAndAcceptedBeforeAnyVideo)
{
    TempDir dir;
    CMP4Writer writer;
    ASSERT_TRUE(writer.Open(dir.Path("cam.mp4").c_str()));
    const uint8_t frame[] = {0, 1, 1, 0, 0xD5, 0xD5};
    EXPECT_TRUE(writer.InitAudio(7, 2, 16000, 8));
    EXPECT_FALSE(writer.InitAudio(6, 1, 8000, 16));
    // Dropped until the first key frame, but never refused.
    EXPECT_TRUE(writer.WriteAudio(frame, sizeof frame, 1000));
    EXPECT_TRUE(writer.WriteAudio(nullptr, 0, 1000));
}

}  // namespace
}  // namespace recmux
