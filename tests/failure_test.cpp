// What goes wrong around a recording is survived or told: a crash, an output
// that breaks, and names that something else holds or redirects.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

constexpr int kSkipped = 77;

std::vector<std::string> Joined(std::vector<std::string> first, const auto &...more)
{
    (first.insert(first.end(), more.begin(), more.end()), ...);
    return first;
}

struct Outcome {
    std::vector<int> messages;  // values of RECMUX_MSG_OUTPUT_FAILED
    size_t accepted = 0;
    bool refused_to_the_end = true;  // every frame after the first refused one too
    int closed = -1;
    // When the recording failed: whether it told reason, and only it, at every step.
    bool Told(int reason) const { return messages == std::vector{reason} && refused_to_the_end && closed == 1; }
};

// Ten seconds of video, or `frames`, with a G.711 voice frame beside every picture.
Outcome Record(recmux_writer *writer, int file_type = 0,
               const std::function<void(size_t)> &after_frame = [](size_t) {}, size_t frames = 250)
{
    Outcome outcome;
    recmux_writer_set_file_type(writer, file_type);
    recmux_writer_set_msg_notify(writer, &outcome, [](void *user, int32_t category, int32_t value) -> int32_t {
        if (category == RECMUX_MSG_OUTPUT_FAILED)
            static_cast<Outcome *>(user)->messages.push_back(value);
        return 0;
    });
    recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
    const std::vector<uint8_t> voice(320, 0xd5);
    bool refused = false;
    for (size_t i = 0; i < frames; i++) {
        const bool video = WriteUnits(writer, {H264(250)[i % 250]}, 1000000 + i * 40000) == 1;
        const bool audio = recmux_writer_write_audio(writer, voice.data(), 320, 1000000 + i * 40000) == 0;
        outcome.accepted += video;
        outcome.refused_to_the_end &= !(refused && (video || audio));
        refused = refused || !video;
        after_frame(i);
    }
    outcome.refused_to_the_end &= refused;
    outcome.closed = recmux_writer_close(&writer);
    return outcome;
}

// Plain or fragmented, a recording is written in fragments that reach the
// file at once: a kill loses at most the one in progress.
TEST(CrashRecovery, TheNextOpenKeepsEveryFrameThatSurvivedAKill)
{
    ASSERT_EQ(H264(250).size(), 250u);
    TempDir dir;
    const std::string fragmented = dir.Path("fragmented.mp4"), plain = dir.Path("plain.mp4");
    ASSERT_EQ(InChild([&] {
                  recmux_writer *plain_writer = recmux_writer_open(plain.c_str());
                  Record(recmux_writer_open(fragmented.c_str()), 1, [&](size_t i) {
                      WriteUnits(plain_writer, {H264(250)[i]}, 1000000 + i * 40000);
                      if (i == 99)
                          raise(SIGKILL);
                  });
                  return 0;
              }),
              -SIGKILL);
    const std::string survivor = ReadAll(fragmented + ".tmp");
    const auto new_frames = FrameMd5s(H264Path(250));
    for (const std::string &path : {fragmented, plain}) {
        SCOPED_TRACE(path);
        const auto survivors = FrameMd5s(path + ".tmp");
        // A second of frames at most is lost: the fragment in progress.
        ASSERT_GE(survivors.size(), 75u);
        // Alone, the survivor becomes the recording and is continued.
        ASSERT_EQ(RecordFile(path, H264(250)), 0);
        EXPECT_FALSE(Exists(path + ".tmp"));
        EXPECT_EQ(FrameMd5s(path), Joined(survivors, new_frames));
        EXPECT_EQ(DecodeErrors(path), "");
    }
    EXPECT_EQ(Probe(fragmented, "codec_name", "a:0"), "aac");

    // Beside a recording of the final name, it is kept under a name no file has.
    const std::string cam = dir.Path("cam.mp4");
    ASSERT_EQ(RecordFile(cam, H264(50)), 0);
    WriteAll(cam + ".tmp", survivor);
    WriteAll(dir.Path("cam.recovered.mp4"), "recovered before");
    ASSERT_EQ(RecordFile(cam, H264(250)), 0);
    EXPECT_FALSE(Exists(cam + ".tmp"));
    EXPECT_EQ(FrameMd5s(cam), Joined(FrameMd5s(H264Path(50)), new_frames));
    EXPECT_EQ(ReadAll(dir.Path("cam.recovered.mp4")), "recovered before");
    EXPECT_EQ(ReadAll(dir.Path("cam.recovered-2.mp4")), survivor);

    // With every such name taken, the open fails rather than lose it.
    WriteAll(cam + ".tmp", survivor);
    for (int n = 3; n <= 999; n++)
        WriteAll(dir.Path("cam.recovered-" + std::to_string(n) + ".mp4"), "");
    EXPECT_EQ(recmux_writer_open(cam.c_str()), nullptr);
    EXPECT_EQ(ReadAll(cam + ".tmp"), survivor);

    // Footage that does not read back is kept too; only a file without a frame goes.
    const std::string torn = dir.Path("torn.mp4");
    WriteAll(torn + ".tmp", survivor.substr(0, 500));
    ASSERT_EQ(RecordFile(torn, H264(50)), 0);
    EXPECT_EQ(ReadAll(dir.Path("torn.recovered.mp4")), survivor.substr(0, 500));
    WriteAll(torn + ".tmp", "");
    ASSERT_EQ(RecordFile(torn, H264(50)), 0);
    EXPECT_FALSE(Exists(torn + ".tmp"));
    EXPECT_FALSE(Exists(dir.Path("torn.recovered-2.mp4")));
}

