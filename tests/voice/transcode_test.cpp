// Frame transcoding against decoding and encoding by hand; the frames that cannot
// convert are in the API test.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

// Converts a copy in a buffer of the 484 bytes a caller must offer, on the heap so that
// the sanitizer sees any access past it; returns the frame at its new length.
Frame convert(VoiceTransState &record, const Frame &frame)
{
    auto buffer = std::make_unique<uint8_t[]>(ZK_VOICE_ENCODED_MAX_BYTES);
    std::copy(frame.begin(), frame.end(), buffer.get());
    EXPECT_EQ(ZK_VOICE_TransCodeFrame(&record, buffer.get()), ZK_VOICE_OK);
    return Frame(buffer.get(), buffer.get() + header_bytes + 2 * buffer[2]);
}

} // namespace

// The header is left alone, even when it is not a valid one.
TEST(TransCode, SwappedG711BecomesPlain)
{
    const auto record = std::make_unique<VoiceTransState>();
    for (const auto &[mode, from, to] :
         {std::tuple{ZK_VOICE_TRANS_ALAW_SWAPPED, ZK_VOICE_G711_ALAW_SWAPPED, ZK_VOICE_G711_ALAW},
          std::tuple{ZK_VOICE_TRANS_ULAW_SWAPPED, ZK_VOICE_G711_ULAW_SWAPPED, ZK_VOICE_G711_ULAW}}) {
        ASSERT_EQ(ZK_VOICE_TransCodeReset(record.get(), int16_t(mode)), ZK_VOICE_OK);
        const std::vector<Frame> plain = encode_stream(int16_t(to), speech_signal(), 480);
        const std::vector<Frame> swapped = encode_stream(int16_t(from), speech_signal(), 480);
        for (size_t f = 0; f < swapped.size(); ++f)
            ASSERT_EQ(convert(*record, swapped[f]), plain[f]) << "mode " << mode << ", frame " << f;
    }
    EXPECT_EQ(convert(*record, {0x7E, 0x00, 0x01, 0x33, 0xAA, 0xD5}), (Frame{0x7E, 0x00, 0x01, 0x33, 0xD5, 0xAA}));
}

// For mode 99 the block header holds the encoder's state before the frame; mode 100
// keeps the length and its frames decode as identifier 4.
TEST(TransCode, ReencodingEqualsDecodingAndEncodingByHand)
{
    for (const auto &[mode, from, to] :
         {std::tuple{ZK_VOICE_TRANS_ADPCM_RAW, ZK_VOICE_IMA_ADPCM_RAW, ZK_VOICE_IMA_ADPCM},
          std::tuple{ZK_VOICE_TRANS_ADAPTIVE2, ZK_VOICE_ADAPTIVE2, ZK_VOICE_G726_16}}) {
        SCOPED_TRACE(mode);
        const auto record = std::make_unique<VoiceTransState>();
        ASSERT_EQ(ZK_VOICE_TransCodeReset(record.get(), int16_t(mode)), ZK_VOICE_OK);
        const std::vector<Frame> sources = encode_stream(int16_t(from), speech_signal(), 80);
        std::vector<VoiceAdpcmState> before;
        const std::vector<Frame> by_hand = encode_stream(int16_t(to), decode_stream(int16_t(from), sources), 80,
                                                         [&](VoiceCodecState &s) { before.push_back(s.adpcm); });
        for (size_t f = 0; f < sources.size(); ++f) {
            const Frame converted = convert(*record, sources[f]);
            ASSERT_EQ(converted, by_hand[f]) << "frame " << f;
            const VoiceAdpcmState &b = before[f];
            if (mode == ZK_VOICE_TRANS_ADPCM_RAW)
                ASSERT_EQ(Frame(converted.begin() + 4, converted.begin() + 7),
                          (Frame{uint8_t(b.predictor), uint8_t(b.predictor >> 8), uint8_t(b.step_index)}));
            else
                ASSERT_EQ(converted[2], sources[f][2]);
        }
        EXPECT_EQ(decode_stream(int16_t(to), by_hand).size(), speech_signal().size());
    }
}
