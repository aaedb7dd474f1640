// Identifier 68. No outside implementation exists, so correctness is shown by the
// decoder following the encoder sample for sample, the bounds of the adaptation and a
// golden code sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "adaptive2.h"
#include "voice_test_support.h"

using namespace voice_test;
using namespace recmux::voice;

namespace {

Adaptive2 fresh()
{
    VoiceCodecState state;
    EXPECT_EQ(ZK_VOICE_EncReset(&state, ZK_VOICE_ADAPTIVE2), ZK_VOICE_OK);
    return adaptive2_load(state.adaptive2);
}

std::vector<int16_t> random_signal(size_t n, uint32_t seed)
{
    std::vector<int16_t> pcm(n);
    uint32_t x = seed;
    for (int16_t &sample : pcm) {
        x = x * 1664525u + 1013904223u;
        sample = static_cast<int16_t>(x >> 16);
    }
    return pcm;
}

void expect_bounds(const Adaptive2 &s)
{
    ASSERT_GE(s.yu, 544);
    ASSERT_LE(s.yu, 5120);
    ASSERT_GE(s.a2, -12288);
    ASSERT_LE(s.a2, 12288);
    ASSERT_LE(std::abs(s.a1), 15360 - s.a2);
}

// Integer arithmetic only, so that no libm can change it: a sawtooth in noise, then a
// square wave that ramps up into clipping.
std::vector<int16_t> golden_signal()
{
    std::vector<int16_t> pcm(960);
    uint32_t seed = 1;
    for (int n = 0; n < 960; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = static_cast<int>(seed >> 21) - 1024;
        const int v = n < 480 ? 2 * ((n * 1237) % 8000 - 4000) + noise
                              : ((n / 9) % 2 ? 70 : -70) * n + noise;
        pcm[n] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
    return pcm;
}

// Made once, after adaptive2.cpp had been checked line by line against the codec's
// definition and had matched an independent transcription of it, code for code, on
// 192,000 samples of noise, tones, clipping and silence: the two payloads of
// encode_stream(68, golden_signal(), 480), printed as hex. The signal reaches every
// code, the saturation of D and the transition reset. A change here changes what
// devices hear.
const uint8_t golden_payload[] = {
    0x56, 0xAA, 0x6A, 0xA5, 0xBC, 0x15, 0xF0, 0x1A, 0x16, 0x6F, 0x58, 0xC8,
    0xBF, 0x01, 0x31, 0x16, 0xC1, 0x6F, 0x58, 0x80, 0x60, 0xF1, 0xFC, 0x06,
    0x35, 0x58, 0x1B, 0x8C, 0x63, 0xCD, 0x8F, 0x06, 0xC1, 0x5B, 0x16, 0xBF,
    0x6C, 0x3D, 0x8C, 0xF5, 0xF0, 0x58, 0x16, 0x6C, 0x58, 0x30, 0xBF, 0xC1,
    0x30, 0x16, 0xC6, 0x6F, 0x58, 0xFF, 0xBF, 0xC1, 0xC0, 0xC6, 0xC1, 0x62,
    0x58, 0x83, 0x63, 0xC1, 0xF2, 0xC6, 0xDD, 0x58, 0x46, 0x8F, 0x63, 0x3D,
    0x80, 0x05, 0xCD, 0x1B, 0x16, 0xA3, 0x6F, 0x0C, 0x80, 0xC5, 0x3D, 0x5B,
    0x06, 0x6C, 0x18, 0xFC, 0xB3, 0xC1, 0xCD, 0x06, 0x05, 0x63, 0x1B, 0x8C,
    0x60, 0x31, 0xCC, 0x06, 0xF1, 0x6F, 0x18, 0xB0, 0x63, 0x8C, 0x8F, 0x16,
    0xC1, 0x1B, 0xD6, 0xBC, 0x6F, 0x00, 0x80, 0xC5, 0xCC, 0x1B, 0x16, 0x60,
    0x5A, 0x55, 0xE9, 0xAF, 0x55, 0x55, 0xBF, 0xEA, 0x55, 0x95, 0xAA, 0x5E,
    0x55, 0xA9, 0xEA, 0x55, 0x95, 0xAA, 0x5E, 0x55, 0xA9, 0xAA, 0x55, 0x55,
    0xAA, 0xFA, 0xD5, 0x95, 0xAE, 0x5F, 0x55, 0xA9, 0xFA, 0x55, 0x95, 0xAA,
    0x5F, 0x55, 0xA9, 0xAA, 0x55, 0x55, 0xAA, 0xFE, 0x55, 0x95, 0xAA, 0x5F,
    0x55, 0xA9, 0xFA, 0x55, 0x95, 0xAA, 0x5F, 0x55, 0xA9, 0xAA, 0x55, 0x54,
    0xBA, 0xFA, 0x15, 0x95, 0xA2, 0x5F, 0x5D, 0xA9, 0xFA, 0x55, 0x95, 0x6A,
    0x5F, 0x95, 0xA9, 0xA6, 0x55, 0x59, 0x6A, 0xFA, 0x95, 0x95, 0xBA, 0x5F,
    0x55, 0xA9, 0xFE, 0x55, 0x95, 0xAA, 0x5F, 0x55, 0xA9, 0xEA, 0x55, 0x55,
    0xAA, 0xFE, 0x55, 0x95, 0xAA, 0x5F, 0x55, 0xA9, 0xFA, 0x55, 0x95, 0xAA,
    0x5F, 0x55, 0xA9, 0xAA, 0x55, 0x51, 0xEA, 0xFA, 0xD5, 0x95, 0xA6, 0x5F
};

} // namespace

TEST(Adaptive2Codec, DecoderReproducesTheEncodersReconstructionWithinBounds)
{
    for (const std::vector<int16_t> &pcm : {speech_signal(), random_signal(48000, 3)}) {
        Adaptive2 enc = fresh();
        Adaptive2 dec = fresh();
        std::vector<int32_t> reconstructed;
        for (const int16_t x : pcm) {
            const Adaptive2Step step = adaptive2_encode_sample(enc, x);
            ASSERT_EQ(adaptive2_decode_sample(dec, step.code), step.r);
            reconstructed.push_back(step.r);
            expect_bounds(enc);
        }
        VoiceAdaptive2State enc_record{};
        VoiceAdaptive2State dec_record{};
        adaptive2_store(enc, enc_record);
        adaptive2_store(dec, dec_record);
        EXPECT_EQ(std::memcmp(&enc_record, &dec_record, sizeof enc_record), 0);

        const std::vector<int16_t> decoded =
            decode_stream(ZK_VOICE_ADAPTIVE2, encode_stream(ZK_VOICE_ADAPTIVE2, pcm, 480));
        ASSERT_EQ(decoded.size(), pcm.size());
        for (size_t i = 0; i < pcm.size(); ++i)
            ASSERT_EQ(decoded[i], std::clamp(reconstructed[i], -32768, 32767)) << "sample " << i;
    }
}

// A run of one large code overshoots in both directions.
TEST(Adaptive2Codec, DecodedSamplesSaturate)
{
    Frame frame(header_bytes + 120, 0x55);
    frame[1] = 0x01;
    frame[2] = 60;
    const std::vector<int16_t> pcm = decode_stream(ZK_VOICE_ADAPTIVE2, std::vector<Frame>(20, frame));
    EXPECT_EQ(*std::max_element(pcm.begin(), pcm.end()), 32767);
    EXPECT_EQ(*std::min_element(pcm.begin(), pcm.end()), -32768);
}

// A prediction of about 7232 against a full-scale sample of the other sign puts D near
// +-40000; cut to 16 bits that read as the opposite sign.
TEST(Adaptive2Codec, OverloadKeepsTheSignOfTheDifference)
{
    Adaptive2 s = fresh();
    s.a1 = 1808;
    s.sr1 = 32767;
    EXPECT_EQ(adaptive2_encode_sample(s, -32768).code, 3);
    s = fresh();
    s.a1 = 1808;
    s.sr1 = -32768;
    EXPECT_EQ(adaptive2_encode_sample(s, 32767).code, 1);
}

TEST(Adaptive2Golden, CodesOfTheFixedSignal)
{
    EXPECT_EQ(payloads(encode_stream(ZK_VOICE_ADAPTIVE2, golden_signal(), 480)),
              std::vector<uint8_t>(std::begin(golden_payload), std::end(golden_payload)));
}
