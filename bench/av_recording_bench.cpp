// A recording with sound: 60 s of 640x360 H.264 at 25 fps plus speech (espeak-ng)
// as G.711 A-law at 8 kHz, through the exported recorder, against the ffmpeg tool
// doing the same job (copy the video, encode the audio as AAC at 32 kbit/s with
// its default search) on the same data. CPU time is compared, ffmpeg's start-up
// subtracted, and how closely each file's sound follows the speech (SNR).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
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
    std::vector<int16_t> speech;
    std::vector<std::vector<uint8_t>> voice;  // framed for the recorder
    std::string video_file, alaw_file;
};

// What a shell command prints, as 16-bit samples.
std::vector<int16_t> Samples(const std::string &command)
{
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<int16_t> samples;
    int16_t chunk[4096];
    for (size_t n; pipe && (n = std::fread(chunk, 2, 4096, pipe.get())) > 0;)
        samples.insert(samples.end(), chunk, chunk + n);
    return samples;
}

// A voice reading a camera log, looped to the length of the recording.
std::vector<int16_t> Speech()
{
    const std::string wav = "/tmp/recmux-bench-speech.wav";
    const std::string say = "espeak-ng -v en -s 160 -w " + wav +
                            " 'The camera at the north gate recorded a delivery van at seven fifteen. The driver"
                            " spoke to the guard for two minutes, then left the parcel by the side door.'";
    if (std::system(say.c_str()) != 0)
        return {};
    return Samples("ffmpeg -nostdin -v error -stream_loop -1 -i " + wav + " -t " + std::to_string(kSeconds) +
                   " -ar 8000 -ac 1 -f s16le -");
}

const Input &Data()
{
    static const Input input = [] {
        Input in;
        auto source = recmux_tool::OpenTestPattern(recmux_tool::VideoCodec::H264, AVRational{kFps, 1}, kFps * kSeconds);
        for (recmux_tool::AccessUnit unit; source && source->Next(unit);)
            in.video.push_back(unit);
        in.speech = Speech();
        VoiceCodecState state;
        ZK_VOICE_EncReset(&state, ZK_VOICE_G711_ALAW);
        for (size_t at = 0; at + kAudioFrame <= in.speech.size(); at += kAudioFrame) {
            uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
            ZK_VOICE_EncodeFrame(&state, in.speech.data() + at, frame, kAudioFrame);
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

// Signal to noise of a file's decoded sound against the speech, at the shift
// (within 0.3 s) where the two match best.
double SnrDb(const std::vector<int16_t> &speech, const std::string &mp4)
{
    const std::vector<int16_t> decoded =
        Samples("ffmpeg -nostdin -v error -i " + mp4 + " -map 0:a:0 -ar 8000 -ac 1 -f s16le -");
    const long span = static_cast<long>(std::min(speech.size(), decoded.size())) - 2400;
    double best = -1;
    long shift = 0;
    for (long lag = -2400; lag <= 2400 && span > 0; lag += 1) {
        double product = 0;
        for (long i = 2400; i < std::min(span, 2400L + 16000); i += 2)
            product += static_cast<double>(speech[static_cast<size_t>(i)]) * decoded[static_cast<size_t>(i + lag)];
        if (product > best)
            best = product, shift = lag;
    }
    double signal = 0, noise = 0;
    for (long i = 2400; i < span; i++) {
        const double want = speech[static_cast<size_t>(i)], got = decoded[static_cast<size_t>(i + shift)];
        signal += want * want;
        noise += (want - got) * (want - got);
    }
    return noise > 0 ? 10 * std::log10(signal / noise) : 0;
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
    // An existing recording would be continued.
    std::remove("/tmp/recmux-bench-ours.mp4");
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
    if (in.video.empty() || in.voice.empty()) {
        state.SkipWithError("no test pattern or no speech (libx264, espeak-ng)");
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
    // One core's worth of cameras recording with sound, at this cost per second.
    state.counters["cameras_per_core"] = kSeconds / (ours / static_cast<double>(state.iterations()));
    state.counters["our_snr_db"] = SnrDb(in.speech, "/tmp/recmux-bench-ours.mp4");
    state.counters["ffmpeg_snr_db"] = SnrDb(in.speech, "/tmp/recmux-bench-ffmpeg.mp4");
}
BENCHMARK(BM_RecordingWithSoundAgainstFfmpeg)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
