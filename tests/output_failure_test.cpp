// A recording whose output breaks says so: the callback refuses, the disk
// fills, the folder may not be written. Through the exported functions.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "media_fixture.h"
#include <recmux/recmux_writer.h>
#include "test_files.h"

namespace {

using recmux::test::AccessUnit;
using recmux::test::Exists;
using recmux::test::TempDir;

constexpr int kSkipped = 77;

const std::vector<AccessUnit> &TenSeconds()
{
    static TempDir dir;
    static const std::vector<AccessUnit> units = [] {
        const std::string path = dir.Path("ten.h264");
        return recmux::test::MakeElementaryStream(path, 250, "-c:v libx264 -bf 0 -g 25 -f h264")
                   ? recmux::test::SplitAccessUnits(path)
                   : std::vector<AccessUnit>{};
    }();
    return units;
}

struct Outcome {
    std::vector<int> messages;  // values of RECMUX_MSG_OUTPUT_FAILED
    int accepted = 0;
    bool refusedToTheEnd = false;  // every frame after the first refused one too
    int closed = -1;
};

int32_t RECMUX_STDCALL Collect(void *user, int32_t category, int32_t value)
{
    if (category == RECMUX_MSG_OUTPUT_FAILED)
        static_cast<Outcome *>(user)->messages.push_back(value);
    return 0;
}

// Ten seconds of video with a G.711 voice frame beside every picture.
Outcome Record(recmux_writer *writer)
{
    Outcome outcome;
    recmux_writer_set_msg_notify(writer, &outcome, Collect);
    recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
    const std::vector<uint8_t> voice(320, 0xd5);
    bool refused = false;
    outcome.refusedToTheEnd = true;
    for (size_t i = 0; i < TenSeconds().size(); i++) {
        const AccessUnit &unit = TenSeconds()[i];
        const uint64_t pts = 1000000 + i * 40000;
        const bool video = recmux_writer_write_video(writer, unit.bytes.data(),
                                                     static_cast<uint32_t>(unit.bytes.size()), pts,
                                                     unit.key) == 0;
        const bool audio = recmux_writer_write_audio(writer, voice.data(), 320, pts) == 0;
        outcome.accepted += video;
        if (refused && (video || audio))
            outcome.refusedToTheEnd = false;
        refused = refused || !video;
    }
    outcome.closed = recmux_writer_close(&writer);
    outcome.refusedToTheEnd = outcome.refusedToTheEnd && refused && writer == nullptr;
    return outcome;
}

// The outcome of a failed recording, checked in a child process: 0 when it told
// everything, kSkipped when the child could not be set up.
int Told(const Outcome &outcome, int reason)
{
    const bool told = outcome.messages == std::vector<int>{reason} && outcome.refusedToTheEnd &&
                      outcome.closed == 1;
    return told ? 0 : 1;
}

int InChild(const std::function<int()> &work)
{
    const pid_t child = fork();
    if (child == 0)
        std::_Exit(work());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int RefuseAfter(void *opaque, uint8_t *, int size)
{
    int &left = *static_cast<int *>(opaque);
    if (left < size)
        return -5;  // AVERROR(EIO)
    left -= size;
    return size;
}

TEST(OutputFailure, ARefusingCallbackStopsTheRecordingAndCloseSaysSo)
{
    ASSERT_EQ(TenSeconds().size(), 250u);
    int left = 200000;
    recmux_writer *writer = recmux_writer_open_and_set_callback(&left, RefuseAfter);
    ASSERT_NE(writer, nullptr);
    const Outcome outcome = Record(writer);
    EXPECT_EQ(Told(outcome, RECMUX_MSG_OUTPUT_WRITE), 0);
    EXPECT_GT(outcome.accepted, 10);
    EXPECT_LT(outcome.accepted, 200);
}

// RLIMIT_FSIZE stands in for a full disk: writes past it fail with EFBIG.
TEST(OutputFailure, AFullDiskKeepsWhatReachedAFragmentedFileAndNothingOfAPlainOne)
{
    ASSERT_EQ(TenSeconds().size(), 250u);
    for (int type : {0, 1}) {
        TempDir dir;
        const std::string path = dir.Path("cam.mp4");
        EXPECT_EQ(InChild([&] {
                      signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit = {300000, 300000};
                      if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                          return kSkipped;
                      recmux_writer *writer = recmux_writer_open(path.c_str());
                      if (!writer)
                          return 2;
                      recmux_writer_set_file_type(writer, type);
                      return Told(Record(writer), RECMUX_MSG_OUTPUT_WRITE);
                  }),
                  0)
            << type;
        EXPECT_FALSE(Exists(path + ".tmp")) << type;
        if (type == 1) {
            const std::string read = recmux::test::ProbeVideo(path, "nb_read_frames");
            const int frames = read.empty() ? 0 : std::stoi(read);
            EXPECT_GT(frames, 10);
            EXPECT_LT(frames, 250);
        } else {
            EXPECT_FALSE(Exists(path));
        }
    }
}

TEST(OutputFailure, AFolderThatMayNotBeWrittenIsToldWhenTheOutputOpens)
{
    ASSERT_EQ(TenSeconds().size(), 250u);
    TempDir dir;
    const std::string path = dir.Path("cam.mp4");
    // Others may look into the folder, not write to it.
    chmod(dir.Path("").c_str(), 0755);
    const int result = InChild([&] {
        // Root writes anywhere: the child becomes nobody.
        const bool root = geteuid() == 0;
        if (root && (setgid(65534) != 0 || setuid(65534) != 0))
            return kSkipped;
        if (!root && chmod(dir.Path("").c_str(), 0555) != 0)
            return kSkipped;
        recmux_writer *writer = recmux_writer_open(path.c_str());
        if (!writer)
            return 2;
        const Outcome outcome = Record(writer);
        // Only the frames held until the output opens were taken.
        return outcome.accepted > 25 ? 3 : Told(outcome, RECMUX_MSG_OUTPUT_SETUP);
    });
    chmod(dir.Path("").c_str(), 0700);
    if (result == kSkipped)
        GTEST_SKIP() << "no way to make a folder unwritable here";
    EXPECT_EQ(result, 0);
}

}  // namespace
