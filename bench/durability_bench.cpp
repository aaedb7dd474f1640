// What keeping every frame costs. An hour of 1080p at 4 Mbit/s recorded plain
// is written in fragments and rewritten at close with its index at the front:
// the close against the ffmpeg tool making the same plain copy of the same
// fragmented hour, and the disk space the close holds at its peak. Continuing
// a 1 GB fragmented recording by a minute: the open's and the close's time, and
// the bytes written by the open and by the whole session. And 64
// fragmented cameras in real time, each synced once a second: the time spent
// in the recorder's calls on disk against the same on tmpfs, where a sync is free.
#include <benchmark/benchmark.h>

#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include <recmux/recmux_writer.h>
#include "test_pattern.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kFrameInterval = 40000;
constexpr int kFps = 25;

// A GOP of the test pattern, each frame padded with a filler unit to what a
// 1080p camera sends at 4 Mbit/s: a 100 kB key frame, then 16 kB frames.
const std::vector<recmux_tool::AccessUnit> &Gop()
{
    static const std::vector<recmux_tool::AccessUnit> gop = [] {
        std::vector<recmux_tool::AccessUnit> made;
        auto source = recmux_tool::OpenTestPattern(recmux_tool::VideoCodec::H264, AVRational{kFps, 1}, kFps);
        for (recmux_tool::AccessUnit unit; source && source->Next(unit);) {
            const size_t target = unit.key ? 100000 : 16000;
            unit.bytes.insert(unit.bytes.end(), {0, 0, 0, 1, 0x0C});
            if (unit.bytes.size() < target)
                unit.bytes.resize(target, 0xFF);
            unit.bytes.push_back(0x80);
            made.push_back(unit);
        }
        return made;
    }();
    return gop;
}

class Camera {
public:
    Camera(const std::string &path, int32_t file_type)
        : writer_(recmux_writer_open(path.c_str()))
    {
        recmux_writer_set_file_type(writer_, file_type);
        recmux_writer_init_audio(writer_, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
    }
    ~Camera() { Close(); }
    bool Open() const { return writer_ != nullptr; }
    void Frame()
    {
        const auto &unit = Gop()[frames_ % Gop().size()];
        const uint64_t pts = 1000000 + frames_++ * kFrameInterval;
        recmux_writer_write_video(writer_, unit.bytes.data(), static_cast<uint32_t>(unit.bytes.size()), pts,
                                  unit.key);
        recmux_writer_write_audio(writer_, alaw_.data(), 320, pts);
    }
    int Close() { return writer_ ? recmux_writer_close(&writer_) : 1; }

private:
    recmux_writer *writer_;
    uint64_t frames_ = 0;
    std::vector<uint8_t> alaw_ = std::vector<uint8_t>(320, 0xd5);
};

double FreeGigabytes(const std::string &folder)
{
    struct statvfs info;
    if (statvfs(folder.c_str(), &info) != 0)
        return 0;
    return static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize) / 1e9;
}

