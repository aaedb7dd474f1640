// Recording overhead: 10,000 H.264 access units through the exported recorder,
// against the same packets written straight to libavformat's MP4 muxer. Both
// write fragmented MP4 to a callback that discards the bytes. And how long a
// live 1080p camera waits for its first fragment, and what is held meanwhile.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include <recmux/recmux_writer.h>
#include "test_pattern.h"

namespace {

constexpr int kFrames = 10000;
constexpr int kFps = 25;

const std::vector<recmux_tool::AccessUnit> &Units()
{
    // A thousand distinct frames, repeated: the content does not matter to a muxer.
    static const std::vector<recmux_tool::AccessUnit> units = [] {
        std::vector<recmux_tool::AccessUnit> made;
        auto source = recmux_tool::OpenTestPattern(recmux_tool::VideoCodec::H264, AVRational{kFps, 1}, 1000);
        for (recmux_tool::AccessUnit unit; source && source->Next(unit);)
            made.push_back(unit);
        return made;
    }();
    return units;
}

int Discard(void *, uint8_t *, int size)
{
    return size;
}

void RecordThroughApi(const std::vector<recmux_tool::AccessUnit> &units)
{
    recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, Discard);
    for (int i = 0; i < kFrames; i++) {
        const auto &unit = units[static_cast<size_t>(i) % units.size()];
        recmux_writer_write_video(writer, unit.bytes.data(), static_cast<uint32_t>(unit.bytes.size()),
                                  1000000 + static_cast<uint64_t>(i) * 40000, unit.key);
    }
    recmux_writer_close(&writer);
}

void MuxDirectly(const std::vector<recmux_tool::AccessUnit> &units)
{
    auto *buffer = static_cast<uint8_t *>(av_malloc(1 << 20));
    AVIOContext *io = avio_alloc_context(buffer, 1 << 20, 1, nullptr, nullptr, Discard, nullptr);
    AVFormatContext *output = nullptr;
    avformat_alloc_output_context2(&output, nullptr, "mp4", nullptr);
    output->pb = io;
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream *stream = avformat_new_stream(output, nullptr);
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_H264;
    stream->codecpar->width = recmux_tool::kPatternWidth;
    stream->codecpar->height = recmux_tool::kPatternHeight;
    const auto &first = units.front().bytes;
    stream->codecpar->extradata =
        static_cast<uint8_t *>(av_mallocz(first.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(first.begin(), first.end(), stream->codecpar->extradata);
    stream->codecpar->extradata_size = static_cast<int>(first.size());
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov", 0);
    av_dict_set_int(&options, "frag_duration", 200000, 0);
    const bool header = avformat_write_header(output, &options) >= 0;
    av_dict_free(&options);
    AVPacket *packet = av_packet_alloc();
    for (int i = 0; header && i < kFrames; i++) {
        const auto &unit = units[static_cast<size_t>(i) % units.size()];
        packet->data = const_cast<uint8_t *>(unit.bytes.data());
        packet->size = static_cast<int>(unit.bytes.size());
        packet->pts = packet->dts = i;
        packet->duration = 1;
        packet->flags = unit.key ? AV_PKT_FLAG_KEY : 0;
        av_packet_rescale_ts(packet, AVRational{1, kFps}, stream->time_base);
        av_interleaved_write_frame(output, packet);
    }
    if (header)
        av_write_trailer(output);
    av_packet_free(&packet);
    av_freep(&io->buffer);
    avio_context_free(&io);
    avformat_free_context(output);
}

double Seconds(void (*run)(const std::vector<recmux_tool::AccessUnit> &))
{
    const auto start = std::chrono::steady_clock::now();
    run(Units());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RecorderAgainstMuxer(benchmark::State &state)
{
    if (Units().empty()) {
        state.SkipWithError("no test pattern");
        return;
    }
    av_log_set_level(AV_LOG_ERROR);
    double ours = 0, muxer = 0;
    for (auto _ : state) {
        muxer += Seconds(MuxDirectly);
        const double seconds = Seconds(RecordThroughApi);
        ours += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["frames_per_s"] = benchmark::Counter(
        static_cast<double>(kFrames) * static_cast<double>(state.iterations()) / ours);
    state.counters["ratio_to_muxer"] = ours / muxer;
}
BENCHMARK(BM_RecorderAgainstMuxer)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// A 1080p camera at 4 Mbit/s: a 100 kB key frame every second, 16.7 kB frames between.
struct FirstFragment {
    bool seen = false;
};

int SpotFragment(void *opaque, uint8_t *data, int size)
{
    auto *first = static_cast<FirstFragment *>(opaque);
    for (int i = 4; i + 4 <= size && !first->seen; i++)
        first->seen = data[i] == 'm' && data[i + 1] == 'o' && data[i + 2] == 'o' && data[i + 3] == 'f';
    return size;
}

void BM_FirstFragment1080p(benchmark::State &state)
{
    av_log_set_level(AV_LOG_ERROR);
    std::vector<uint8_t> key(100000, 0x5a), delta(16700, 0xa5);
    key[0] = key[1] = key[2] = delta[0] = delta[1] = delta[2] = 0;
    key[3] = delta[3] = 1;
    key[4] = 0x65;
    delta[4] = 0x41;
    double frames = 0, held = 0;
    for (auto _ : state) {
        FirstFragment first;
        recmux_writer *writer = recmux_writer_open_and_set_callback(&first, SpotFragment);
        recmux_writer_init_video(writer, 0, 1920, 1080, 0);
        int fed = 0;
        double bytes = 0;
        for (; !first.seen && fed < 2000; fed++) {
            const std::vector<uint8_t> &frame = fed % 25 == 0 ? key : delta;
            recmux_writer_write_video(writer, frame.data(), static_cast<uint32_t>(frame.size()),
                                      1000000 + static_cast<uint64_t>(fed) * 40000, fed % 25 == 0);
            bytes += static_cast<double>(frame.size());
        }
        recmux_writer_close(&writer);
        frames = fed;
        held = bytes;
    }
    state.counters["frames_to_first_fragment"] = frames;
    state.counters["seconds_to_first_fragment"] = frames / kFps;
    state.counters["bytes_held_before_it"] = held;
}
BENCHMARK(BM_FirstFragment1080p)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
