#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_ops.h"
#include "platform/text_codepage.h"
#include "recorder/recording_files.h"
#include "test_files.h"

namespace recmux {
namespace {

using platform::FileOps;
using platform::Utf8ToWide;
using test::Exists;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// Which legs of a chain ran, in order.
std::vector<std::string> g_calls;

int FailRenameNarrow(const char *, const char *)
{
    g_calls.push_back("rename");
    return -1;
}
int FailRenameWide(const wchar_t *, const wchar_t *)
{
    g_calls.push_back("wrename");
    return -1;
}
bool FailMove(const char *, const char *)
{
    g_calls.push_back("move");
    return false;
}
bool FailCopy(const char *, const char *)
{
    g_calls.push_back("copy");
    return false;
}
bool FailExistsNarrow(const char *)
{
    g_calls.push_back("access");
    return false;
}
bool FailDeleteNarrow(const char *)
{
    g_calls.push_back("delete");
    return false;
}

class FinaliseRecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        WriteAll(working_, "new recording");
    }

    int32_t Finalise() { return FinaliseRecording(ops_, working_.c_str(), final_.c_str()); }

    TempDir dir_;
    std::string working_ = dir_.Path("cam.mp4.tmp");
    std::string final_ = dir_.Path("cam.mp4");
    FileOps ops_ = platform::SystemFileOps();
};

TEST_F(FinaliseRecordingTest, ReplacesAnExistingRecordingInOneStep)
{
    WriteAll(final_, "old recording");
    EXPECT_EQ(Finalise(), 0);
    EXPECT_EQ(ReadAll(final_), "new recording");
    EXPECT_FALSE(Exists(working_));
}

TEST_F(FinaliseRecordingTest, NarrowRenameRunsWhenTheWideRenameFails)
{
    ops_.rename_wide = FailRenameWide;
    WriteAll(final_, "old recording");
    EXPECT_EQ(Finalise(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"wrename"}));
    EXPECT_EQ(ReadAll(final_), "new recording");
}

TEST_F(FinaliseRecordingTest, MoveRunsWhenBothRenamesFail)
{
    ops_.rename_wide = FailRenameWide;
    ops_.rename_narrow = FailRenameNarrow;
    EXPECT_EQ(Finalise(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"wrename", "rename"}));
    EXPECT_EQ(ReadAll(final_), "new recording");
    EXPECT_FALSE(Exists(working_));
}

TEST_F(FinaliseRecordingTest, CopyReplacesWhenTheMoveFindsTheTargetTaken)
{
    ops_.rename_wide = FailRenameWide;
    ops_.rename_narrow = FailRenameNarrow;
    WriteAll(final_, "old recording");
    EXPECT_EQ(Finalise(), 0);
    EXPECT_EQ(ReadAll(final_), "new recording");
    EXPECT_FALSE(Exists(working_));
}

TEST_F(FinaliseRecordingTest, CopiedButUndeletedWorkingFileIsAFailure)
{
    ops_.rename_wide = FailRenameWide;
    ops_.rename_narrow = FailRenameNarrow;
    ops_.move_keep_target = FailMove;
    ops_.delete_narrow = FailDeleteNarrow;
    EXPECT_NE(Finalise(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"wrename", "rename", "move", "delete"}));
    EXPECT_EQ(ReadAll(final_), "new recording");
}

TEST_F(FinaliseRecordingTest, WhenEveryLegFailsBothFilesStay)
{
    ops_.rename_wide = FailRenameWide;
    ops_.rename_narrow = FailRenameNarrow;
    ops_.move_keep_target = FailMove;
    ops_.copy_replace = FailCopy;
    WriteAll(final_, "old recording");
    EXPECT_NE(Finalise(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"wrename", "rename", "move", "copy"}));
    EXPECT_EQ(ReadAll(working_), "new recording");
    EXPECT_EQ(ReadAll(final_), "old recording");
}

TEST_F(FinaliseRecordingTest, Utf8NamesAreFoundMovedAndDeleted)
{
    const std::string working = dir_.Path("\xE6\x9D\xB1\xE4\xBA\xAC_\xC3\x9C.mp4.tmp");
    const std::string final_path = dir_.Path("\xE6\x9D\xB1\xE4\xBA\xAC_\xC3\x9C.mp4");
    WriteAll(working, "new recording");
    ops_.exists_narrow = FailExistsNarrow;
    EXPECT_TRUE(FileExists(ops_, working.c_str()));
    EXPECT_FALSE(FileExists(ops_, final_path.c_str()));

    EXPECT_EQ(FinaliseRecording(ops_, working.c_str(), final_path.c_str()), 0);
    EXPECT_EQ(ReadAll(final_path), "new recording");

    ops_.delete_narrow = FailDeleteNarrow;
    EXPECT_TRUE(DeleteRecordingFile(ops_, final_path.c_str()));
    EXPECT_FALSE(Exists(final_path));
    EXPECT_FALSE(DeleteRecordingFile(ops_, final_path.c_str()));
}

TEST(FileExistsTest, NullAndEmptyPathsDoNotExist)
{
    EXPECT_FALSE(FileExists(platform::SystemFileOps(), nullptr));
    EXPECT_FALSE(FileExists(platform::SystemFileOps(), ""));
}

TEST(IsReadableMp4Test, OnlyACompleteMp4Reads)
{
    TempDir dir;
    const std::string mp4 = dir.Path("made-by-ffmpeg.mp4");
    ASSERT_TRUE(test::MakeMp4WithFfmpeg(mp4));
    EXPECT_TRUE(IsReadableMp4(mp4.c_str()));

    const std::string whole = ReadAll(mp4);
    WriteAll(dir.Path("truncated.mp4"), whole.substr(0, whole.size() / 2));
    EXPECT_FALSE(IsReadableMp4(dir.Path("truncated.mp4").c_str()));

    WriteAll(dir.Path("empty.mp4"), "");
    EXPECT_FALSE(IsReadableMp4(dir.Path("empty.mp4").c_str()));

    std::string noise(4096, '\0');
    uint32_t state = 12345;
    for (char &c : noise) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    WriteAll(dir.Path("random.mp4"), noise);
    EXPECT_FALSE(IsReadableMp4(dir.Path("random.mp4").c_str()));
    EXPECT_FALSE(IsReadableMp4(dir.Path("missing.mp4").c_str()));
}

TEST(TextConversionTest, TextThatIsNotUtf8GivesEmptyText)
{
    EXPECT_EQ(Utf8ToWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(Utf8ToWide("caf\xE9"), L"");
}

}  // namespace
}  // namespace recmux
