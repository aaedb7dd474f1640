// G.726: the ITU-T G.191 reset vectors for the encoder, spandsp as the peer for both
// directions and both packings, and a state record a caller has scribbled on.
#include <gtest/gtest.h>

#ifdef RECMUX_WITH_SPANDSP
extern "C" {
#include <spandsp.h>
}
#endif

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

struct Rate {
    int kbits;
    unsigned bits;
    int16_t lsb_codec, msb_codec;
};

const Rate rates[] = {{16, 2, ZK_VOICE_G726_16, ZK_VOICE_G726_16_MSB}, {24, 3, ZK_VOICE_G726_24, ZK_VOICE_G726_24_MSB},
                      {32, 4, ZK_VOICE_G726_32, ZK_VOICE_G726_32_MSB}, {40, 5, ZK_VOICE_G726_40, ZK_VOICE_G726_40_MSB}};

// G.726's own EXPAND block, as the G.191 README gives it, times 4: the encoder's shift
// by 2 gives back the 14-bit sl exactly.
int16_t expand(bool alaw, uint8_t code)
{
    if (alaw) {
        const int t = code ^ 0xD5, e = (t & 127) >> 4, m = t & 15;
        const int ss = e == 0 ? 2 * m + 1 : (1 << (e - 1)) * (2 * m + 33);
        return static_cast<int16_t>(t >= 128 ? -8 * ss : 8 * ss);
    }
    const int s1 = ~code & 127, e = s1 >> 4, m = s1 & 15;
    const int ss = ((2 * m + 33) << e) - 33;
    return static_cast<int16_t>(code < 0x80 ? -4 * ss : 4 * ss);
}

// Codes read back from least-significant-bit-first payloads, bit by bit.
std::vector<int> unpack_lsb_first(const std::vector<uint8_t> &payload, unsigned bits)
{
    std::vector<int> codes;
    for (size_t j = 0; j + bits <= payload.size() * 8; j += bits) {
        int code = 0;
        for (unsigned k = 0; k < bits; ++k)
            code |= ((payload[(j + k) / 8] >> ((j + k) % 8)) & 1) << k;
        codes.push_back(code);
    }
    return codes;
}

#ifdef RECMUX_WITH_SPANDSP
std::unique_ptr<g726_state_t, int (*)(g726_state_t *)> spandsp_g726(int kbits, bool msb)
{
    return {g726_init(nullptr, kbits * 1000, G726_ENCODING_LINEAR, msb ? G726_PACKING_LEFT : G726_PACKING_RIGHT),
            g726_free};
}

// The speech signal, then full-scale square waves at high tones: they drive a2 below the
// tone threshold at the largest scale factors, where the transition detector acts.
std::vector<int16_t> peer_signal()
{
    std::vector<int16_t> pcm = speech_signal();
    for (const double f : {1700.0, 2300.0, 3500.0}) {
        for (int i = 0; i < 16000; ++i)
            pcm.push_back(std::sin(2 * std::numbers::pi * f * i / 8000) > 0 ? 32767 : -32767);
    }
    return pcm;
}
#endif

} // namespace

TEST(G726Conformance, EveryG191ResetVectorMatchesBitForBit)
{
    for (const Rate &rate : rates) {
        for (const char *law : {"a", "m"}) {
            for (const auto &[input, expected] : {std::pair{"nrm", "rn"}, std::pair{"ovr", "rv"}}) {
                const std::string name = expected + std::to_string(rate.kbits) + "f" + law + ".i";
                SCOPED_TRACE(name);
                const std::vector<uint16_t> in = read_words(std::string("g191/g726/") + input + "." + law);
                const std::vector<uint16_t> want = read_words("g191/g726/" + name);
                ASSERT_TRUE(!in.empty() && in.size() == want.size());
                std::vector<int16_t> pcm(in.size());
                std::transform(in.begin(), in.end(), pcm.begin(), [&](uint16_t w) { return expand(*law == 'a', w); });
                std::vector<int> codes = unpack_lsb_first(payloads(encode_stream(rate.lsb_codec, pcm, 80)), rate.bits);
                codes.resize(want.size());
                EXPECT_TRUE(std::equal(codes.begin(), codes.end(), want.begin()));
            }
        }
    }
}

#ifdef RECMUX_WITH_SPANDSP
// spandsp wraps 4 * sr into 16 bits where we saturate; nothing else may differ, also on
// random payloads.
TEST(G726Spandsp, SameCodesAndSamplesAtEveryRateInBothPackings)
{
    const std::vector<int16_t> pcm = peer_signal();
    for (const Rate &rate : rates) {
        for (const bool msb : {false, true}) {
            const int16_t codec = msb ? rate.msb_codec : rate.lsb_codec;
            SCOPED_TRACE(codec);
            std::vector<Frame> frames = encode_stream(codec, pcm, 480);
            std::vector<uint8_t> theirs(pcm.size());
            theirs.resize(g726_encode(spandsp_g726(rate.kbits, msb).get(), theirs.data(), pcm.data(), int(pcm.size())));
            EXPECT_TRUE(payloads(frames) == theirs);

            for (uint32_t seed = 1; seed <= 200; ++seed)
                frames.push_back(random_frame(0x01, uint8_t(30 * rate.bits), seed));
            const std::vector<uint8_t> bytes = payloads(frames);
            std::vector<int16_t> expected(8 * bytes.size());
            expected.resize(g726_decode(spandsp_g726(rate.kbits, msb).get(), expected.data(), bytes.data(),
                                        int(bytes.size())));
            const std::vector<int16_t> decoded = decode_stream(codec, frames);
            ASSERT_EQ(decoded.size(), expected.size());
            size_t saturated = 0;
            for (size_t i = 0; i < decoded.size(); ++i) {
                saturated += decoded[i] != expected[i];
                ASSERT_TRUE(decoded[i] == expected[i] || decoded[i] == 32764 || decoded[i] == -32768) << i;
            }
            // The overload must actually reach the limit, or this proves nothing.
            EXPECT_TRUE(rate.kbits < 32 || saturated > 0);
        }
    }
}
#endif

TEST(G726Packing, MsbFirstDecodeRepacksThePayloadInPlace)
{
    for (const Rate &rate : rates) {
        Frame msb = encode_stream(rate.msb_codec, speech_signal(), 480)[3];
        VoiceCodecState state;
        ZK_VOICE_DecReset(&state, rate.msb_codec);
        int16_t pcm[ZK_VOICE_PCM_MAX];
        uint16_t n = 0;
        ASSERT_EQ(ZK_VOICE_DecodeFrame(&state, msb.data(), pcm, &n), ZK_VOICE_OK);
        EXPECT_EQ(msb, encode_stream(rate.lsb_codec, speech_signal(), 480)[3]) << rate.kbits;
    }
}

// The bits field is informative: overwritten before every frame, it must neither change
// the rate nor lead the codec outside its tables.
TEST(G726State, RateComesFromTheIdentifierNotTheStoredBits)
{
    for (const Rate &rate : rates) {
        const std::vector<Frame> frames = encode_stream(rate.lsb_codec, speech_signal(), 480);
        const std::vector<int16_t> expected = decode_stream(rate.lsb_codec, frames);
        for (const uint16_t bits : {0, 7, 0xFFFF}) {
            const auto scribble = [bits](VoiceCodecState &s) { s.g726.bits = bits; };
            EXPECT_EQ(encode_stream(rate.lsb_codec, speech_signal(), 480, scribble), frames) << bits;
            EXPECT_EQ(decode_stream(rate.lsb_codec, frames, scribble), expected) << bits;
        }
    }
}
