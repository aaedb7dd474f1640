// G.726: the ITU-T G.191 reset vectors, spandsp as a second peer, packing and state.
#include <gtest/gtest.h>

extern "C" {
#include <spandsp.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

struct Rate {
    int kbits;
    unsigned bits;
    int16_t lsb_codec;
    int16_t msb_codec;
};

const Rate rates[] = {
    {16, 2, ZK_VOICE_G726_16, ZK_VOICE_G726_16_MSB},
    {24, 3, ZK_VOICE_G726_24, ZK_VOICE_G726_24_MSB},
    {32, 4, ZK_VOICE_G726_32, ZK_VOICE_G726_32_MSB},
    {40, 5, ZK_VOICE_G726_40, ZK_VOICE_G726_40_MSB},
};

// G.726's own EXPAND block, as the G.191 README describes it; the result is 14-bit sl.
int expand_alaw(uint8_t code)
{
    const int t = code ^ 0xD5;
    const int s1 = t & 127;
    const int e = s1 >> 4;
    const int m = s1 & 15;
    const int ss = e == 0 ? 2 * m + 1 : (1 << (e - 1)) * (2 * m + 33);
    return t >= 128 ? -2 * ss : 2 * ss;
}

int expand_ulaw(uint8_t code)
{
    const int s1 = ~code & 127;
    const int e = s1 >> 4;
    const int m = s1 & 15;
    const int ss = ((2 * m + 33) << e) - 33;
    return code < 0x80 ? -ss : ss;
}

// Reads the codes back from an LSB-first payload, bit by bit.
std::vector<int> unpack_lsb_first(const std::vector<Frame> &frames, unsigned bits)
{
    std::vector<int> codes;
    for (const Frame &frame : frames) {
        const std::vector<uint8_t> payload = payload_of(frame);
        for (size_t j = 0; j + bits <= payload.size() * 8; j += bits) {
            int code = 0;
            for (unsigned k = 0; k < bits; ++k)
                code |= ((payload[(j + k) / 8] >> ((j + k) % 8)) & 1) << k;
            codes.push_back(code);
        }
    }
    return codes;
}

struct SpandspG726 {
    g726_state_t *state;
    SpandspG726(int kbits, int packing) : state(g726_init(nullptr, kbits * 1000, G726_ENCODING_LINEAR, packing)) {}
    ~SpandspG726() { g726_free(state); }
    SpandspG726(const SpandspG726 &) = delete;
    SpandspG726 &operator=(const SpandspG726 &) = delete;
};

} // namespace

TEST(G726Conformance, AllSixteenG191ResetVectorsMatchBitForBit)
{
    for (const Rate &rate : rates) {
        for (const char *law : {"a", "m"}) {
            for (const auto &[input, expected] : {std::pair{"nrm", "rn"}, std::pair{"ovr", "rv"}}) {
                const std::string name = std::string(expected) + std::to_string(rate.kbits) + "f" + law + ".i";
                SCOPED_TRACE(name);
                const std::vector<uint16_t> in = read_words(std::string("g191/g726/") + input + "." + law);
                const std::vector<uint16_t> want = read_words("g191/g726/" + name);
                ASSERT_FALSE(in.empty());
                ASSERT_EQ(in.size(), want.size());
                std::vector<int16_t> pcm(in.size());
                for (size_t i = 0; i < in.size(); ++i) {
                    const uint8_t code = static_cast<uint8_t>(in[i]);
                    pcm[i] = static_cast<int16_t>(4 * (*law == 'a' ? expand_alaw(code) : expand_ulaw(code)));
                }
                const std::vector<int> codes = unpack_lsb_first(encode_stream(rate.lsb_codec, pcm, 80), rate.bits);
                ASSERT_GE(codes.size(), want.size());
                size_t mismatches = 0;
                for (size_t i = 0; i < want.size(); ++i)
                    mismatches += codes[i] != want[i];
                EXPECT_EQ(mismatches, 0u);
            }
        }
    }
}

TEST(G726Spandsp, CodesIdenticalAtEveryRateInBothPackings)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Rate &rate : rates) {
        for (const bool msb : {false, true}) {
            const int16_t codec = msb ? rate.msb_codec : rate.lsb_codec;
            SCOPED_TRACE(codec);
            SpandspG726 peer(rate.kbits, msb ? G726_PACKING_LEFT : G726_PACKING_RIGHT);
            const std::vector<Frame> frames = encode_stream(codec, pcm, 480);
            size_t differing_frames = 0;
            for (size_t f = 0; f < frames.size(); ++f) {
                uint8_t theirs[ZK_VOICE_ENCODED_MAX_BYTES];
                const int bytes = g726_encode(peer.state, theirs, pcm.data() + 480 * f, 480);
                const std::vector<uint8_t> ours = payload_of(frames[f]);
                differing_frames += ours != std::vector<uint8_t>(theirs, theirs + bytes);
            }
            EXPECT_EQ(differing_frames, 0u);
        }
    }
}

