// G.711 against the ITU-T G.191 sweep, which spans every 16-bit input and every code.
// The swapped identifiers are held to the plain ones by the transcoder's test.
#include <gtest/gtest.h>

#include <algorithm>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

struct Sweep {
    int16_t codec;
    const char *codes;
    const char *expansion;
};

const Sweep sweeps[] = {{ZK_VOICE_G711_ALAW, "g191/g711/sweep-r.a", "g191/g711/sweep-r.rea"},
                        {ZK_VOICE_G711_ULAW, "g191/g711/sweep-r.u", "g191/g711/sweep-r.reu"}};

std::vector<uint8_t> encode_codes(int16_t codec, const std::vector<int16_t> &pcm)
{
    std::vector<uint8_t> codes = payloads(encode_stream(codec, pcm, 480));
    codes.resize(pcm.size());
    return codes;
}

// Code bytes in sample order, as identifiers 1 and 2 lay them, 480 to a frame.
std::vector<int16_t> decode_codes(int16_t codec, const std::vector<uint8_t> &codes)
{
    std::vector<Frame> frames;
    for (size_t at = 0; at < codes.size(); at += 480) {
        Frame frame = {0x00, 0x01, 240, 0x00};
        frame.insert(frame.end(), codes.begin() + at, codes.begin() + std::min(at + 480, codes.size()));
        frame.resize(header_bytes + 480, 0xD5);
        frames.push_back(frame);
    }
    std::vector<int16_t> pcm = decode_stream(codec, frames);
    pcm.resize(codes.size());
    return pcm;
}

int ulaw_level(uint8_t code)
{
    return ~code & 0x7F;
}

} // namespace

// Our mu-law encoder takes the magnitude of the shifted negative sample where G.191
// takes the one's complement (-1 gives 0x7E, not 0x7F): every difference must be that
// one step at a negative decision boundary, and A-law must match throughout.
TEST(G711G191, EncodersMatchTheSweep)
{
    const std::vector<uint16_t> src = read_words("g191/g711/sweep.src");
    ASSERT_EQ(src.size(), 65536u);
    for (const Sweep &s : sweeps) {
        SCOPED_TRACE(s.codes);
        const std::vector<uint16_t> want = read_words(s.codes);
        ASSERT_EQ(want.size(), src.size());
        const std::vector<uint8_t> codes = encode_codes(s.codec, {src.begin(), src.end()});
        size_t differences = 0;
        for (size_t i = 0; i < src.size(); ++i) {
            const uint8_t theirs = want[i] & 0xFF;
            if (codes[i] == theirs)
                continue;
            ++differences;
            const int16_t x = static_cast<int16_t>(src[i]);
            ASSERT_EQ(s.codec, ZK_VOICE_G711_ULAW) << "input " << x;
            ASSERT_LT(x, 0);
            ASSERT_EQ(codes[i] & 0x80, theirs & 0x80);
            ASSERT_EQ(ulaw_level(codes[i]), ulaw_level(theirs) + 1) << "input " << x;
            // One 14-bit magnitude step nearer zero lands on G.191's level.
            ASSERT_EQ(ulaw_level(encode_codes(s.codec, {int16_t(x + 4)})[0]), ulaw_level(theirs));
        }
        EXPECT_EQ(differences, s.codec == ZK_VOICE_G711_ULAW ? 508u : 0u);
    }
}

TEST(G711G191, DecodersMatchTheSweepExpansions)
{
    for (const Sweep &s : sweeps) {
        SCOPED_TRACE(s.codes);
        const std::vector<uint16_t> in = read_words(s.codes);
        const std::vector<uint16_t> want = read_words(s.expansion);
        ASSERT_EQ(in.size(), want.size());
        std::vector<uint8_t> codes(in.size());
        std::transform(in.begin(), in.end(), codes.begin(), [](uint16_t w) { return uint8_t(w); });
        const std::vector<int16_t> pcm = decode_codes(s.codec, codes);
        for (size_t i = 0; i < pcm.size(); ++i)
            ASSERT_EQ(pcm[i], int16_t(want[i])) << "code " << int(codes[i]);
    }
}
