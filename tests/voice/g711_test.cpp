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

} // namespace

// Our mu-law encoder takes the magnitude of the shifted negative sample where G.191
// takes the one's complement (-1 gives 0x7E, not 0x7F): every difference must be that
// one level at a negative decision boundary, which one 14-bit step nearer zero reaches,
// and A-law must match throughout.
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
            const int16_t x = static_cast<int16_t>(src[i]);
            if (codes[i] == theirs)
                continue;
            ++differences;
            ASSERT_TRUE(s.codec == ZK_VOICE_G711_ULAW && x < 0 && codes[i] == theirs - 1 && (theirs & 0x7F))
                << "input " << x;
            ASSERT_EQ(encode_codes(s.codec, {int16_t(x + 4)})[0] & 0x7F, theirs & 0x7F) << "input " << x;
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
        const std::vector<uint8_t> codes(in.begin(), in.end());
        EXPECT_EQ(decode_codes(s.codec, codes), std::vector<int16_t>(want.begin(), want.end()));
    }
}
