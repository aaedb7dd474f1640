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
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

constexpr int kSkipped = 77;

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string> &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

struct Outcome {
    std::vector<int> messages;  // values of RECMUX_MSG_OUTPUT_FAILED
    size_t accepted = 0;
    bool refused_to_the_end = true;  // every frame after the first refused one too
    int closed = -1;
};

int32_t RECMUX_STDCALL Note(void *user, int32_t category, int32_t value)
{
    if (category == RECMUX_MSG_OUTPUT_FAILED)
        static_cast<Outcome *>(user)->messages.push_back(value);
    return 0;
}

// Ten seconds of video with a G.711 voice frame beside every picture.
Outcome RecordTenSeconds(recmux_writer *writer, const std::function<void(size_t)> &after_frame = [](size_t) {})
{
    Outcome outcome;
    recmux_writer_set_msg_notify(writer, &outcome, Note);
    recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
    const std::vector<uint8_t> voice(320, 0xd5);
    bool refused = false;
    for (size_t i = 0; i < 250; i++) {
        const bool video = WriteUnits(writer, {H264(250)[i]}, 1000000 + i * 40000) == 1;
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

// 0 when the failed recording told everything.
int Told(const Outcome &outcome, int reason)
{
    return outcome.messages == std::vector<int>{reason} && outcome.refused_to_the_end && outcome.closed == 1 ? 0 : 1;
}

// Plain or fragmented, a recording is written in fragments that reach the
// file at once: a kill loses at most the one in progress.
TEST(CrashRecovery, TheNextOpenKeepsEveryFrameThatSurvivedAKill)
{
    ASSERT_EQ(H264(250).size(), 250u);
    TempDir dir;
    const std::string fragmented = dir.Path("fragmented.mp4"), plain = dir.Path("plain.mp4");
    ASSERT_EQ(InChild([&] {
                  recmux_writer *plain_writer = recmux_writer_open(plain.c_str()),
                                *writer = recmux_writer_open(fragmented.c_str());
                  recmux_writer_set_file_type(writer, 1);
                  RecordTenSeconds(writer, [&](size_t i) {
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
    const auto first_session = FrameMd5s(cam);
    WriteAll(cam + ".tmp", survivor);
    WriteAll(dir.Path("cam.recovered.mp4"), "recovered before");
    ASSERT_EQ(RecordFile(cam, H264(250)), 0);
    EXPECT_FALSE(Exists(cam + ".tmp"));
    EXPECT_EQ(FrameMd5s(cam), Joined(first_session, new_frames));
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
// can: what the working file keeps trails what was accepted by a second at most.
TEST(CrashRecovery, AKillAtAnyInstantLosesASecondAtMost)
{
    ASSERT_EQ(H264(250).size(), 250u);
    auto *accepted = static_cast<std::atomic<size_t> *>(
        mmap(nullptr, sizeof(std::atomic<size_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(accepted, MAP_FAILED);
    std::mt19937 random(std::random_device{}());
    TempDir dir;
    // A fragmented recording is continued in place: its own file keeps the frames.
    const struct {
        const char *name;
        int file_type;
        bool continued;
        const char *kept_in;
    } cases[] = {{"plain", 0, false, ".tmp"},
                 {"fragmented", 1, false, ".tmp"},
                 {"continued in place", 1, true, ""},
                 {"continued plain", 0, true, ".tmp"}};
    for (const auto &c : cases) {
        const std::string path = dir.Path(std::string(c.name) + ".mp4"), kept_in = path + c.kept_in;
        if (c.continued) {
            recmux_writer *old = recmux_writer_open(path.c_str());
            recmux_writer_set_file_type(old, c.file_type);
            ASSERT_EQ(RecordTenSeconds(old).closed, 0);
        }
        const size_t old_frames = c.continued ? 250 : 0;
        const int delay_ms = std::uniform_int_distribution<int>(20, 400)(random);
        SCOPED_TRACE(std::string(c.name) + ", killed after " + std::to_string(delay_ms) + " ms");
        accepted->store(0);
        ASSERT_EQ(InChild([&] {
                      recmux_writer *writer = recmux_writer_open(path.c_str());
                      recmux_writer_set_file_type(writer, c.file_type);
                      recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
                      const std::vector<uint8_t> voice(320, 0xd5);
                      std::thread([delay_ms] {
                          std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
                          raise(SIGKILL);
                      }).detach();
                      for (uint64_t i = 0;; i++) {
                          const uint64_t pts = 1000000 + i * 40000;
                          accepted->fetch_add(WriteUnits(writer, {H264(250)[i % 250]}, pts));
                          recmux_writer_write_audio(writer, voice.data(), 320, pts);
                      }
                      return 0;
                  }),
                  -SIGKILL);
        const size_t kept = Exists(kept_in) ? Packets(kept_in, "v:0", "size").size() : 0;
        EXPECT_GE(kept + 25, old_frames + accepted->load()) << kept << " of " << accepted->load();
    }
    munmap(accepted, sizeof(std::atomic<size_t>));
}

size_t BoxEnd(const std::string &bytes, const char *type)
{
    const size_t at = bytes.find(type) - 4;
    return at + (static_cast<uint8_t>(bytes[at]) << 24 | static_cast<uint8_t>(bytes[at + 1]) << 16 |
                 static_cast<uint8_t>(bytes[at + 2]) << 8 | static_cast<uint8_t>(bytes[at + 3]));
}

// A fragmented recording is continued by taking the new fragments at its end,
// its old ones untouched: on a tmpfs with no room for a copy of it, continuing
// still succeeds.
TEST(Continuation, AFragmentedRecordingIsContinuedInPlaceWhereNoCopyFits)
{
    ASSERT_EQ(H264(250).size(), 250u);
    TempDir dir;
    const std::string old_path = dir.Path("old.mp4"), small = dir.Path("small"), result = dir.Path("result.mp4");
    recmux_writer *writer = recmux_writer_open(old_path.c_str());
    recmux_writer_set_file_type(writer, 1);
    ASSERT_EQ(RecordTenSeconds(writer).closed, 0);
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
        for (int file_type : {1, 0}) {
            recmux_writer *continued = recmux_writer_open(path.c_str());
            recmux_writer_set_file_type(continued, file_type);
            failed |= !continued || WriteUnits(continued, H264(50)) != 50;
            failed |= recmux_writer_close(&continued) != (file_type ? 0 : 1);
            failed |= Exists(path + ".tmp");
        }
        WriteAll(result, ReadAll(path));
        return failed;
    });
    if (status == kSkipped)
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_EQ(status, 0);
    const std::string continued = ReadAll(result);
    const size_t fragments = BoxEnd(old_bytes, "moov"), index = old_bytes.rfind("mfra") - 4;
    EXPECT_EQ(continued.substr(fragments, index - fragments), old_bytes.substr(fragments, index - fragments));
    const auto new_frames = FrameMd5s(H264Path(50));
    EXPECT_EQ(FrameMd5s(result), Joined(Joined(FrameMd5s(old_path), new_frames), new_frames));
    EXPECT_EQ(DecodeErrors(result), "");
    EXPECT_EQ(Probe(result, "codec_name", "a:0"), "aac");
}

int RefuseAfter(void *opaque, uint8_t *, int size)
{
    int &left = *static_cast<int *>(opaque);
    if (left < size)
        return -5;  // AVERROR(EIO)
    left -= size;
    return size;
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
        EXPECT_EQ(InChild([&] {
                      signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit = {300000, 300000};
                      if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                          return kSkipped;
                      int left = 200000;
                      recmux_writer *writer = type < 0 ? recmux_writer_open_and_set_callback(&left, RefuseAfter)
                                                       : recmux_writer_open(path.c_str());
                      recmux_writer_set_file_type(writer, type > 0);
                      const Outcome outcome = RecordTenSeconds(writer);
                      const bool stopped_midway = outcome.accepted > 10 && outcome.accepted < 200;
                      return type >= 0 || stopped_midway ? Told(outcome, RECMUX_MSG_OUTPUT_WRITE) : 2;
                  }),
                  0);
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
        const bool root = geteuid() == 0;
        if (root ? setgid(65534) != 0 || setuid(65534) != 0 : chmod(folder.c_str(), 0555) != 0)
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
    const Outcome outcome = RecordTenSeconds(writer);
    EXPECT_EQ(outcome.messages, std::vector<int>{RECMUX_MSG_OUTPUT_NAME_TAKEN});
    EXPECT_EQ(outcome.accepted, 250u);
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
        recmux_writer *first = recmux_writer_open(path.c_str());
        recmux_writer_set_file_type(first, fragmented);
        const Outcome outcome = RecordTenSeconds(first, [&](size_t i) {
            if (i == 100) {
                EXPECT_EQ(recmux_writer_open(path.c_str()), nullptr);
                EXPECT_EQ(InChild([&] { return recmux_writer_open(path.c_str()) ? 1 : 0; }), 0);
            }
        });
        EXPECT_EQ(outcome.closed, 0);
        EXPECT_EQ(FrameMd5s(path), FrameMd5s(H264Path(250)));
        // Once closed, the name is free again: the next recorder continues it.
        recmux_writer *next = recmux_writer_open(path.c_str());
        EXPECT_NE(next, nullptr);
        recmux_writer_close(&next);
    }
}

// A symlink planted before the output opens or swapped in while recording, or
// a file of someone else's put there.
TEST(FileSafety, WhatTakesTheWorkingNameIsNeverFollowedNorPublished)
{
    const struct {
        size_t at;
        bool link;  // else a file of someone else's moved over it
    } cases[] = {{0, true}, {30, true}, {30, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.at);
        TempDir dir;
        const std::string victim = dir.Path("victim"), path = dir.Path("cam.mp4");
        WriteAll(victim, "precious");
        const Outcome outcome = RecordTenSeconds(recmux_writer_open(path.c_str()), [&](size_t frame) {
            if (frame != c.at)
                return;
            std::filesystem::remove(path + ".tmp");
            if (c.link)
                std::filesystem::create_symlink(victim, path + ".tmp");
            else
                std::filesystem::copy_file(victim, path + ".tmp");
        });
        // Told at the next frame: nothing written after it could be published.
        EXPECT_EQ(Told(outcome, RECMUX_MSG_OUTPUT_WRITE), 0);
        EXPECT_EQ(outcome.accepted, c.at + 1);
        EXPECT_FALSE(Exists(path));
        EXPECT_EQ(std::filesystem::is_symlink(path + ".tmp"), c.link);
        EXPECT_EQ(ReadAll(path + ".tmp"), "precious");
        EXPECT_EQ(ReadAll(victim), "precious");
    }
}

}  // namespace
