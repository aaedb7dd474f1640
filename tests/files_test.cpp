// The platform layer and the files of a recording: names as bytes and as UTF-8,
// and the chain of ways a working file reaches its final name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media_fixture.h"
#include "platform/file_ops.h"
#include "platform/text_codepage.h"
#include "recorder/CMP4Writer.h"
#include "recorder/recording_files.h"
#include "test_files.h"

namespace recmux {
namespace {

using platform::FileOps;
using namespace test;

TEST(TextCodepage, Utf8RoundTripsAndAnythingElseFails)
{
    const char *text = "Aufnahme_\xC3\x9C_\xE6\x9D\xB1_\xF0\x9F\x98\x80.mp4";
    const std::wstring wide = platform::Utf8ToWide(text);
    EXPECT_EQ(wide, L"Aufnahme_\u00DC_\u6771_\U0001F600.mp4");
    const size_t n = platform::WideToUtf8(wide.c_str(), nullptr, 0);
    ASSERT_EQ(n, std::char_traits<char>::length(text) + 1);
    std::string back(n, '\0');
    ASSERT_EQ(platform::WideToUtf8(wide.c_str(), back.data(), n), n);
    EXPECT_STREQ(back.c_str(), text);

    for (const char *bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\x80", "\xF4\x90\x80\x80", "\xFF", "caf\xE9"}) {
        EXPECT_EQ(platform::Utf8ToWideChars(bad, nullptr, 0), 0u) << bad;
        EXPECT_EQ(platform::Utf8ToWide(bad), L"");
    }
    EXPECT_EQ(platform::Utf8ToWideChars(nullptr, nullptr, 0), 0u);
    wchar_t small[3];
    EXPECT_EQ(platform::Utf8ToWideChars("abc", small, 3), 0u);
    EXPECT_EQ(platform::Utf8ToWideChars("ab", small, 3), 3u);
    const wchar_t lone_surrogate[] = {0xD800, 0};
    EXPECT_EQ(platform::WideToUtf8(lone_surrogate, nullptr, 0), 0u);
}

TEST(FileOps, MoveNeverReplacesButCopyAndRenameDo)
{
    TempDir dir;
    const FileOps &ops = platform::SystemFileOps();
    const std::string a = dir.Path("a"), b = dir.Path("b");
    WriteAll(a, "new");
    WriteAll(b, "old");
    EXPECT_FALSE(ops.move_keep_target(a.c_str(), b.c_str()));
    EXPECT_EQ(ReadAll(b), "old");

    EXPECT_TRUE(ops.copy_replace(a.c_str(), b.c_str()));
    EXPECT_EQ(ReadAll(b), "new");
    EXPECT_TRUE(Exists(a));

    WriteAll(b, "old");
    EXPECT_EQ(ops.rename_narrow(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(ReadAll(b), "new");

    EXPECT_TRUE(ops.move_keep_target(b.c_str(), a.c_str()));
    EXPECT_EQ(ReadAll(a), "new");
    EXPECT_FALSE(Exists(b));
    EXPECT_FALSE(ops.copy_replace(b.c_str(), a.c_str()));
}

// Which legs of a chain ran, in order.
std::vector<std::string> g_calls;

// Each leg of the chain that moves the working file to its final name, failing
// in turn: which legs ran, the result, and what each name holds afterwards.
TEST(FinaliseRecording, EveryLegRunsInTurnAndAFailureLeavesBothFiles)
{
    const struct {
        int fail;  // how many legs fail, in the order wrename, rename, move, copy
        bool failDelete, oldFinal;
        std::vector<std::string> calls;
        bool ok;
        const char *working, *final;
    } cases[] = {
        {0, false, true, {}, true, nullptr, "new"},
        {1, false, true, {"wrename"}, true, nullptr, "new"},
        {2, false, false, {"wrename", "rename"}, true, nullptr, "new"},
        {2, false, true, {"wrename", "rename"}, true, nullptr, "new"},
        {3, true, false, {"wrename", "rename", "move", "delete"}, false, nullptr, "new"},
        {4, false, true, {"wrename", "rename", "move", "copy"}, false, "new", "old"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls.size());
        TempDir dir;
        const std::string working = dir.Path("cam.mp4.tmp"), final_path = dir.Path("cam.mp4");
        WriteAll(working, "new");
        if (c.oldFinal)
            WriteAll(final_path, "old");
        FileOps ops = platform::SystemFileOps();
        if (c.fail > 0)
            ops.rename_wide = [](const wchar_t *, const wchar_t *) { return g_calls.push_back("wrename"), -1; };
        if (c.fail > 1)
            ops.rename_narrow = [](const char *, const char *) { return g_calls.push_back("rename"), -1; };
        if (c.fail > 2)
            ops.move_keep_target = [](const char *, const char *) { return g_calls.push_back("move"), false; };
        if (c.fail > 3)
            ops.copy_replace = [](const char *, const char *) { return g_calls.push_back("copy"), false; };
        if (c.failDelete)
            ops.delete_narrow = [](const char *) { return g_calls.push_back("delete"), false; };
        g_calls.clear();
        EXPECT_EQ(FinaliseRecording(ops, working.c_str(), final_path.c_str()) == 0, c.ok);
        EXPECT_EQ(g_calls, c.calls);
        EXPECT_EQ(ReadAll(final_path), c.final);
        EXPECT_TRUE(!c.ok || !Exists(working));
        EXPECT_EQ(c.working ? ReadAll(working) : "", c.working ? c.working : "");
    }
}

// Where the narrow calls fail, the wide ones reach the same UTF-8 names.
TEST(FinaliseRecording, Utf8NamesAreFoundMovedAndDeleted)
{
    TempDir dir;
    FileOps ops = platform::SystemFileOps();
    ops.delete_narrow = [](const char *) { return false; };
    const std::string working = dir.Path("\xE6\x9D\xB1\xE4\xBA\xAC_\xC3\x9C.mp4.tmp");
    const std::string final_path = dir.Path("\xE6\x9D\xB1\xE4\xBA\xAC_\xC3\x9C.mp4");
    WriteAll(working, "new recording");

    EXPECT_EQ(FinaliseRecording(ops, working.c_str(), final_path.c_str()), 0);
    EXPECT_EQ(ReadAll(final_path), "new recording");
    EXPECT_TRUE(DeleteRecordingFile(ops, final_path.c_str()));
    EXPECT_FALSE(Exists(final_path));
    EXPECT_FALSE(DeleteRecordingFile(ops, final_path.c_str()));
}

// A power cut after close finds the recording whole under its name: the file
// reaches the disk before the rename, and the rename before close returns.
// While recording, what was written is synced once a second.
TEST(Durability, TheFileIsSyncedBeforeItsRenameAndTheFolderAfter)
{
    for (int32_t file_type : {0, 1}) {
        SCOPED_TRACE(file_type);
        TempDir dir;
        const std::string path = dir.Path("cam.mp4");
        FileOps ops = platform::SystemFileOps();
        ops.sync_file = [](int fd) { return g_calls.push_back("sync"), platform::SystemFileOps().sync_file(fd); };
        ops.sync_folder = [](const char *p) { return g_calls.push_back("sync folder"), platform::SystemFileOps().sync_folder(p); };
        ops.rename_wide = [](const wchar_t *from, const wchar_t *to) {
            return g_calls.push_back("rename"), platform::SystemFileOps().rename_wide(from, to);
        };
        g_calls.clear();
        CMP4Writer writer(ops);
        ASSERT_TRUE(writer.Open(path.c_str()));
        writer.SetFileType(file_type);
        for (size_t i = 0; i < H264(50).size(); i++)
            writer.WriteVideo(H264(50)[i].bytes.data(), static_cast<uint32_t>(H264(50)[i].bytes.size()),
                              1000000 + i * 40000, H264(50)[i].key);
        const std::vector<std::string> while_recording = g_calls;
        ASSERT_TRUE(writer.Close());
        EXPECT_TRUE(writer.Kept());
        // Written faster than real time: one sync, at the first fragment.
        EXPECT_EQ(while_recording, std::vector<std::string>{"sync"});
        g_calls.erase(g_calls.begin(), g_calls.begin() + static_cast<long>(while_recording.size()));
        // A plain copy is synced before it replaces the fragmented working file.
        const std::vector<std::string> plain_copy = {"sync", "rename"};
        std::vector<std::string> closing = file_type ? std::vector<std::string>{} : plain_copy;
        closing.insert(closing.end(), {"sync", "rename", "sync folder"});
        EXPECT_EQ(g_calls, closing);
        EXPECT_EQ(FrameMd5s(path).size(), 50u);
    }
}

TEST(IsReadableMp4Test, OnlyACompleteMp4Reads)
{
    TempDir dir;
    const std::string mp4 = Fixture("small.mp4", "-f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4");
    EXPECT_TRUE(IsReadableMp4(mp4.c_str()));
    const std::string whole = ReadAll(mp4);
    WriteAll(dir.Path("truncated.mp4"), whole.substr(0, whole.size() / 2));
    WriteAll(dir.Path("empty.mp4"), "");
    for (const char *name : {"truncated.mp4", "empty.mp4", "missing.mp4"})
        EXPECT_FALSE(IsReadableMp4(dir.Path(name).c_str())) << name;
}

}  // namespace
}  // namespace recmux
