// An hour of 25 fps video with sound, fed at full speed through the exported
// recorder into a file: the memory the process holds after the first minute
// and at the end, plain and fragmented.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include <recmux/recmux_writer.h>

namespace {

constexpr uint64_t kFrameInterval = 40000;
constexpr int kFramesPerHour = 3600 * 25;

double ResidentMegabytes()
{
    long pages = 0, resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

void BM_HourOfVideoAndSound(benchmark::State &state)
{
    av_log_set_level(AV_LOG_ERROR);
    const int32_t file_type = static_cast<int32_t>(state.range(0));
    // 640x360 at 1 Mbit/s: a 20 kB key frame every second, 4.4 kB frames between.
    std::vector<uint8_t> key(20000, 0x5a), delta(4400, 0xa5);
    for (auto *frame : {&key, &delta}) {
        (*frame)[0] = (*frame)[1] = (*frame)[2] = 0;
        (*frame)[3] = 1;
    }
    key[4] = 0x65;
    delta[4] = 0x41;
    const std::vector<uint8_t> alaw(160, 0xd5);
    char name[] = "/tmp/recmux-hour-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0)
        close(fd);
    const std::string path = std::string(name) + ".mp4";
    double first_minute = 0, end = 0;
    for (auto _ : state) {
        recmux_writer *writer = recmux_writer_open(path.c_str());
        recmux_writer_set_file_type(writer, file_type);
        recmux_writer_init_video(writer, 0, 640, 360, 0);
        recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
        for (int i = 0; i < kFramesPerHour; i++) {
            const uint64_t pts = 1000000 + static_cast<uint64_t>(i) * kFrameInterval;
            const std::vector<uint8_t> &frame = i % 25 == 0 ? key : delta;
            recmux_writer_write_video(writer, frame.data(), static_cast<uint32_t>(frame.size()), pts,
                                      i % 25 == 0);
            recmux_writer_write_audio(writer, alaw.data(), 160, pts);
            recmux_writer_write_audio(writer, alaw.data(), 160, pts + kFrameInterval / 2);
            if (i == 60 * 25)
                first_minute = ResidentMegabytes();
        }
        end = ResidentMegabytes();
        recmux_writer_close(&writer);
        std::remove(path.c_str());
    }
    std::remove(name);
    state.counters["rss_mb_after_1_min"] = first_minute;
    state.counters["rss_mb_after_60_min"] = end;
}
BENCHMARK(BM_HourOfVideoAndSound)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
