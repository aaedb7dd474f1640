#include "voice_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>

namespace voice_test {

namespace {

// Stretches of 0.2 s: voiced (v), unvoiced (u), silent (s) and clipped overload (o).
constexpr char pattern[] = "vvuvsvouvs";

// Harmonics of the pitch f0 at the given phase, weighted by two formant resonances.
double voiced(double phase, double f0)
{
    double v = 0;
    for (int h = 1; h * f0 < 3400; ++h) {
        const double f = h * f0;
        const double w = 1 / (1 + std::pow((f - 650) / 150, 2)) + 0.5 / (1 + std::pow((f - 1700) / 250, 2)) + 0.1;
        v += w / h * std::sin(h * phase + h);
    }
    return v;
}

uint32_t next_random(uint32_t &seed)
{
    return seed = seed * 1664525u + 1013904223u;
}

std::vector<int16_t> make_signal()
{
    constexpr double pi = std::numbers::pi;
    std::vector<int16_t> out(200 * 480);
    uint32_t seed = 1;
    double previous_noise = 0;
    double phase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const size_t seg = i / 1600;
        const double t = i / 8000.0;
        const double envelope = std::sin(pi * (i % 1600) / 1600);
        const double f0 = (95 + 30 * (seg % 5)) * (1 + 0.08 * std::sin(2 * pi * 3 * t));
        phase = std::fmod(phase + 2 * pi * f0 / 8000.0, 2 * pi);
        const double noise = (next_random(seed) >> 8) / double(1 << 24) - 0.5;
        double v = 0;
        switch (pattern[seg % 10]) {
        case 'v': v = 9000 * (0.3 + seg % 3) * envelope * voiced(phase, f0); break;
        case 'u': v = 9000 * envelope * (noise - previous_noise); break;
        case 'o': v = 40000 * voiced(phase, f0); break;
        }
        previous_noise = noise;
        out[i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return out;
}

} // namespace

const std::vector<int16_t> &speech_signal()
{
    static const std::vector<int16_t> signal = make_signal();
    return signal;
}

std::vector<uint16_t> read_words(const std::string &relative_path)
{
    const std::string path = std::string(RECMUX_TESTDATA_DIR) + "/" + relative_path;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << path;
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<uint16_t> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return words;
}

std::vector<Frame> encode_stream(int16_t codec, const std::vector<int16_t> &pcm, unsigned frame_samples,
                                 const Hook &hook)
{
    VoiceCodecState state;
    EXPECT_EQ(ZK_VOICE_EncReset(&state, codec), ZK_VOICE_OK);
    std::vector<Frame> frames;
    for (size_t at = 0; at < pcm.size(); at += frame_samples) {
        std::vector<int16_t> chunk(frame_samples, 0);
        std::copy_n(pcm.begin() + at, std::min<size_t>(frame_samples, pcm.size() - at), chunk.begin());
        Frame frame(ZK_VOICE_ENCODED_MAX_BYTES);
        hook(state);
        EXPECT_EQ(ZK_VOICE_EncodeFrame(&state, chunk.data(), frame.data(), uint16_t(frame_samples)), ZK_VOICE_OK);
        frame.resize(header_bytes + 2 * frame[2]);
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::vector<int16_t> decode_stream(int16_t codec, const std::vector<Frame> &frames, const Hook &hook)
{
    VoiceCodecState state;
    EXPECT_EQ(ZK_VOICE_DecReset(&state, codec), ZK_VOICE_OK);
    std::vector<int16_t> out;
    for (Frame frame : frames) {
        int16_t pcm[ZK_VOICE_PCM_MAX];
        uint16_t samples = 0;
        hook(state);
        EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, frame.data(), pcm, &samples), ZK_VOICE_OK);
        out.insert(out.end(), pcm, pcm + samples);
    }
    return out;
}

std::vector<uint8_t> payloads(const std::vector<Frame> &frames)
{
    std::vector<uint8_t> bytes;
    for (const Frame &frame : frames)
        bytes.insert(bytes.end(), frame.begin() + header_bytes, frame.end());
    return bytes;
}

Frame random_frame(uint8_t byte1, uint8_t words, uint32_t seed)
{
    Frame frame(header_bytes + 2 * size_t{words});
    for (auto &b : frame)
        b = static_cast<uint8_t>(next_random(seed) >> 24);
    frame[1] = byte1;
    frame[2] = words;
    return frame;
}

double snr_db(const std::vector<int16_t> &reference, const std::vector<int16_t> &decoded)
{
    double signal = 0, error = 0;
    for (size_t i = 0; i < std::min(reference.size(), decoded.size()); ++i) {
        signal += double(reference[i]) * reference[i];
        error += std::pow(double(reference[i]) - decoded[i], 2);
    }
    return 10 * std::log10(signal / std::max(error, 1.0));
}

} // namespace voice_test
