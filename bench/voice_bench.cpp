// Encode + decode of 60 s of 8 kHz audio per codec family, ours against spandsp on
// the same input in the same iteration. The reported time is ours; the counters
// give both rates and the time ratio ours / spandsp. Identifier 68 and its
// transcoding to G.726 have no peer and report our rate alone.
#include <benchmark/benchmark.h>

extern "C" {
#include <spandsp.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include <recmux/zk_voice.h>

namespace {

constexpr unsigned frame_samples = 480;
constexpr size_t total_samples = 60 * 8000;

const std::vector<int16_t> &input()
{
    static const std::vector<int16_t> pcm = [] {
        std::vector<int16_t> v(total_samples);
        uint32_t seed = 1;
        for (size_t i = 0; i < v.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            const double tone = 9000 * std::sin(i * 0.071) + 4000 * std::sin(i * 0.53);
            v[i] = static_cast<int16_t>(tone * (0.6 + 0.4 * std::sin(i * 0.0007)) + (int32_t(seed >> 20) - 2048));
        }
        return v;
    }();
    return pcm;
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void ours(int16_t codec)
{
    const std::vector<int16_t> &pcm = input();
    VoiceCodecState enc;
    VoiceCodecState dec;
    ZK_VOICE_EncReset(&enc, codec);
    ZK_VOICE_DecReset(&dec, codec);
    uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
    int16_t out[ZK_VOICE_PCM_MAX];
    for (size_t at = 0; at < pcm.size(); at += frame_samples) {
        uint16_t n = 0;
        ZK_VOICE_EncodeFrame(&enc, pcm.data() + at, frame, frame_samples);
        ZK_VOICE_DecodeFrame(&dec, frame, out, &n);
        benchmark::DoNotOptimize(out);
    }
}

void spandsp_g711()
{
    const std::vector<int16_t> &pcm = input();
    g711_state_t *enc = g711_init(nullptr, G711_ALAW);
    g711_state_t *dec = g711_init(nullptr, G711_ALAW);
    uint8_t codes[frame_samples];
    int16_t out[frame_samples];
    for (size_t at = 0; at < pcm.size(); at += frame_samples) {
        const int bytes = g711_encode(enc, codes, pcm.data() + at, frame_samples);
        g711_decode(dec, out, codes, bytes);
        benchmark::DoNotOptimize(out);
    }
    g711_free(enc);
    g711_free(dec);
}

void spandsp_g726(int kbits)
{
    const std::vector<int16_t> &pcm = input();
    g726_state_t *enc = g726_init(nullptr, kbits * 1000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    g726_state_t *dec = g726_init(nullptr, kbits * 1000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    uint8_t codes[frame_samples];
    int16_t out[frame_samples];
    for (size_t at = 0; at < pcm.size(); at += frame_samples) {
        const int bytes = g726_encode(enc, codes, pcm.data() + at, frame_samples);
        g726_decode(dec, out, codes, bytes);
        benchmark::DoNotOptimize(out);
    }
    g726_free(enc);
    g726_free(dec);
}

void spandsp_ima_adpcm()
{
    const std::vector<int16_t> &pcm = input();
    ima_adpcm_state_t *enc = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, frame_samples);
    ima_adpcm_state_t *dec = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, frame_samples);
    uint8_t codes[frame_samples];
    int16_t out[frame_samples];
    for (size_t at = 0; at < pcm.size(); at += frame_samples) {
        const int bytes = ima_adpcm_encode(enc, codes, pcm.data() + at, frame_samples);
        ima_adpcm_decode(dec, out, codes, bytes);
        benchmark::DoNotOptimize(out);
    }
    ima_adpcm_free(enc);
    ima_adpcm_free(dec);
}

// Frames of identifier 68 for the transcoder to convert, made once outside the timing.
const std::vector<std::vector<uint8_t>> &adaptive2_frames()
{
    static const std::vector<std::vector<uint8_t>> frames = [] {
        const std::vector<int16_t> &pcm = input();
        VoiceCodecState enc;
        ZK_VOICE_EncReset(&enc, ZK_VOICE_ADAPTIVE2);
        std::vector<std::vector<uint8_t>> out;
        for (size_t at = 0; at < pcm.size(); at += frame_samples) {
            std::vector<uint8_t> frame(ZK_VOICE_ENCODED_MAX_BYTES);
            ZK_VOICE_EncodeFrame(&enc, pcm.data() + at, frame.data(), frame_samples);
            out.push_back(std::move(frame));
        }
        return out;
    }();
    return frames;
}

void transcode_adaptive2()
{
    VoiceTransState record;
    ZK_VOICE_TransCodeReset(&record, ZK_VOICE_TRANS_ADAPTIVE2);
    uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
    for (const std::vector<uint8_t> &source : adaptive2_frames()) {
        std::copy(source.begin(), source.end(), frame);
        ZK_VOICE_TransCodeFrame(&record, frame);
        benchmark::DoNotOptimize(frame);
    }
}

template <typename Work>
void alone(benchmark::State &state, Work work)
{
    double time = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        work();
        const double t = seconds_since(start);
        time += t;
        state.SetIterationTime(t);
    }
    state.counters["ours_samples_per_s"] = double(total_samples) * state.iterations() / time;
}

template <typename Peer>
void compare(benchmark::State &state, int16_t codec, Peer peer)
{
    double our_time = 0;
    double peer_time = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        ours(codec);
        const double t = seconds_since(start);
        start = Clock::now();
        peer();
        peer_time += seconds_since(start);
        our_time += t;
        state.SetIterationTime(t);
    }
    const double samples = double(total_samples) * state.iterations();
    state.counters["ours_samples_per_s"] = samples / our_time;
    state.counters["spandsp_samples_per_s"] = samples / peer_time;
    state.counters["ratio_ours_to_spandsp"] = our_time / peer_time;
}

void BM_G711Alaw(benchmark::State &state)
{
    compare(state, ZK_VOICE_G711_ALAW, spandsp_g711);
}

void BM_G726(benchmark::State &state)
{
    const int kbits = static_cast<int>(state.range(0));
    compare(state, static_cast<int16_t>(ZK_VOICE_G726_16 + (kbits - 16) / 8), [kbits] { spandsp_g726(kbits); });
}

void BM_ImaAdpcm(benchmark::State &state)
{
    compare(state, ZK_VOICE_IMA_ADPCM_RAW, spandsp_ima_adpcm);
}

void BM_Adaptive2(benchmark::State &state)
{
    alone(state, [] { ours(ZK_VOICE_ADAPTIVE2); });
}

void BM_TransCodeAdaptive2ToG726(benchmark::State &state)
{
    adaptive2_frames();
    alone(state, transcode_adaptive2);
}

} // namespace

BENCHMARK(BM_G711Alaw)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_G726)->Arg(16)->Arg(24)->Arg(32)->Arg(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImaAdpcm)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adaptive2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransCodeAdaptive2ToG726)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
