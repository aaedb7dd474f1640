#include <gtest/gtest.h>

#include <string>

#include "platform/file_ops.h"
#include "platform/text_codepage.h"
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
