// The platform layer and the files of a recording: names as bytes and as UTF-8,
// and the chain of ways a working file reaches its final name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_ops.h"
#include "platform/text_codepage.h"
#include "media_fixture.h"
#include "recorder/recording_files.h"
#include "test_files.h"

namespace recmux::platform {
namespace {

using test::Exists;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

std::wstring ToWide(const char *text)
{
    std::wstring out(MultiByteToWide(CodePage::Utf8, text, nullptr, 0), L'\0');
    if (out.empty() || MultiByteToWide(CodePage::Utf8, text, out.data(), out.size()) != out.size())
        return {};
    out.pop_back();
    return out;
}

TEST(TextCodepage, Utf8RoundTripKeepsEveryCharacter)
{
    const char *text = "Aufnahme_\xC3\x9C_\xE6\x9D\xB1_\xF0\x9F\x98\x80.mp4";
    const std::wstring wide = ToWide(text);
    ASSERT_EQ(wide.size(), 18u);
    EXPECT_EQ(wide[9], L'\u00DC');
    EXPECT_EQ(wide[13], static_cast<wchar_t>(0x1F600));

    const size_t n = WideToMultiByte(CodePage::Utf8, wide.c_str(), nullptr, 0);
    ASSERT_EQ(n, std::char_traits<char>::length(text) + 1);
    std::string back(n, '\0');
    ASSERT_EQ(WideToMultiByte(CodePage::Utf8, wide.c_str(), back.data(), n), n);
    EXPECT_STREQ(back.c_str(), text);
}

TEST(TextCodepage, MalformedUtf8AndShortBuffersFail)
{
    for (const char *bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\x80", "\xF4\x90\x80\x80", "\xFF"})
        EXPECT_EQ(MultiByteToWide(CodePage::Utf8, bad, nullptr, 0), 0u) << bad;
    EXPECT_EQ(MultiByteToWide(CodePage::Utf8, nullptr, nullptr, 0), 0u);

    wchar_t small[3];
    EXPECT_EQ(MultiByteToWide(CodePage::Utf8, "abc", small, 3), 0u);
    EXPECT_EQ(MultiByteToWide(CodePage::Utf8, "ab", small, 3), 3u);
    const wchar_t lone_surrogate[] = {0xD800, 0};
    EXPECT_EQ(WideToMultiByte(CodePage::Utf8, lone_surrogate, nullptr, 0), 0u);
}

TEST(TextCodepage, AnsiUsesTheProcessLocale)
{
    // The tests run in the "C" locale, whose narrow encoding is ASCII.
    char out[8];
    EXPECT_EQ(WideToMultiByte(CodePage::Ansi, L"a.mp4", out, sizeof out), 6u);
    EXPECT_STREQ(out, "a.mp4");
    EXPECT_EQ(WideToMultiByte(CodePage::Ansi, L"\u00DC.mp4", nullptr, 0), 0u);
}

TEST(TextCodepage, CaseIsIgnoredForAsciiLettersOnly)
{
    EXPECT_EQ(AsciiCaseCompare(".MP4", ".mp4"), 0);
    EXPECT_EQ(AsciiCaseCompare(".mP4", ".Mp4"), 0);
    EXPECT_NE(AsciiCaseCompare(".mp4.bak", ".mp4"), 0);
    EXPECT_NE(AsciiCaseCompare(".mp", ".mp4"), 0);
    EXPECT_NE(AsciiCaseCompare("\xC4", "\xE4"), 0);
}

TEST(FileOps, MoveNeverReplacesButCopyAndRenameDo)
{
    TempDir dir;
    const FileOps &ops = SystemFileOps();
    const std::string a = dir.Path("a"), b = dir.Path("b");
    WriteAll(a, "new");
    WriteAll(b, "old");

    EXPECT_FALSE(ops.move_keep_target(a.c_str(), b.c_str()));
    EXPECT_EQ(ReadAll(a), "new");
    EXPECT_EQ(ReadAll(b), "old");

    EXPECT_TRUE(ops.copy_replace(a.c_str(), b.c_str()));
    EXPECT_EQ(ReadAll(b), "new");
    EXPECT_TRUE(Exists(a));

    WriteAll(b, "old");
    EXPECT_EQ(ops.rename_narrow(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(ReadAll(b), "new");
    EXPECT_FALSE(Exists(a));

    EXPECT_TRUE(ops.move_keep_target(b.c_str(), a.c_str()));
    EXPECT_EQ(ReadAll(a), "new");
    EXPECT_FALSE(Exists(b));
    EXPECT_FALSE(ops.copy_replace(b.c_str(), a.c_str()));
}

TEST(FileOps, WideCallsReachUtf8Names)
{
    TempDir dir;
    const FileOps &ops = SystemFileOps();
    const std::string name = dir.Path("\xE6\x9D\xB1\xE4\xBA\xAC.mp4");
    const std::string moved = dir.Path("\xC3\x9C.mp4");
    WriteAll(name, "x");

    EXPECT_TRUE(ops.exists_wide(ToWide(name.c_str()).c_str()));
    EXPECT_EQ(ops.rename_wide(ToWide(name.c_str()).c_str(), ToWide(moved.c_str()).c_str()), 0);
    EXPECT_TRUE(Exists(moved));
    EXPECT_TRUE(ops.delete_wide(ToWide(moved.c_str()).c_str()));
    EXPECT_FALSE(Exists(moved));
    EXPECT_FALSE(ops.exists_wide(L""));
    EXPECT_FALSE(ops.delete_wide(L""));
}

}  // namespace
}  // namespace recmux::platform

namespace recmux {
namespace {

using platform::FileOps;
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
            ops.rename_wide = FailRenameWide;
        if (c.fail > 1)
            ops.rename_narrow = FailRenameNarrow;
        if (c.fail > 2)
            ops.move_keep_target = FailMove;
        if (c.fail > 3)
            ops.copy_replace = FailCopy;
        if (c.failDelete)
            ops.delete_narrow = FailDeleteNarrow;
        g_calls.clear();
        EXPECT_EQ(FinaliseRecording(ops, working.c_str(), final_path.c_str()) == 0, c.ok);
        EXPECT_EQ(g_calls, c.calls);
        EXPECT_EQ(ReadAll(final_path), c.final);
        EXPECT_TRUE(!c.ok || !Exists(working));
        EXPECT_EQ(c.working ? ReadAll(working) : "", c.working ? c.working : "");
    }
}

TEST(FinaliseRecording, Utf8NamesAreFoundMovedAndDeleted)
{
    TempDir dir;
    FileOps ops = platform::SystemFileOps();
    const std::string working = dir.Path("\xE6\x9D\xB1\xE4\xBA\xAC_\xC3\x9C.mp4.tmp");
    const std::string final_path = dir.Path("\xE6\x9D\xB1\xE4\xBA\xAC_\xC3\x9C.mp4");
    WriteAll(working, "new recording");
    ops.exists_narrow = FailExistsNarrow;
    EXPECT_TRUE(FileExists(ops, working.c_str()));
    EXPECT_FALSE(FileExists(ops, final_path.c_str()));

    EXPECT_EQ(FinaliseRecording(ops, working.c_str(), final_path.c_str()), 0);
    EXPECT_EQ(ReadAll(final_path), "new recording");

    ops.delete_narrow = FailDeleteNarrow;
    EXPECT_TRUE(DeleteRecordingFile(ops, final_path.c_str()));
    EXPECT_FALSE(Exists(final_path));
    EXPECT_FALSE(DeleteRecordingFile(ops, final_path.c_str()));
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
    WriteAll(mp4, ReadAll(test::Fixture("small.mp4", "-f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4")));
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
    EXPECT_EQ(platform::Utf8ToWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(platform::Utf8ToWide("caf\xE9"), L"");
}

}  // namespace
}  // namespace recmux