// Killed at a random instant while writing frames with sound as fast as it
// can: what the working file keeps trails what was written by a second at most.
TEST(CrashRecovery, AKillAtAnyInstantLosesASecondAtMost)
{
    ASSERT_EQ(H264(250).size(), 250u);
    auto *written = static_cast<std::atomic<size_t> *>(
        mmap(nullptr, sizeof(std::atomic<size_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(written, MAP_FAILED);
    TempDir dir;
    for (const int file_type : {0, 1})
        for (const bool continued : {false, true}) {
            const auto path = dir.Path((continued ? "continued-" : "") + std::to_string(file_type) + ".mp4");
            // A fragmented recording is continued in place: its own file keeps the frames.
            const std::string kept_in = path + (continued && file_type ? "" : ".tmp");
            ASSERT_TRUE(!continued || Record(recmux_writer_open(path.c_str()), file_type).closed == 0);
            const unsigned delay_ms = 20 + std::random_device{}() % 381;
            SCOPED_TRACE(path + ", killed after " + std::to_string(delay_ms) + " ms");
            *written = 0;
            const int status = InChild([&] {
                signal(SIGALRM, [](int) { raise(SIGKILL); });
                ualarm(delay_ms * 1000, 0);
                const auto count = [&](size_t i) { *written = i + 1; };
                Record(recmux_writer_open(path.c_str()), file_type, count, SIZE_MAX);
                return 0;
            });
            ASSERT_EQ(status, -SIGKILL);
            const size_t kept = Exists(kept_in) ? Packets(kept_in, "v:0", "size").size() : 0, wrote = *written;
            EXPECT_GE(kept + 25, (continued ? 250 : 0) + wrote) << kept << " of " << wrote;
        }
    munmap(written, sizeof(std::atomic<size_t>));
}

// A fragmented recording is continued by taking the new fragments at its end,
// its old ones untouched: on a tmpfs with no room for a copy of it, continuing
// still succeeds.
TEST(Continuation, AFragmentedRecordingIsContinuedInPlaceWhereNoCopyFits)
{
    ASSERT_EQ(H264(250).size(), 250u);
    TempDir dir;
    const std::string old_path = dir.Path("old.mp4"), small = dir.Path("small"), result = dir.Path("result.mp4");
    ASSERT_EQ(Record(recmux_writer_open(old_path.c_str()), 1).closed, 0);
    const std::string old_bytes = ReadAll(old_path);
    std::filesystem::create_directory(small);
    const int status = InChild([&] {
        const std::string size = "size=" + std::to_string(old_bytes.size() * 3 / 2);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) != 0)
            return kSkipped;
        const std::string path = small + "/cam.mp4";
        WriteAll(path, old_bytes);
        int failed = 0;
        // Fragmented, then plain: the plain copy at close finds no room, and the
        // recording stays fragmented under its name, every frame in it.
        for (int file_type : {1, 0})
            failed |= RecordFile(path, H264(50), file_type) != (file_type ? 0 : 1) || Exists(path + ".tmp");
        WriteAll(result, ReadAll(path));
        return failed;
    });
    if (status == kSkipped)
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_EQ(status, 0);
    const size_t from = old_bytes.find("moof") - 4, length = old_bytes.rfind("mfra") - 4 - from;
    EXPECT_EQ(ReadAll(result).substr(from, length), old_bytes.substr(from, length));
    const auto new_frames = FrameMd5s(H264Path(50));
    EXPECT_EQ(FrameMd5s(result), Joined(FrameMd5s(old_path), new_frames, new_frames));
    EXPECT_EQ(DecodeErrors(result), "");
    EXPECT_EQ(Probe(result, "codec_name", "a:0"), "aac");
}

int RefuseAfter(void *opaque, uint8_t *, int size)
{
    int &left = *static_cast<int *>(opaque);
    return left < size ? -5 /* AVERROR(EIO) */ : (left -= size, size);
}

// RLIMIT_FSIZE stands in for a full disk (writes past it fail with EFBIG): what
// reached the file is kept.
TEST(OutputFailure, ARefusingCallbackOrAFullDiskStopsTheRecordingAndCloseSaysSo)
{
    ASSERT_EQ(H264(250).size(), 250u);
    for (int type : {-1, 0, 1}) {  // -1: a callback that refuses after 200 kB
        SCOPED_TRACE(type);
        TempDir dir;
        const std::string path = dir.Path("cam.mp4");
        const int status = InChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit = {300000, 300000};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return kSkipped;
            int left = 200000;
            recmux_writer *writer = type < 0 ? recmux_writer_open_and_set_callback(&left, RefuseAfter)
                                             : recmux_writer_open(path.c_str());
            const Outcome outcome = Record(writer, type > 0);
            const bool stopped_midway = outcome.accepted > 10 && outcome.accepted < 200;
            return (type >= 0 || stopped_midway) && outcome.Told(RECMUX_MSG_OUTPUT_WRITE) ? 0 : 2;
        });
        EXPECT_EQ(status, 0);
        EXPECT_FALSE(Exists(path + ".tmp"));
        // Written in fragments, what reached the disk reads back, plain or fragmented.
        const int frames = Exists(path) ? std::stoi(Probe(path, "nb_read_frames")) : 0;
        EXPECT_EQ(frames > 10 && frames < 250, type >= 0) << frames;
    }
}

