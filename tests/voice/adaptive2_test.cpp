// Identifier 68. No outside implementation exists, so correctness is shown by the
// decoder following the encoder sample for sample, the bounds of the adaptation and a
// golden code sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

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
// encode_stream(68, golden_signal(), 480) in hex. The signal reaches every code, the
// saturation of D and the transition reset. A change here changes what devices hear.
const char golden_payload[] =
    "56AA6AA5BC15F01A166F58C8BF013116C16F588060F1FC0635581B8C63CD8F06C15B16BF6C3D8CF5F058166C5830BFC1"
    "3016C66F58FFBFC1C0C6C162588363C1F2C6DD58468F633D8005CD1B16A36F0C80C53D5B066C18FCB3C1CD0605631B8C"
    "6031CC06F16F18B0638C8F16C11BD6BC6F0080C5CC1B16605A55E9AF5555BFEA5595AA5E55A9EA5595AA5E55A9AA5555"
    "AAFAD595AE5F55A9FA5595AA5F55A9AA5555AAFE5595AA5F55A9FA5595AA5F55A9AA5554BAFA1595A25F5DA9FA55956A"
    "5F95A9A655596AFA9595BA5F55A9FE5595AA5F55A9EA5555AAFE5595AA5F55A9FA5595AA5F55A9AA5551EAFAD595A65F";

} // namespace

TEST(Adaptive2Codec, DecoderReproducesTheEncodersReconstructionWithinBounds)
{
    std::vector<int16_t> noise(48000);
    uint32_t seed = 3;
    for (int16_t &x : noise)
        x = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 16);
    for (const std::vector<int16_t> &pcm : {speech_signal(), noise}) {
        Adaptive2 enc = fresh();
        Adaptive2 dec = fresh();
        std::vector<int16_t> reconstructed;
        for (const int16_t x : pcm) {
            const Adaptive2Step step = adaptive2_encode_sample(enc, x);
            ASSERT_EQ(adaptive2_decode_sample(dec, step.code), step.r);
            reconstructed.push_back(static_cast<int16_t>(std::clamp(step.r, -32768, 32767)));
            ASSERT_TRUE(enc.yu >= 544 && enc.yu <= 5120 && std::abs(enc.a2) <= 12288 &&
                        std::abs(enc.a1) <= 15360 - enc.a2);
        }
        VoiceAdaptive2State enc_record{};
        VoiceAdaptive2State dec_record{};
        adaptive2_store(enc, enc_record);
        adaptive2_store(dec, dec_record);
        EXPECT_EQ(std::memcmp(&enc_record, &dec_record, sizeof enc_record), 0);
        EXPECT_EQ(decode_stream(ZK_VOICE_ADAPTIVE2, encode_stream(ZK_VOICE_ADAPTIVE2, pcm, 480)), reconstructed);
    }
}

// A run of one large code overshoots in both directions.
TEST(Adaptive2Codec, DecodedSamplesSaturate)
{
    Frame frame = random_frame(0x01, 60, 1);
    std::fill(frame.begin() + header_bytes, frame.end(), 0x55);
    const std::vector<int16_t> pcm = decode_stream(ZK_VOICE_ADAPTIVE2, std::vector<Frame>(20, frame));
    EXPECT_EQ(*std::max_element(pcm.begin(), pcm.end()), 32767);
    EXPECT_EQ(*std::min_element(pcm.begin(), pcm.end()), -32768);
}

TEST(Adaptive2Golden, CodesOfTheFixedSignal)
{
    std::string hex;
    for (const uint8_t byte : payloads(encode_stream(ZK_VOICE_ADAPTIVE2, golden_signal(), 480)))
        hex += "0123456789ABCDEF"[byte >> 4], hex += "0123456789ABCDEF"[byte & 15];
    EXPECT_EQ(hex, golden_payload);
}
