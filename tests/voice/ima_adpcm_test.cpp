// IMA ADPCM: the three layouts against spandsp's DVI4 and IMA4, block headers and the
// limits of predictor and step index.
#include <gtest/gtest.h>

extern "C" {
#include <spandsp.h>
}

#include <algorithm>
#include <memory>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

struct Layout {
    int16_t codec;
    int variant;
    int chunk_size;
    unsigned frame_samples;
    bool big_endian_predictor; // spandsp's DVI4 header; ours is little-endian
};

const Layout layouts[] = {
    {ZK_VOICE_IMA_ADPCM, IMA_ADPCM_DVI4, 0, 480, true},
    {ZK_VOICE_IMA_ADPCM_WAVE, IMA_ADPCM_IMA4, 0, 481, false},
    {ZK_VOICE_IMA_ADPCM_RAW, IMA_ADPCM_DVI4, 480, 480, false},
};

std::vector<uint8_t> as_spandsp(const Layout &layout, const Frame &frame)
{
    std::vector<uint8_t> payload(frame.begin() + header_bytes, frame.end());
    if (layout.big_endian_predictor)
        std::swap(payload[0], payload[1]);
    return payload;
}

} // namespace

TEST(ImaAdpcmSpandsp, SameCodesAndSamplesForEveryLayout)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Layout &layout : layouts) {
        SCOPED_TRACE(layout.codec);
        using Spandsp = std::unique_ptr<ima_adpcm_state_t, int (*)(ima_adpcm_state_t *)>;
        const Spandsp encoder(ima_adpcm_init(nullptr, layout.variant, layout.chunk_size), ima_adpcm_free);
        const Spandsp decoder(ima_adpcm_init(nullptr, layout.variant, layout.chunk_size), ima_adpcm_free);
        std::vector<Frame> frames = encode_stream(layout.codec, pcm, layout.frame_samples);
        for (size_t f = 0; f + 1 < frames.size(); ++f) {
            std::vector<uint8_t> theirs(ZK_VOICE_ENCODED_MAX_BYTES);
            theirs.resize(ima_adpcm_encode(encoder.get(), theirs.data(), pcm.data() + f * layout.frame_samples,
                                           int(layout.frame_samples)));
            ASSERT_EQ(as_spandsp(layout, frames[f]), theirs) << "frame " << f;
        }
        for (uint32_t seed = 1; seed <= 100; ++seed) {
            frames.push_back(random_frame(0x01, 255, seed));
            frames.back()[6] %= 89; // spandsp does not limit the header's step index
        }
        std::vector<int16_t> theirs;
        for (const Frame &frame : frames) {
            const std::vector<uint8_t> payload = as_spandsp(layout, frame);
            std::vector<int16_t> out(2 * payload.size() + 1);
            out.resize(ima_adpcm_decode(decoder.get(), out.data(), payload.data(), int(payload.size())));
            theirs.insert(theirs.end(), out.begin(), out.end());
        }
        EXPECT_EQ(decode_stream(layout.codec, frames), theirs);
    }
}

TEST(ImaAdpcmHeaders, WaveBlockStartsAtItsHeaderSampleWhateverTheState)
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
    EXPECT_EQ(out[0], speech_signal()[9 * 481]);
    EXPECT_EQ(std::vector<int16_t>(out, out + n), decode_stream(ZK_VOICE_IMA_ADPCM_WAVE, {frames[9]}));
}

TEST(ImaAdpcmHeaders, DviHeaderOfAnEmptyFrameStillSetsTheDecoder)
{
    VoiceCodecState state;
    ZK_VOICE_DecReset(&state, ZK_VOICE_IMA_ADPCM);
    Frame frame = {0x00, 0x01, 0x02, 0x00, 0x34, 0x92, 40, 0x00};
    int16_t pcm[1];
    uint16_t n = 1;
    EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, frame.data(), pcm, &n), ZK_VOICE_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(state.adpcm.predictor, int16_t(0x9234));
    EXPECT_EQ(state.adpcm.step_index, 40);
}

// An index beyond the table, from a block header or from a record, is read as 88; long
// runs of one sign drive the predictor into its limit.
TEST(ImaAdpcmLimits, StepIndexAndPredictorStayInRange)
{
    const Frame frame = random_frame(0x01, 42, 3);
    for (const int16_t codec : {ZK_VOICE_IMA_ADPCM, ZK_VOICE_IMA_ADPCM_WAVE}) {
        Frame limit = frame;
        limit[6] = 88;
        for (const uint8_t index : {89, 255}) {
            Frame over = frame;
            over[6] = index;
            EXPECT_EQ(decode_stream(codec, {over}), decode_stream(codec, {limit})) << codec;
        }
    }
    const auto from_record = [&](uint16_t index, bool encode) {
        VoiceCodecState s;
        ZK_VOICE_EncReset(&s, ZK_VOICE_IMA_ADPCM_RAW);
        s.adpcm.step_index = index;
        Frame f = frame;
        int16_t pcm[ZK_VOICE_PCM_MAX] = {};
        uint16_t n = 0;
        EXPECT_EQ(encode ? ZK_VOICE_EncodeFrame(&s, speech_signal().data() + 4000, f.data(), 80)
                         : ZK_VOICE_DecodeFrame(&s, f.data(), pcm, &n),
                  ZK_VOICE_OK);
        EXPECT_LE(s.adpcm.step_index, 88);
        return std::pair{f, std::vector<int16_t>(pcm, pcm + n)};
    };
    for (const uint16_t index : {uint16_t(89), uint16_t(0xFFFF)}) {
        for (const bool encode : {false, true})
            EXPECT_EQ(from_record(index, encode), from_record(88, encode)) << index;
    }
    VoiceCodecState dec;
    ZK_VOICE_DecReset(&dec, ZK_VOICE_IMA_ADPCM_RAW);
    int16_t out[ZK_VOICE_PCM_MAX];
    uint16_t n = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        Frame random = random_frame(0x01, 255, seed);
        if (seed % 3 == 0)
            std::fill(random.begin() + header_bytes, random.end(), seed % 2 ? 0x77 : 0xFF);
        ASSERT_EQ(ZK_VOICE_DecodeFrame(&dec, random.data(), out, &n), ZK_VOICE_OK);
        ASSERT_LE(dec.adpcm.step_index, 88);
    }
    EXPECT_EQ(dec.adpcm.predictor, -32768);
}
