// IMA ADPCM: the three layouts against spandsp's DVI4 and IMA4, block headers and
// the limits of predictor and step index.
#include <gtest/gtest.h>

extern "C" {
#include <spandsp.h>
}

#include <algorithm>
#include <cstring>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

struct SpandspAdpcm {
    ima_adpcm_state_t *state;
    SpandspAdpcm(int variant, int chunk_size) : state(ima_adpcm_init(nullptr, variant, chunk_size)) {}
    ~SpandspAdpcm() { ima_adpcm_free(state); }
    SpandspAdpcm(const SpandspAdpcm &) = delete;
    SpandspAdpcm &operator=(const SpandspAdpcm &) = delete;
};

// spandsp's DVI4 block header holds the predictor big-endian; ours is little-endian.
void swap_predictor_bytes(std::vector<uint8_t> &payload)
{
    std::swap(payload[0], payload[1]);
}

std::vector<int16_t> spandsp_decode(SpandspAdpcm &peer, const std::vector<uint8_t> &payload)
{
    std::vector<int16_t> out(2 * payload.size() + 1);
    out.resize(ima_adpcm_decode(peer.state, out.data(), payload.data(), static_cast<int>(payload.size())));
    return out;
}

struct Layout {
    int16_t codec;
    int variant;
    int chunk_size;
    unsigned frame_samples;
    bool swapped_header;
};

const Layout layouts[] = {
    {ZK_VOICE_IMA_ADPCM, IMA_ADPCM_DVI4, 0, 480, true},
    {ZK_VOICE_IMA_ADPCM_WAVE, IMA_ADPCM_IMA4, 0, 481, false},
    {ZK_VOICE_IMA_ADPCM_RAW, IMA_ADPCM_DVI4, 480, 480, false},
};

std::vector<uint8_t> as_spandsp(const Layout &layout, std::vector<uint8_t> payload)
{
    if (layout.swapped_header)
        swap_predictor_bytes(payload);
    return payload;
}

} // namespace

TEST(ImaAdpcmSpandsp, EncodedPayloadsIdenticalForEveryLayout)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Layout &layout : layouts) {
        SCOPED_TRACE(layout.codec);
        SpandspAdpcm peer(layout.variant, layout.chunk_size);
        const std::vector<Frame> frames = encode_stream(layout.codec, pcm, layout.frame_samples);
        size_t differing = 0;
        for (size_t f = 0; f + 1 < frames.size(); ++f) {
            std::vector<uint8_t> theirs(ZK_VOICE_ENCODED_MAX_BYTES);
            theirs.resize(ima_adpcm_encode(peer.state, theirs.data(), pcm.data() + f * layout.frame_samples,
                                           static_cast<int>(layout.frame_samples)));
            differing += as_spandsp(layout, payload_of(frames[f])) != theirs;
        }
        EXPECT_EQ(differing, 0u);
    }
}

TEST(ImaAdpcmSpandsp, DecodedSamplesIdenticalForEveryLayout)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Layout &layout : layouts) {
        SCOPED_TRACE(layout.codec);
        SpandspAdpcm peer(layout.variant, layout.chunk_size);
        const std::vector<Frame> frames = encode_stream(layout.codec, pcm, layout.frame_samples);
        std::vector<int16_t> theirs;
        for (const Frame &frame : frames) {
            const std::vector<int16_t> out = spandsp_decode(peer, as_spandsp(layout, payload_of(frame)));
            theirs.insert(theirs.end(), out.begin(), out.end());
        }
        EXPECT_EQ(decode_stream(layout.codec, frames), theirs);
    }
}

TEST(ImaAdpcmSpandsp, RandomPayloadsDecodeIdentically)
{
    for (const Layout &layout : layouts) {
        SCOPED_TRACE(layout.codec);
        SpandspAdpcm peer(layout.variant, layout.chunk_size);
        std::vector<Frame> frames;
        std::vector<int16_t> theirs;
        for (uint32_t seed = 1; seed <= 100; ++seed) {
            Frame frame(4 + 2 * 255);
            fill_random(frame, seed);
            frame[1] = 0x01;
            frame[2] = 255;
            frame[6] %= 89; // spandsp does not limit the header's step index
            frames.push_back(frame);
            const std::vector<int16_t> out = spandsp_decode(peer, as_spandsp(layout, payload_of(frame)));
            theirs.insert(theirs.end(), out.begin(), out.end());
        }
        EXPECT_EQ(decode_stream(layout.codec, frames), theirs);
    }
}

TEST(ImaAdpcmFrames, HeaderlessFrameOf255WordsGives1020Samples)
{
    Frame frame(4 + 510);
    fill_random(frame, 7);
    frame[1] = 0x01;
    frame[2] = 255;
    EXPECT_EQ(decode_stream(ZK_VOICE_IMA_ADPCM_RAW, {frame}).size(), 1020u);
}

TEST(ImaAdpcmFrames, FreshEncoderWritesAZeroHeader)
{
    const Frame frame = encode_stream(ZK_VOICE_IMA_ADPCM, speech_signal(), 80)[0];
    EXPECT_EQ(frame[2], 22);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 4, frame.begin() + 8), std::vector<uint8_t>(4, 0));
}