// spandsp wraps 4 * sr into 16 bits where we saturate; nothing else may differ.
TEST(G726Spandsp, DecodedSamplesDifferOnlyWhereWeSaturate)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Rate &rate : rates) {
        for (const bool msb : {false, true}) {
            const int16_t codec = msb ? rate.msb_codec : rate.lsb_codec;
            SCOPED_TRACE(codec);
            SpandspG726 peer(rate.kbits, msb ? G726_PACKING_LEFT : G726_PACKING_RIGHT);
            const std::vector<Frame> frames = encode_stream(codec, pcm, 160);
            std::vector<int16_t> theirs;
            for (const Frame &frame : frames) {
                const std::vector<uint8_t> payload = payload_of(frame);
                int16_t out[ZK_VOICE_PCM_MAX];
                const int n = g726_decode(peer.state, out, payload.data(), static_cast<int>(payload.size()));
                theirs.insert(theirs.end(), out, out + n);
            }
            const std::vector<int16_t> ours = decode_stream(codec, frames);
            ASSERT_EQ(ours.size(), theirs.size());
            size_t saturated = 0;
            for (size_t i = 0; i < ours.size(); ++i) {
                if (ours[i] == theirs[i])
                    continue;
                ASSERT_TRUE(ours[i] == 32764 || ours[i] == -32768) << "sample " << i;
                ++saturated;
            }
            // The overload stretches must actually reach the limit, or this proves nothing.
            if (rate.kbits >= 32) {
                EXPECT_GT(saturated, 0u);
            }
        }
    }
}

TEST(G726Spandsp, FullScaleSquareWavesKeepCodesIdentical)
{
    // Full-scale high tones drive a2 below the tone threshold at the largest scale
    // factors, where the transition detector and the limit of its threshold act.
    std::vector<int16_t> pcm;
    for (const double f : {1700.0, 2300.0, 3500.0}) {
        for (int i = 0; i < 16000; ++i)
            pcm.push_back(std::sin(2 * std::numbers::pi * f * i / 8000) > 0 ? 32767 : -32767);
    }
    for (const Rate &rate : rates) {
        SCOPED_TRACE(rate.kbits);
        SpandspG726 peer(rate.kbits, G726_PACKING_RIGHT);
        std::vector<uint8_t> theirs(pcm.size());
        theirs.resize(g726_encode(peer.state, theirs.data(), pcm.data(), static_cast<int>(pcm.size())));
        std::vector<uint8_t> ours;
        for (const Frame &frame : encode_stream(rate.lsb_codec, pcm, 480)) {
            const std::vector<uint8_t> payload = payload_of(frame);
            ours.insert(ours.end(), payload.begin(), payload.end());
        }
        EXPECT_TRUE(ours == theirs);
    }
}

TEST(G726Packing, BothPackingsDecodeToTheSameSamples)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Rate &rate : rates) {
        SCOPED_TRACE(rate.kbits);
        const std::vector<Frame> lsb = encode_stream(rate.lsb_codec, pcm, 240);
        const std::vector<Frame> msb = encode_stream(rate.msb_codec, pcm, 240);
        EXPECT_NE(payload_of(lsb[1]), payload_of(msb[1]));
        EXPECT_EQ(decode_stream(rate.lsb_codec, lsb), decode_stream(rate.msb_codec, msb));
    }
}

TEST(G726Packing, MsbFirstDecodeRepacksTheCallersPayloadInPlace)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Rate &rate : rates) {
        SCOPED_TRACE(rate.kbits);
        const Frame lsb = encode_stream(rate.lsb_codec, pcm, 480)[3];
        Frame msb = encode_stream(rate.msb_codec, pcm, 480)[3];
        const Frame before = msb;
        VoiceCodecState state;
        ZK_VOICE_DecReset(&state, rate.msb_codec);
        int16_t out[ZK_VOICE_PCM_MAX];
        uint16_t n = 0;
        ASSERT_EQ(ZK_VOICE_DecodeFrame(&state, msb.data(), out, &n), ZK_VOICE_OK);
        EXPECT_TRUE(std::equal(before.begin(), before.begin() + 4, msb.begin()));
        EXPECT_EQ(payload_of(msb), payload_of(lsb));
    }
}

