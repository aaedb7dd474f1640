// What lies under a recording's names cannot redirect, block or destroy a
// recording: names are bytes, symlinks are not followed, special files refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "media_fixture.h"
#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>
#include "test_files.h"

namespace {

using recmux::test::AccessUnit;
using recmux::test::Exists;
using recmux::test::ReadAll;
using recmux::test::TempDir;
using recmux::test::WriteAll;

const std::vector<AccessUnit> &TwoSeconds()
{
    static TempDir dir;
    static const std::vector<AccessUnit> units = [] {
        const std::string path = dir.Path("two.h264");
        return recmux::test::MakeElementaryStream(path, 50, "-c:v libx264 -bf 0 -g 25 -f h264")
                   ? recmux::test::SplitAccessUnits(path)
                   : std::vector<AccessUnit>{};
    }();
    return units;
}

// Two seconds into a new recorder on path; what close returned, or -1 when it did not open.
int Record(const std::string &path, const std::function<void()> &after_first_frames = {})
{
    recmux_writer *writer = recmux_writer_open(path.c_str());
    if (!writer)
        return -1;
    for (size_t i = 0; i < TwoSeconds().size(); i++) {
        const AccessUnit &unit = TwoSeconds()[i];
        recmux_writer_write_video(writer, unit.bytes.data(),
                                  static_cast<uint32_t>(unit.bytes.size()), 1000000 + i * 40000,
                                  unit.key);
        if (i == 30 && after_first_frames)
            after_first_frames();
    }
    return recmux_writer_close(&writer);
}

ino_t Inode(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(FileSafety, ALatin1NameIsContinuedAndReplacedByRename)
{
    ASSERT_EQ(TwoSeconds().size(), 50u);
    TempDir dir;
    const std::string path = dir.Path("cam\xe9ra.mp4");
    ASSERT_EQ(Record(path), 0);
    const ino_t first = Inode(path);
    ASSERT_NE(first, 0u);
    // Holding the old file open keeps its inode from being reused by the new one.
    const std::string old_bytes = ReadAll(path);
    FILE *old_file = std::fopen(path.c_str(), "rb");
    ASSERT_EQ(Record(path), 0);
    EXPECT_NE(Inode(path), first);
    std::fclose(old_file);
    EXPECT_GT(ReadAll(path).size(), old_bytes.size());
    EXPECT_EQ(recmux::test::ProbeVideo(path, "nb_read_frames"), "100");
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST(FileSafety, ASymlinkPlantedInTheWorkingNameIsNeverFollowed)
{
    ASSERT_EQ(TwoSeconds().size(), 50u);
    TempDir dir;
    const std::string victim = dir.Path("victim");
    WriteAll(victim, "precious");
    // Planted before the output opens: the working file cannot be created.
    const std::string before = dir.Path("before.mp4");
    recmux_writer *writer = recmux_writer_open(before.c_str());
    ASSERT_NE(writer, nullptr);
    std::filesystem::create_symlink(victim, before + ".tmp");
    const std::vector<uint8_t> &key = TwoSeconds()[0].bytes;
    const auto size = static_cast<uint32_t>(key.size());
    for (uint64_t i = 0; i < 30; i++)
        recmux_writer_write_video(writer, key.data(), size, 1000000 + i * 40000, 1);
    EXPECT_EQ(recmux_writer_close(&writer), 1);
    EXPECT_FALSE(Exists(before));
    // Swapped in while recording: close publishes nothing that is not its own file.
    const std::string during = dir.Path("during.mp4");
    EXPECT_EQ(Record(during, [&] {
                  std::filesystem::remove(during + ".tmp");
                  std::filesystem::create_symlink(victim, during + ".tmp");
              }),
              1);
    EXPECT_FALSE(Exists(during));
    EXPECT_TRUE(std::filesystem::is_symlink(during + ".tmp"));
    EXPECT_EQ(ReadAll(victim), "precious");
}

TEST(FileSafety, NamesThatAreNotRegularFilesAreRefusedAtOnce)
{
    TempDir dir;
    const std::string fifo = dir.Path("fifo.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(recmux_writer_open(fifo.c_str()), nullptr);
    EXPECT_EQ(recmux_reader_open(fifo.c_str()), nullptr);
    ASSERT_EQ(mkfifo(dir.Path("cam.mp4.tmp").c_str(), 0600), 0);
    EXPECT_EQ(recmux_writer_open(dir.Path("cam.mp4").c_str()), nullptr);
    std::filesystem::create_directory(dir.Path("folder.mp4"));
    EXPECT_EQ(recmux_writer_open(dir.Path("folder.mp4").c_str()), nullptr);
    EXPECT_EQ(recmux_reader_open(dir.Path("folder.mp4").c_str()), nullptr);
    EXPECT_EQ(recmux_reader_open("/dev/zero"), nullptr);
}

}  // namespace
