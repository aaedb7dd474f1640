// Frame transcoding: the four modes against decoding and encoding by hand, and the
// frames that cannot convert, which must come back unchanged with the failing code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

// Record and frame buffer on the heap at their exact sizes (2100 and the 484 bytes a
// caller must offer), so that the sanitizer sees any access past them. The frame comes
// back at its old or its new length, whichever is longer.
struct Transcoder {
    std::unique_ptr<VoiceTransState> record = std::make_unique<VoiceTransState>();
    explicit Transcoder(int16_t mode) { EXPECT_EQ(ZK_VOICE_TransCodeReset(record.get(), mode), ZK_VOICE_OK); }
    int32_t convert(Frame &frame)
    {
        Frame buffer(ZK_VOICE_ENCODED_MAX_BYTES, 0xA5);
        std::copy(frame.begin(), frame.end(), buffer.begin());
        const int32_t result = ZK_VOICE_TransCodeFrame(record.get(), buffer.data());
        const size_t size = std::max<size_t>(frame.size(), 4 + 2 * buffer[2]);
        frame.assign(buffer.begin(), buffer.begin() + std::min(size, buffer.size()));
        return result;
    }
};

Frame random_frame(uint8_t byte1, uint8_t words)
{
    Frame frame(std::min(4 + 2 * words, int(ZK_VOICE_ENCODED_MAX_BYTES)));
    fill_random(frame, words);
    frame[1] = byte1;
    frame[2] = words;
    return frame;
}

} // namespace

TEST(TransCodeApi, ResetAndArgumentChecks)
{
    const int16_t modes[] = {97, 98, 99, 100};
    for (int16_t i = 0; i < 4; ++i) {
        Transcoder t(modes[i]);
        EXPECT_EQ(t.record->decoder.codec, 65 + i);
        EXPECT_EQ(t.record->encoder.state.codec, 1 + i);
    }
    EXPECT_EQ(ZK_VOICE_TransCodeReset(nullptr, 100), ZK_VOICE_E_TRANS_RECORD);
    VoiceTransState record;
    std::memset(&record, 0, sizeof record);
    for (const int16_t mode : {0, 68, 96, 101, -1})
        EXPECT_EQ(ZK_VOICE_TransCodeReset(&record, mode), ZK_VOICE_E_TRANS_MODE) << mode;
    const VoiceTransState zeros{};
    EXPECT_EQ(std::memcmp(&record, &zeros, sizeof record), 0);

    Frame frame = random_frame(0x01, 40);
    EXPECT_EQ(ZK_VOICE_TransCodeFrame(nullptr, frame.data()), ZK_VOICE_E_TRANS_RECORD);
    EXPECT_EQ(ZK_VOICE_TransCodeFrame(&record, nullptr), ZK_VOICE_E_NULL_INPUT);
    EXPECT_EQ(ZK_VOICE_TransCodeFrame(&record, frame.data()), ZK_VOICE_E_TRANS_MODE);
    ZK_VOICE_EncReset(&record.encoder.state, ZK_VOICE_G726_24);
    EXPECT_EQ(ZK_VOICE_TransCodeFrame(&record, frame.data()), ZK_VOICE_E_TRANS_MODE);
}

TEST(TransCodeSwap, SwappedG711BecomesPlainAndTheHeaderIsLeftAlone)
{
    for (const int16_t mode : {97, 98}) {
        Transcoder t(mode);
        const std::vector<Frame> plain = encode_stream(int16_t(mode - 96), speech_signal(), 480);
        const std::vector<Frame> swapped = encode_stream(int16_t(mode - 32), speech_signal(), 480);
        for (size_t f = 0; f < swapped.size(); ++f) {
            Frame frame = swapped[f];
            ASSERT_EQ(t.convert(frame), ZK_VOICE_OK);
            ASSERT_EQ(frame, plain[f]) << "mode " << mode << ", frame " << f;
        }
    }
    Transcoder t(97);
    Frame frame = {0x7E, 0x00, 0x01, 0x33, 0xAA, 0xD5};
    ASSERT_EQ(t.convert(frame), ZK_VOICE_OK);
    EXPECT_EQ(frame, (Frame{0x7E, 0x00, 0x01, 0x33, 0xD5, 0xAA}));
    const Frame original = random_frame(0x02, 240);
    frame = original;
    ASSERT_EQ(t.convert(frame), ZK_VOICE_OK);
    ASSERT_EQ(t.convert(frame), ZK_VOICE_OK);
    EXPECT_EQ(frame, original);
    const Frame empty = {0x00, 0x01, 0x00, 0x00, 0x12, 0x34};
    frame = empty;
    ASSERT_EQ(t.convert(frame), ZK_VOICE_OK);
    EXPECT_EQ(frame, empty);
}

