// A recording with sound: 60 s of 640x360 H.264 at 25 fps plus G.711 A-law at
// 8 kHz, through the exported recorder, against the ffmpeg tool doing the same
// job (copy the video, encode the audio as AAC at 32 kbit/s) on the same data.
// CPU time is compared, ffmpeg's start-up subtracted.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <numbers>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <recmux/recmux_writer.h>
#include "test_pattern.h"
#include <recmux/zk_voice.h>

namespace {

constexpr int kFps = 25;
constexpr int kSeconds = 60;
constexpr int kAudioFrame = 320;  // samples per voice frame: 40 ms at 8 kHz

struct Input {
    std::vector<recmux_tool::AccessUnit> video;
    std::vector<std::vector<uint8_t>> voice;  // framed for the recorder
    std::string video_file, alaw_file;
};

const Input &Data()
{
    static const Input input = [] {
        Input in;
        auto source = recmux_tool::OpenTestPattern(recmux_tool::VideoCodec::H264, kFps, kFps * kSeconds);
        for (recmux_tool::AccessUnit unit; source && source->Next(unit);)
            in.video.push_back(unit);
        VoiceCodecState state;
        ZK_VOICE_EncReset(&state, ZK_VOICE_G711_ALAW);
        std::vector<int16_t> pcm(kAudioFrame);
        for (int f = 0; f < kSeconds * 8000 / kAudioFrame; f++) {
            for (int i = 0; i < kAudioFrame; i++)
                pcm[i] = static_cast<int16_t>(
                    8000 * std::sin(2 * std::numbers::pi * 1000 * (f * kAudioFrame + i) / 8000.0));
            uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
            ZK_VOICE_EncodeFrame(&state, pcm.data(), frame, kAudioFrame);
            in.voice.emplace_back(frame, frame + 4 + 2 * frame[2]);
        }
        in.video_file = "/tmp/recmux-bench-v.h264";
        in.alaw_file = "/tmp/recmux-bench-a.alaw";
        FILE *v = std::fopen(in.video_file.c_str(), "wb");
        FILE *a = std::fopen(in.alaw_file.c_str(), "wb");
        for (const auto &unit : in.video)
            std::fwrite(unit.bytes.data(), 1, unit.bytes.size(), v);
        for (const auto &frame : in.voice)
            std::fwrite(frame.data() + 4, 1, frame.size() - 4, a);
        std::fclose(v);
        std::fclose(a);
        return in;
    }();
    return input;
}

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RecordThroughApi(const Input &in)
{
    recmux_writer *writer = recmux_writer_open("/tmp/recmux-bench-ours.mp4");
    recmux_writer_init_audio(writer, 6, 1, 8000, 16);
    size_t next_voice = 0;
    for (size_t i = 0; i < in.video.size(); i++) {
        const uint64_t pts = 1000000 + i * 40000;
        for (; next_voice < in.voice.size() && next_voice * 40000 <= i * 40000; next_voice++)
            recmux_writer_write_audio(writer, in.voice[next_voice].data(),
                                      static_cast<uint32_t>(in.voice[next_voice].size()), pts);
        recmux_writer_write_video(writer, in.video[i].bytes.data(),
                                  static_cast<uint32_t>(in.video[i].bytes.size()), pts, in.video[i].key);
    }
    recmux_writer_close(&writer);
}

double FfmpegCpu(const std::string &arguments)
{
    const double before = CpuSeconds(RUSAGE_CHILDREN);
    const std::string command = "ffmpeg -nostdin -v error -y " + arguments + " > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return -1;
    return CpuSeconds(RUSAGE_CHILDREN) - before;
}

void BM_RecordingWithSoundAgainstFfmpeg(benchmark::State &state)
{
    const Input &in = Data();
    if (in.video.empty()) {
        state.SkipWithError("no test pattern");
        return;
    }
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const double start = CpuSeconds(RUSAGE_SELF);
        RecordThroughApi(in);
        ours += CpuSeconds(RUSAGE_SELF) - start;
        const double startup = FfmpegCpu("-f lavfi -i anullsrc -t 0.001 -f null -");
        theirs += FfmpegCpu("-f h264 -i " + in.video_file + " -f alaw -ar 8000 -i " + in.alaw_file +
                            " -c:v copy -c:a aac -b:a 32k /tmp/recmux-bench-ffmpeg.mp4") -
                  startup;
    }
    state.counters["our_cpu_s"] = ours / static_cast<double>(state.iterations());
    state.counters["ffmpeg_cpu_s"] = theirs / static_cast<double>(state.iterations());
    state.counters["ratio_to_ffmpeg"] = ours / theirs;
}
BENCHMARK(BM_RecordingWithSoundAgainstFfmpeg)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
