// A recording that a crash interrupted survives the next open on its name,
// through the exported functions.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "media_fixture.h"
#include <recmux/recmux_writer.h>
#include "test_files.h"

namespace {

using recmux::test::AccessUnit;
using recmux::test::DecodeErrors;
using recmux::test::Exists;
using recmux::test::FrameMd5s;
using recmux::test::ReadAll;
using recmux::test::TempDir;

constexpr uint64_t kStart = 5000000;

struct Stream {
    std::string path;
    std::vector<AccessUnit> units;
};

// Ten seconds of a camera's H.264, made once per test binary.
const Stream &TenSeconds()
{
    static TempDir dir;
    static const Stream stream = [] {
        Stream made{dir.Path("ten.h264"), {}};
        if (recmux::test::MakeElementaryStream(made.path, 250, "-c:v libx264 -bf 0 -g 25 -f h264"))
            made.units = recmux::test::SplitAccessUnits(made.path);
        return made;
    }();
    return stream;
}

// The first `count` units at 25 fps; how many were accepted.
size_t Feed(recmux_writer *writer, size_t count)
{
    const auto &units = TenSeconds().units;
    size_t accepted = 0;
    for (size_t i = 0; i < count && i < units.size(); i++)
        accepted += recmux_writer_write_video(writer, units[i].bytes.data(),
                                              static_cast<uint32_t>(units[i].bytes.size()),
                                              kStart + i * 40000, units[i].key) == 0;
    return accepted;
}

bool Record(const std::string &path, size_t count)
{
    recmux_writer *writer = recmux_writer_open(path.c_str());
    const bool fed = writer && Feed(writer, count) == count;
    return recmux_writer_close(&writer) == 0 && fed;
}

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string> &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST(CrashRecovery, TheNextOpenKeepsEveryFrameThatSurvivedAKill)
{
    ASSERT_EQ(TenSeconds().units.size(), 250u);
    TempDir dir;
    const std::string fragmented = dir.Path("fragmented.mp4");
    const std::string plain = dir.Path("plain.mp4");
    ASSERT_TRUE(recmux::test::DiesBySigkill([&] {
        recmux_writer *writers[] = {recmux_writer_open(fragmented.c_str()),
                                    recmux_writer_open(plain.c_str())};
        recmux_writer_set_file_type(writers[0], 1);
        for (recmux_writer *writer : writers)
            Feed(writer, 100);
        recmux::test::KillSelf();
    }));
    const std::string survivor = ReadAll(fragmented + ".tmp");
    const auto survivors = FrameMd5s(fragmented + ".tmp");
    ASSERT_GE(survivors.size(), 80u);
    const auto new_frames = FrameMd5s(TenSeconds().path);

    // Alone, the survivor becomes the recording and is continued.
    ASSERT_TRUE(Record(fragmented, 250));
    EXPECT_FALSE(Exists(fragmented + ".tmp"));
    EXPECT_EQ(FrameMd5s(fragmented), Joined(survivors, new_frames));
    EXPECT_EQ(DecodeErrors(fragmented), "");

    // Beside a recording of the final name, it is kept under a name no file has.
    const std::string cam = dir.Path("cam.mp4");
    ASSERT_TRUE(Record(cam, 50));
    const auto first_session = FrameMd5s(cam);
    recmux::test::WriteAll(cam + ".tmp", survivor);
    recmux::test::WriteAll(dir.Path("cam.recovered.mp4"), "recovered before");
    ASSERT_TRUE(Record(cam, 250));
    EXPECT_FALSE(Exists(cam + ".tmp"));
    EXPECT_EQ(FrameMd5s(cam), Joined(first_session, new_frames));
    EXPECT_EQ(DecodeErrors(cam), "");
    EXPECT_EQ(ReadAll(dir.Path("cam.recovered.mp4")), "recovered before");
    EXPECT_EQ(ReadAll(dir.Path("cam.recovered-2.mp4")), survivor);

    // A plain recording's index is written at close: its working file reads
    // back as nothing and is deleted.
    ASSERT_TRUE(Exists(plain + ".tmp"));
    ASSERT_TRUE(Record(plain, 250));
    EXPECT_FALSE(Exists(plain + ".tmp"));
    EXPECT_EQ(FrameMd5s(plain), new_frames);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path("")),
                            std::filesystem::directory_iterator()),
              5);
}

}  // namespace