TEST(OutputFailure, AFolderThatMayNotBeWrittenFailsTheOpen)
{
    TempDir dir;
    const std::string folder = dir.Path(""), path = dir.Path("cam.mp4");
    chmod(folder.c_str(), 0755);
    const int result = InChild([&] {
        // Root writes anywhere: the child becomes nobody.
        if (geteuid() == 0 ? setgid(65534) != 0 || setuid(65534) != 0 : chmod(folder.c_str(), 0555) != 0)
            return kSkipped;
        return recmux_writer_open(path.c_str()) == nullptr ? 0 : 2;
    });
    chmod(folder.c_str(), 0700);
    if (result == kSkipped)
        GTEST_SKIP() << "no way to make a folder unwritable here";
    EXPECT_EQ(result, 0);
}

// Close replaces only what the final name held at open; a file put there
// meanwhile is kept, and so is the recording, beside it.
TEST(OutputFailure, AFinalFilePutThereWhileRecordingIsKeptAndSoIsTheRecording)
{
    TempDir dir;
    const std::string path = dir.Path("cam.mp4");
    recmux_writer *writer = recmux_writer_open(path.c_str());
    WriteAll(path, "not an mp4");
    const Outcome outcome = Record(writer);
    EXPECT_EQ(outcome.messages, std::vector<int>{RECMUX_MSG_OUTPUT_NAME_TAKEN});
    EXPECT_EQ(outcome.closed, 1);
    EXPECT_EQ(ReadAll(path), "not an mp4");
    EXPECT_FALSE(Exists(path + ".tmp"));
    EXPECT_EQ(FrameMd5s(dir.Path("cam.recovered.mp4")), FrameMd5s(H264Path(250)));
}

// While a recorder lives its name is its own, whoever else asks for it.
TEST(FileSafety, ASecondRecorderOnALiveNameIsRefusedAndTouchesNothing)
{
    ASSERT_EQ(H264(250).size(), 250u);
    for (bool fragmented : {false, true}) {
        SCOPED_TRACE(fragmented);
        TempDir dir;
        const std::string path = dir.Path("cam.mp4");
        const Outcome outcome = Record(recmux_writer_open(path.c_str()), fragmented, [&](size_t i) {
            if (i == 100) {
                EXPECT_EQ(recmux_writer_open(path.c_str()), nullptr);
                EXPECT_EQ(InChild([&] { return recmux_writer_open(path.c_str()) ? 1 : 0; }), 0);
            }
        });
        EXPECT_EQ(outcome.closed, 0);
        EXPECT_EQ(FrameMd5s(path), FrameMd5s(H264Path(250)));
        // Once closed, the name is free again: the next recorder continues it.
        EXPECT_EQ(RecordFile(path, H264(50), fragmented), 0);
    }
}

// A symlink planted before the output opens or swapped in while recording, or
// a file of someone else's put there.
TEST(FileSafety, WhatTakesTheWorkingNameIsNeverFollowedNorPublished)
{
    const struct { size_t at; bool link; } cases[] = {{0, true}, {30, true}, {30, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.at);
        TempDir dir;
        const std::string victim = dir.Path("victim"), path = dir.Path("cam.mp4");
        WriteAll(victim, "precious");
        WriteAll(dir.Path("copy"), "precious");
        std::filesystem::create_symlink(victim, dir.Path("link"));
        const Outcome outcome = Record(recmux_writer_open(path.c_str()), 0, [&](size_t frame) {
            if (frame == c.at)
                std::filesystem::rename(dir.Path(c.link ? "link" : "copy"), path + ".tmp");
        });
        // Told at the next frame: nothing written after it could be published.
        EXPECT_TRUE(outcome.Told(RECMUX_MSG_OUTPUT_WRITE));
        EXPECT_EQ(outcome.accepted, c.at + 1);
        EXPECT_FALSE(Exists(path));
        EXPECT_EQ(std::filesystem::is_symlink(path + ".tmp"), c.link);
        EXPECT_EQ(ReadAll(path + ".tmp"), "precious");
        EXPECT_EQ(ReadAll(victim), "precious");
    }
}

}  // namespace