// The lowest free space seen while it runs.
class FreeSpaceWatch {
public:
    explicit FreeSpaceWatch(const std::string &folder) : folder_(folder), lowest_(FreeGigabytes(folder))
    {
        thread_ = std::thread([this] {
            while (!stop_) {
                lowest_ = std::min(lowest_.load(), FreeGigabytes(folder_));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    double Lowest()
    {
        stop_ = true;
        thread_.join();
        return lowest_;
    }

private:
    std::string folder_;
    std::atomic<double> lowest_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string ScratchFolder(const char *under)
{
    std::string name = std::string(under) + "/recmux-durability-XXXXXX";
    return mkdtemp(name.data()) ? name : std::string();
}

void Record(const std::string &path, int32_t file_type, int frames)
{
    Camera camera(path, file_type);
    for (int i = 0; i < frames; i++)
        camera.Frame();
}

// Bytes this process has handed to write() so far.
double WrittenGigabytes()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    for (long long value = 0; io >> key >> value;) {
        if (key == "wchar:")
            return static_cast<double>(value) / 1e9;
    }
    return 0;
}

void BM_ClosePlainHourOf1080p(benchmark::State &state)
{
    av_log_set_level(AV_LOG_ERROR);
    const std::string folder = ScratchFolder("/var/tmp");
    const std::string plain = folder + "/plain.mp4", fragmented = folder + "/fragmented.mp4";
    for (auto _ : state) {
        Camera camera(plain, 0);
        for (int i = 0; i < 3600 * kFps; i++)
            camera.Frame();
        const double free_before = FreeGigabytes(folder);
        FreeSpaceWatch watch(folder);
        const auto start = Clock::now();
        camera.Close();
        state.SetIterationTime(Seconds(start));
        state.counters["peak_extra_gb"] = free_before - watch.Lowest();
    }
    state.counters["file_gb"] = static_cast<double>(std::filesystem::file_size(plain)) / 1e9;
    Record(fragmented, 1, 3600 * kFps);
    const auto start = Clock::now();
    const std::string peer = "ffmpeg -nostdin -v error -y -i " + fragmented +
                             " -map 0 -c copy -copyts -movflags +faststart " + folder + "/peer.mp4";
    state.counters["ffmpeg_s"] = std::system(peer.c_str()) == 0 ? Seconds(start) : -1;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ClosePlainHourOf1080p)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ContinueGigabyteFragmented(benchmark::State &state)
{
    av_log_set_level(AV_LOG_ERROR);
    const std::string folder = ScratchFolder("/var/tmp");
    const std::string path = folder + "/cam.mp4";
    // 1 GB at 4 Mbit/s: about 34 minutes.
    Record(path, 1, 34 * 60 * kFps);
    for (auto _ : state) {
        const double written_before = WrittenGigabytes();
        const auto start = Clock::now();
        Camera camera(path, 1);
        state.SetIterationTime(Seconds(start));
        state.counters["open_written_gb"] = WrittenGigabytes() - written_before;
        for (int i = 0; i < 60 * kFps; i++)
            camera.Frame();
        const auto closing = Clock::now();
        camera.Close();
        state.counters["close_s"] = Seconds(closing);
        // A minute of new frames is about 30 MB.
        state.counters["session_written_gb"] = WrittenGigabytes() - written_before;
    }
    state.counters["file_gb"] = static_cast<double>(std::filesystem::file_size(path)) / 1e9;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ContinueGigabyteFragmented)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Milliseconds per second of real time spent inside the 64 cameras' calls.
double RealTimeCameras(const std::string &folder, int seconds)
{
    std::vector<std::unique_ptr<Camera>> cameras;
    for (int i = 0; i < 64; i++)
        cameras.push_back(std::make_unique<Camera>(folder + "/cam" + std::to_string(i) + ".mp4", 1));
    double busy = 0;
    const auto start = Clock::now();
    for (int frame = 0; frame < seconds * kFps; frame++) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(frame * kFrameInterval));
        const auto tick = Clock::now();
        for (auto &camera : cameras)
            camera->Frame();
        busy += Seconds(tick);
    }
    cameras.clear();
    return busy * 1000 / seconds;
}

void BM_SixtyFourCamerasSyncedOnceASecond(benchmark::State &state)
{
    av_log_set_level(AV_LOG_ERROR);
    const std::string disk = ScratchFolder("/var/tmp"), memory = ScratchFolder("/dev/shm");
    for (auto _ : state) {
        state.counters["disk_busy_ms_per_s"] = RealTimeCameras(disk, 10);
        state.counters["tmpfs_busy_ms_per_s"] = RealTimeCameras(memory, 10);
    }
    std::filesystem::remove_all(disk);
    std::filesystem::remove_all(memory);
}
BENCHMARK(BM_SixtyFourCamerasSyncedOnceASecond)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