TEST(G726Packing, TwoBitExampleBytes)
{
    // Codes 1, 2, 3, 0: 0x39 from the least significant bit, 0x6C from the most.
    Frame msb(4 + 20, 0x6C);
    msb[1] = 0x01;
    msb[2] = 10;
    Frame lsb(msb.size(), 0x39);
    lsb[1] = 0x01;
    lsb[2] = 10;
    const std::vector<int16_t> from_msb = decode_stream(ZK_VOICE_G726_16_MSB, {msb});
    const std::vector<int16_t> from_lsb = decode_stream(ZK_VOICE_G726_16, {lsb});
    ASSERT_EQ(from_msb.size(), 80u);
    EXPECT_EQ(from_msb, from_lsb);
    VoiceCodecState state;
    ZK_VOICE_DecReset(&state, ZK_VOICE_G726_16_MSB);
    int16_t out[ZK_VOICE_PCM_MAX];
    uint16_t n = 0;
    ASSERT_EQ(ZK_VOICE_DecodeFrame(&state, msb.data(), out, &n), ZK_VOICE_OK);
    EXPECT_EQ(payload_of(msb), std::vector<uint8_t>(20, 0x39));
}

// A caller may overwrite the informative bits field; it must neither change the
// rate nor lead the codec outside its tables.
TEST(G726State, RateComesFromTheIdentifierNotTheStoredBits)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Rate &rate : rates) {
        const std::vector<Frame> frames = encode_stream(rate.lsb_codec, pcm, 480);
        const std::vector<int16_t> expected = decode_stream(rate.lsb_codec, frames);
        for (const uint16_t bits : {uint16_t(0), uint16_t(7), uint16_t(0xFFFF)}) {
            SCOPED_TRACE(std::to_string(rate.kbits) + " kbit/s, bits " + std::to_string(bits));
            VoiceCodecState enc;
            VoiceCodecState dec;
            ZK_VOICE_EncReset(&enc, rate.lsb_codec);
            ZK_VOICE_DecReset(&dec, rate.lsb_codec);
            std::vector<int16_t> decoded;
            for (size_t f = 0; f < frames.size(); ++f) {
                enc.g726.bits = bits;
                dec.g726.bits = bits;
                Frame frame(ZK_VOICE_ENCODED_MAX_BYTES);
                ASSERT_EQ(ZK_VOICE_EncodeFrame(&enc, pcm.data() + 480 * f, frame.data(), 480), ZK_VOICE_OK);
                frame.resize(4 + 2 * frame[2]);
                ASSERT_EQ(frame, frames[f]);
                int16_t out[ZK_VOICE_PCM_MAX];
                uint16_t n = 0;
                ASSERT_EQ(ZK_VOICE_DecodeFrame(&dec, frame.data(), out, &n), ZK_VOICE_OK);
                decoded.insert(decoded.end(), out, out + n);
            }
            EXPECT_EQ(decoded, expected);
        }
    }
}

TEST(G726State, ResetRestoresTheInitialValues)
{
    VoiceCodecState state;
    std::memset(&state, 0x5A, sizeof state);
    ASSERT_EQ(ZK_VOICE_DecReset(&state, ZK_VOICE_G726_40_MSB), ZK_VOICE_OK);
    const VoiceG726State &g = state.g726;
    EXPECT_EQ(g.codec, ZK_VOICE_G726_40_MSB);
    EXPECT_EQ(g.bits, 5);
    EXPECT_EQ(g.a[0] | g.a[1] | g.ap | g.dml | g.dms | g.pk[0] | g.pk[1] | g.td, 0);
    for (const int32_t b : g.b)
        EXPECT_EQ(b, 0);
    for (const int32_t dq : g.dq)
        EXPECT_EQ(dq, 32);
    EXPECT_EQ(g.sr[0], 32);
    EXPECT_EQ(g.sr[1], 32);
    EXPECT_EQ(g.yl, 34816);
    EXPECT_EQ(g.yu, 544);
    EXPECT_EQ(g.output_width, 2);
}

TEST(G726Decoder, RandomPayloadsStayWithinTheOutputLimits)
{
    for (const Rate &rate : rates) {
        for (const int16_t codec : {rate.lsb_codec, rate.msb_codec}) {
            SCOPED_TRACE(codec);
            std::vector<Frame> frames;
            for (uint32_t seed = 1; seed <= 200; ++seed) {
                Frame frame(4 + 60 * rate.bits);
                fill_random(frame, seed);
                frame[1] = 0x01;
                frame[2] = static_cast<uint8_t>(30 * rate.bits);
                frames.push_back(frame);
            }
            for (const int16_t sample : decode_stream(codec, frames))
                ASSERT_LE(sample, 32764);
        }
    }
}