// The target frame is what decoding and encoding by hand give; for mode 99 its block
// header holds the encoder's state before the frame, and mode 100 keeps L and decodes as 4.
TEST(TransCodeReencode, EqualsDecodingAndEncodingByHand)
{
    for (const auto &[mode, from, to, target_words] :
         {std::tuple{99, 67, 3, 22}, std::tuple{100, 68, 4, 10}}) {
        Transcoder t(static_cast<int16_t>(mode));
        VoiceCodecState dec;
        VoiceCodecState enc;
        ZK_VOICE_DecReset(&dec, int16_t(from));
        ZK_VOICE_EncReset(&enc, int16_t(to));
        std::vector<Frame> converted;
        for (const Frame &source : encode_stream(int16_t(from), speech_signal(), 80)) {
            const VoiceAdpcmState before = enc.adpcm;
            Frame by_hand = source;
            int16_t pcm[ZK_VOICE_PCM_MAX];
            uint16_t n = 0;
            ASSERT_EQ(ZK_VOICE_DecodeFrame(&dec, by_hand.data(), pcm, &n), ZK_VOICE_OK);
            by_hand.resize(ZK_VOICE_ENCODED_MAX_BYTES);
            ASSERT_EQ(ZK_VOICE_EncodeFrame(&enc, pcm, by_hand.data(), n), ZK_VOICE_OK);
            by_hand.resize(4 + 2 * target_words);

            Frame frame = source;
            ASSERT_EQ(t.convert(frame), ZK_VOICE_OK);
            ASSERT_EQ(frame, by_hand);
            if (mode == 99) {
                ASSERT_TRUE(int16_t(frame[4] | frame[5] << 8) == before.predictor &&
                            frame[6] == before.step_index);
            }
            converted.push_back(frame);
        }
        if (mode == 100) {
            EXPECT_EQ(decode_stream(ZK_VOICE_G726_16, converted).size(), speech_signal().size());
        }
    }
}

TEST(TransCodeFailure, UnconvertibleFramesStayUnchangedWithTheFailingCode)
{
    struct Case {
        int16_t mode;
        uint8_t byte1;
        uint8_t words;
        int32_t expected;
    };
    const Case cases[] = {
        // The encoder refuses the count (240 words decode to 960 samples of scratch).
        {99, 0x01, 21, ZK_VOICE_E_ENC_SAMPLES},  {99, 0x01, 240, ZK_VOICE_E_ENC_SAMPLES},
        // The decoder refuses the frame.
        {99, 0x01, 1, ZK_VOICE_E_DEC_LENGTH},    {99, 0x02, 20, ZK_VOICE_E_DEC_MARKER},
        {100, 0x01, 11, ZK_VOICE_E_DEC_LENGTH},  {100, 0x00, 10, ZK_VOICE_E_DEC_MARKER},
        {100, 0x01, 0, ZK_VOICE_E_DEC_LENGTH},
        // Longer than any target frame: refused before a byte past 484 is read.
        {97, 0x01, 241, ZK_VOICE_E_DEC_LENGTH},  {98, 0x00, 255, ZK_VOICE_E_DEC_LENGTH},
        {99, 0x01, 255, ZK_VOICE_E_DEC_LENGTH},  {100, 0x01, 250, ZK_VOICE_E_DEC_LENGTH},
    };
    for (const Case &c : cases) {
        Transcoder t(c.mode);
        Frame frame = random_frame(c.byte1, c.words);
        const Frame original = frame;
        EXPECT_EQ(t.convert(frame), c.expected) << "mode " << c.mode << ", L " << int(c.words);
        EXPECT_EQ(frame, original) << "mode " << c.mode << ", L " << int(c.words);
    }
}