TEST(ImaAdpcmFrames, WaveBlockOfOneSampleIsItsHeader)
{
    VoiceCodecState enc;
    ZK_VOICE_EncReset(&enc, ZK_VOICE_IMA_ADPCM_WAVE);
    const int16_t sample = -12345;
    Frame frame(ZK_VOICE_ENCODED_MAX_BYTES);
    ASSERT_EQ(ZK_VOICE_EncodeFrame(&enc, &sample, frame.data(), 1), ZK_VOICE_OK);
    frame.resize(4 + 2 * frame[2]);
    ASSERT_EQ(frame.size(), 8u);
    EXPECT_EQ(int16_t(frame[4] | frame[5] << 8), sample);
    EXPECT_EQ(decode_stream(ZK_VOICE_IMA_ADPCM_WAVE, {frame}), std::vector<int16_t>{sample});
}

TEST(ImaAdpcmFrames, WaveBlockStartsWithItsHeaderSampleWhateverTheState)
{
    const std::vector<Frame> frames = encode_stream(ZK_VOICE_IMA_ADPCM_WAVE, speech_signal(), 481);
    VoiceCodecState dec;
    ZK_VOICE_DecReset(&dec, ZK_VOICE_IMA_ADPCM_WAVE);
    dec.adpcm.predictor = 31000;
    dec.adpcm.step_index = 60;
    Frame frame = frames[9];
    int16_t out[ZK_VOICE_PCM_MAX];
    uint16_t n = 0;
    ASSERT_EQ(ZK_VOICE_DecodeFrame(&dec, frame.data(), out, &n), ZK_VOICE_OK);
    EXPECT_EQ(n, 481);
    EXPECT_EQ(out[0], speech_signal()[9 * 481]);
    EXPECT_EQ(std::vector<int16_t>(out, out + n), decode_stream(ZK_VOICE_IMA_ADPCM_WAVE, {frames[9]}));
}

// An index beyond the table, from a block header or from a record, is read as 88.
TEST(ImaAdpcmLimits, OversizedStepIndexIsClampedWhereverItComesFrom)
{
    Frame frame(4 + 2 * 42);
    fill_random(frame, 3);
    frame[1] = 0x01;
    frame[2] = 42;
    for (const int16_t codec : {ZK_VOICE_IMA_ADPCM, ZK_VOICE_IMA_ADPCM_WAVE}) {
        SCOPED_TRACE(codec);
        Frame limit = frame;
        limit[6] = 88;
        const std::vector<int16_t> expected = decode_stream(codec, {limit});
        for (const uint8_t index : {89, 200, 255}) {
            Frame over = frame;
            over[6] = index;
            EXPECT_EQ(decode_stream(codec, {over}), expected);
        }
    }
    int16_t expected[ZK_VOICE_PCM_MAX];
    int16_t out[ZK_VOICE_PCM_MAX];
    uint16_t n = 0;
    for (const uint16_t index : {uint16_t(89), uint16_t(0xFFFF)}) {
        for (const bool encoder : {false, true}) {
            SCOPED_TRACE(std::to_string(index) + (encoder ? " encoder" : " decoder"));
            VoiceCodecState limit;
            VoiceCodecState over;
            ZK_VOICE_DecReset(&limit, ZK_VOICE_IMA_ADPCM_RAW);
            ZK_VOICE_DecReset(&over, ZK_VOICE_IMA_ADPCM_RAW);
            limit.adpcm.step_index = 88;
            over.adpcm.step_index = index;
            Frame a = frame;
            Frame b = frame;
            if (encoder) {
                ASSERT_EQ(ZK_VOICE_EncodeFrame(&limit, speech_signal().data() + 4000, a.data(), 80), ZK_VOICE_OK);
                ASSERT_EQ(ZK_VOICE_EncodeFrame(&over, speech_signal().data() + 4000, b.data(), 80), ZK_VOICE_OK);
                EXPECT_EQ(a, b);
            } else {
                ASSERT_EQ(ZK_VOICE_DecodeFrame(&limit, a.data(), expected, &n), ZK_VOICE_OK);
                ASSERT_EQ(ZK_VOICE_DecodeFrame(&over, b.data(), out, &n), ZK_VOICE_OK);
                EXPECT_TRUE(std::equal(out, out + n, expected));
            }
            EXPECT_LE(over.adpcm.step_index, 88);
        }
    }
}

TEST(ImaAdpcmLimits, StateStaysInRangeOnRandomPayloads)
{
    VoiceCodecState dec;
    ZK_VOICE_DecReset(&dec, ZK_VOICE_IMA_ADPCM_RAW);
    Frame frame(4 + 510);
    int16_t out[ZK_VOICE_PCM_MAX];
    uint16_t n = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        fill_random(frame, seed);
        // Long runs of one sign drive the predictor into both limits.
        if (seed % 3 == 0)
            std::fill(frame.begin() + 4, frame.end(), seed % 2 ? 0x77 : 0xFF);
        frame[1] = 0x01;
        frame[2] = 255;
        ASSERT_EQ(ZK_VOICE_DecodeFrame(&dec, frame.data(), out, &n), ZK_VOICE_OK);
        ASSERT_LE(dec.adpcm.step_index, 88);
    }
    EXPECT_EQ(dec.adpcm.predictor, -32768);
}
