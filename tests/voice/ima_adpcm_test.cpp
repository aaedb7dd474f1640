// IMA ADPCM: the three layouts against spandsp's DVI4 and IMA4, block headers and the
// limits of predictor and step index.
#include <gtest/gtest.h>

#ifdef RECMUX_WITH_SPANDSP
extern "C" {
#include <spandsp.h>
}
#endif

#include <algorithm>
#include <memory>

#include "voice_test_support.h"

using namespace voice_test;

#ifdef RECMUX_WITH_SPANDSP
namespace {

struct Layout {
    int16_t codec;
    int variant, chunk_size;
    unsigned frame_samples;
    bool big_endian_predictor; // spandsp's DVI4 header; ours is little-endian
};

const Layout layouts[] = {{ZK_VOICE_IMA_ADPCM, IMA_ADPCM_DVI4, 0, 480, true},
                          {ZK_VOICE_IMA_ADPCM_WAVE, IMA_ADPCM_IMA4, 0, 481, false},
                          {ZK_VOICE_IMA_ADPCM_RAW, IMA_ADPCM_DVI4, 480, 480, false}};

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
#endif

TEST(ImaAdpcmHeaders, WaveBlockStartsAtItsHeaderSampleWhateverTheState)
{
    const Frame frame = encode_stream(ZK_VOICE_IMA_ADPCM_WAVE, speech_signal(), 481)[9];
    const auto scribble = [](VoiceCodecState &s) { s.adpcm.predictor = 31000, s.adpcm.step_index = 60; };
    const std::vector<int16_t> decoded = decode_stream(ZK_VOICE_IMA_ADPCM_WAVE, {frame}, scribble);
    EXPECT_EQ(decoded[0], speech_signal()[9 * 481]);
    EXPECT_EQ(decoded, decode_stream(ZK_VOICE_IMA_ADPCM_WAVE, {frame}));
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
    const auto index = [](uint16_t i) { return [i](VoiceCodecState &s) { s.adpcm.step_index = i; }; };
    const std::vector<int16_t> pcm(speech_signal().begin() + 4000, speech_signal().begin() + 4080);
    for (const uint8_t over : {89, 255}) {
        for (const int16_t codec : {ZK_VOICE_IMA_ADPCM, ZK_VOICE_IMA_ADPCM_WAVE}) {
            Frame limit = frame, beyond = frame;
            limit[6] = 88;
            beyond[6] = over;
            EXPECT_EQ(decode_stream(codec, {beyond}), decode_stream(codec, {limit})) << codec;
        }
        const uint16_t record_index = over == 89 ? 89 : 0xFFFF;
        EXPECT_EQ(decode_stream(ZK_VOICE_IMA_ADPCM_RAW, {frame}, index(record_index)),
                  decode_stream(ZK_VOICE_IMA_ADPCM_RAW, {frame}, index(88)));
        EXPECT_EQ(encode_stream(ZK_VOICE_IMA_ADPCM_RAW, pcm, 80, index(record_index)),
                  encode_stream(ZK_VOICE_IMA_ADPCM_RAW, pcm, 80, index(88)));
    }
    std::vector<Frame> frames;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        frames.push_back(random_frame(0x01, 255, seed));
        if (seed % 3 == 0)
            std::fill(frames.back().begin() + header_bytes, frames.back().end(), seed % 2 ? 0x77 : 0xFF);
    }
    frames.push_back(frames.back());
    int16_t predictor = 0;
    decode_stream(ZK_VOICE_IMA_ADPCM_RAW, frames, [&](VoiceCodecState &s) {
        EXPECT_LE(s.adpcm.step_index, 88);
        predictor = s.adpcm.predictor;
    });
    EXPECT_EQ(predictor, -32768);
}
