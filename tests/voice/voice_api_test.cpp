// The exported API: version, resets, the frame header, sample counts and every
// error code in its order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

const int16_t supported[] = {1, 2, 3, 4, 5, 6, 7, 35, 36, 37, 38, 39, 65, 66, 67, 68};
const int16_t unsupported[] = {0, 8, 10, 11, 34, 40, 64, 69, 1000, 32767, -1, -32768};

constexpr uint8_t fill = 0xA5;

Frame header(uint8_t byte1, uint8_t words)
{
    Frame frame(4 + 2 * words, 0);
    frame[1] = byte1;
    frame[2] = words;
    return frame;
}

// Decodes into exactly sized heap buffers, so that the sanitizer sees any stray access.
struct Decoded {
    int32_t result;
    uint16_t samples;
};

Decoded decode_exact(VoiceCodecState *state, const Frame &frame, size_t pcm_room)
{
    auto bytes = std::make_unique<uint8_t[]>(frame.size());
    std::copy(frame.begin(), frame.end(), bytes.get());
    auto pcm = std::make_unique<int16_t[]>(std::max<size_t>(pcm_room, 1));
    uint16_t samples = 0xBEEF;
    const int32_t result = ZK_VOICE_DecodeFrame(state, bytes.get(), pcm.get(), &samples);
    return {result, samples};
}

Decoded decode_as(int16_t codec, const Frame &frame)
{
    VoiceCodecState state;
    ZK_VOICE_DecReset(&state, codec);
    return decode_exact(&state, frame, ZK_VOICE_PCM_MAX);
}

} // namespace

TEST(VoiceApi, VersionIsThirtyBytesWithItsZero)
{
    char buffer[40];
    std::memset(buffer, fill, sizeof buffer);
    ASSERT_EQ(ZK_VOICE_GetVersion(buffer), 0);
    EXPECT_STREQ(buffer, "Zokal_AUDIO_VERSION_V3.0.6.31");
    EXPECT_EQ(buffer[29], '\0');
    EXPECT_EQ(static_cast<uint8_t>(buffer[30]), fill);
    EXPECT_EQ(ZK_VOICE_GetVersion(nullptr), -1);
}

TEST(VoiceApi, StateRecordSizes)
{
    EXPECT_EQ(sizeof(VoiceG711State), 2u);
    EXPECT_EQ(sizeof(VoiceAdpcmState), 6u);
    EXPECT_EQ(sizeof(VoiceG726State), 102u);
    EXPECT_EQ(sizeof(VoiceAdaptive2State), 52u);
    EXPECT_EQ(sizeof(VoiceCodecState), 128u);
    EXPECT_EQ(sizeof(VoiceTransState), 2100u);
}

// A record of exactly the family's size sits at the end of a heap block, so that
// any write past it is caught; the bytes after it in a larger block stay as they were.
TEST(VoiceApi, ResetWritesOnlyTheFamilysBytes)
{
    struct Case {
        int16_t codec;
        size_t size;
    };
    for (const Case c : {Case{1, 2}, Case{66, 2}, Case{3, 6}, Case{35, 6}, Case{67, 6}, Case{4, 102},
                         Case{39, 102}, Case{68, 52}}) {
        SCOPED_TRACE(c.codec);
        for (const auto reset : {ZK_VOICE_EncReset, ZK_VOICE_DecReset}) {
            auto exact = std::make_unique<unsigned char[]>(c.size);
            ASSERT_EQ(reset(reinterpret_cast<VoiceCodecState *>(exact.get()), c.codec), ZK_VOICE_OK);
            std::vector<unsigned char> big(sizeof(VoiceCodecState), fill);
            ASSERT_EQ(reset(reinterpret_cast<VoiceCodecState *>(big.data()), c.codec), ZK_VOICE_OK);
            EXPECT_TRUE(std::all_of(big.begin() + c.size, big.end(), [](unsigned char b) { return b == fill; }));
        }
    }
}

TEST(VoiceApi, ResetStoresEveryIdentifierAndRefusesUnsupportedOnes)
{
    EXPECT_EQ(ZK_VOICE_EncReset(nullptr, 1), ZK_VOICE_E_NULL_STATE);
    EXPECT_EQ(ZK_VOICE_DecReset(nullptr, 1), ZK_VOICE_E_NULL_STATE);
    VoiceCodecState state;
    for (const int16_t codec : supported) {
        EXPECT_EQ(ZK_VOICE_EncReset(&state, codec), ZK_VOICE_OK) << codec;
        EXPECT_EQ(state.codec, codec);
        EXPECT_EQ(ZK_VOICE_DecReset(&state, codec), ZK_VOICE_OK) << codec;
    }
    for (const int16_t codec : unsupported) {
        state.codec = 1;
        EXPECT_EQ(ZK_VOICE_EncReset(&state, codec), ZK_VOICE_E_ENC_CODEC) << codec;
        EXPECT_EQ(state.codec, codec);
        state.codec = 1;
        EXPECT_EQ(ZK_VOICE_DecReset(&state, codec), ZK_VOICE_E_DEC_CODEC) << codec;
        EXPECT_EQ(state.codec, codec);
    }
}

TEST(VoiceApi, EncodeChecksInOrderAndWritesNothingOnFailure)
{
    struct Case {
        int16_t codec;
        uint16_t samples;
        int32_t expected;
    };
    const Case cases[] = {
        {1, 0, ZK_VOICE_E_ENC_SAMPLES},    {1, 1, ZK_VOICE_E_ENC_SAMPLES},
        {1, 79, ZK_VOICE_E_ENC_SAMPLES},   {1, 479, ZK_VOICE_E_ENC_SAMPLES},
        {1, 481, ZK_VOICE_E_ENC_SAMPLES},  {1, 482, ZK_VOICE_E_ENC_SAMPLES},
        {1, 560, ZK_VOICE_E_ENC_SAMPLES},  {1, 65535, ZK_VOICE_E_ENC_SAMPLES},
        {35, 480, ZK_VOICE_E_ENC_SAMPLES}, {35, 0, ZK_VOICE_E_ENC_SAMPLES},
        {35, 561, ZK_VOICE_E_ENC_SAMPLES}, {6, 81, ZK_VOICE_E_ENC_SAMPLES},
        // The count is checked before the identifier.
        {11, 479, ZK_VOICE_E_ENC_SAMPLES}, {11, 480, ZK_VOICE_E_ENC_CODEC},
        {0, 80, ZK_VOICE_E_ENC_CODEC},     {-1, 160, ZK_VOICE_E_ENC_CODEC},
        {69, 80, ZK_VOICE_E_ENC_CODEC},
    };
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.codec) + ", " + std::to_string(c.samples) + " samples");
        VoiceCodecState state;
        ZK_VOICE_EncReset(&state, c.codec);
        const VoiceCodecState before = state;
        Frame frame(ZK_VOICE_ENCODED_MAX_BYTES, fill);
        EXPECT_EQ(ZK_VOICE_EncodeFrame(&state, pcm.data(), frame.data(), c.samples), c.expected);
        EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == fill; }));
        EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0);
    }
    VoiceCodecState state;
    uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
    ZK_VOICE_EncReset(&state, 1);
    EXPECT_EQ(ZK_VOICE_EncodeFrame(nullptr, nullptr, nullptr, 0), ZK_VOICE_E_NULL_STATE);
    EXPECT_EQ(ZK_VOICE_EncodeFrame(&state, nullptr, nullptr, 0), ZK_VOICE_E_NULL_INPUT);
    EXPECT_EQ(ZK_VOICE_EncodeFrame(&state, pcm.data(), nullptr, 0), ZK_VOICE_E_NULL_OUTPUT);
    EXPECT_EQ(ZK_VOICE_EncodeFrame(&state, pcm.data(), frame, 0), ZK_VOICE_E_ENC_SAMPLES);
}

TEST(VoiceApi, EncodedFrameLengthsAndHeader)
{
    struct Case {
        int16_t codec;
        uint16_t samples;
        uint8_t words;
    };
    const Case cases[] = {
        {1, 480, 240}, {2, 80, 40},   {65, 160, 80}, {66, 480, 240}, {3, 80, 22},  {3, 480, 122},
        {35, 1, 2},    {35, 81, 22},  {35, 481, 122}, {67, 80, 20},  {67, 480, 120}, {4, 80, 10},
        {5, 80, 15},   {6, 80, 20},   {7, 80, 25},   {36, 480, 60},  {37, 480, 90}, {38, 160, 40},
        {39, 480, 150}, {68, 80, 10}, {68, 480, 60},
    };
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.codec) + ", " + std::to_string(c.samples) + " samples");
        VoiceCodecState state;
        ZK_VOICE_EncReset(&state, c.codec);
        Frame frame(ZK_VOICE_ENCODED_MAX_BYTES + 2, fill);
        ASSERT_EQ(ZK_VOICE_EncodeFrame(&state, pcm.data() + 8000, frame.data(), c.samples), ZK_VOICE_OK);
        EXPECT_EQ(frame[0], 0x00);
        EXPECT_EQ(frame[1], 0x01);
        EXPECT_EQ(frame[2], c.words);
        EXPECT_EQ(frame[3], 0x00);
        EXPECT_TRUE(std::all_of(frame.begin() + 4 + 2 * c.words, frame.end(), [](uint8_t b) { return b == fill; }));
        frame.resize(4 + 2 * c.words);
        EXPECT_EQ(decode_as(c.codec, frame).samples, c.samples);
    }
}

TEST(VoiceApi, DecodeChecksInOrder)
{
    struct Case {
        int16_t codec;
        uint8_t byte1;
        uint8_t words;
        int32_t expected;
        uint16_t samples;
    };
    const Case cases[] = {
        {1, 0x01, 40, ZK_VOICE_OK, 80},     {1, 0x05, 40, ZK_VOICE_OK, 80},
        {1, 0xFD, 240, ZK_VOICE_OK, 480},   {1, 0x00, 40, ZK_VOICE_E_DEC_MARKER, 0},
        {1, 0x02, 40, ZK_VOICE_E_DEC_MARKER, 0}, {1, 0x03, 40, ZK_VOICE_E_DEC_MARKER, 0},
        {1, 0x01, 0, ZK_VOICE_E_DEC_LENGTH, 0},  {1, 0x02, 0, ZK_VOICE_E_DEC_MARKER, 0},
        {2, 0x01, 241, ZK_VOICE_E_DEC_LENGTH, 0}, {66, 0x01, 41, ZK_VOICE_E_DEC_LENGTH, 0},
        {65, 0x01, 255, ZK_VOICE_E_DEC_LENGTH, 0},
        {3, 0x01, 1, ZK_VOICE_E_DEC_LENGTH, 0},  {35, 0x01, 1, ZK_VOICE_E_DEC_LENGTH, 0},
        {67, 0x01, 1, ZK_VOICE_E_DEC_LENGTH, 0}, {3, 0x01, 2, ZK_VOICE_OK, 0},
        {35, 0x01, 2, ZK_VOICE_OK, 1},        {67, 0x01, 2, ZK_VOICE_OK, 8},
        {3, 0x01, 255, ZK_VOICE_OK, 1012},    {35, 0x01, 255, ZK_VOICE_OK, 1013},
        {67, 0x01, 255, ZK_VOICE_OK, 1020},   {3, 0x01, 23, ZK_VOICE_OK, 84},
        {5, 0x01, 15, ZK_VOICE_OK, 80},       {5, 0x01, 16, ZK_VOICE_E_DEC_LENGTH, 0},
        {37, 0x01, 90, ZK_VOICE_OK, 480},     {7, 0x01, 25, ZK_VOICE_OK, 80},
        {39, 0x01, 30, ZK_VOICE_E_DEC_LENGTH, 0}, {4, 0x01, 60, ZK_VOICE_OK, 480},
        {36, 0x01, 70, ZK_VOICE_E_DEC_LENGTH, 0}, {6, 0x01, 20, ZK_VOICE_OK, 80},
        {38, 0x01, 21, ZK_VOICE_E_DEC_LENGTH, 0}, {68, 0x01, 10, ZK_VOICE_OK, 80},
        {68, 0x01, 60, ZK_VOICE_OK, 480},     {68, 0x01, 61, ZK_VOICE_E_DEC_LENGTH, 0},
        {68, 0x01, 15, ZK_VOICE_E_DEC_LENGTH, 0},
        // An unsupported identifier is found only after the header checks.
        {10, 0x01, 40, ZK_VOICE_E_DEC_CODEC, 0}, {11, 0x00, 40, ZK_VOICE_E_DEC_MARKER, 0},
        {11, 0x01, 0, ZK_VOICE_E_DEC_LENGTH, 0}, {69, 0x01, 1, ZK_VOICE_E_DEC_CODEC, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.codec) + ", byte 1 " + std::to_string(c.byte1) + ", L " +
                     std::to_string(c.words));
        VoiceCodecState state;
        ZK_VOICE_DecReset(&state, c.codec);
        const VoiceCodecState before = state;
        Frame frame = header(c.byte1, c.words);
        frame[0] = 0xEE;
        frame[3] = 0x77;
        const Decoded d = decode_exact(&state, frame, c.samples);
        EXPECT_EQ(d.result, c.expected);
        EXPECT_EQ(d.samples, c.samples);
        if (c.expected != ZK_VOICE_OK) {
            EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0);
        }
    }
}

TEST(VoiceApi, DecodeNullPointers)
{
    VoiceCodecState state;
    ZK_VOICE_DecReset(&state, 1);
    Frame frame = header(0x01, 40);
    int16_t pcm[480];
    uint16_t samples = 7;
    EXPECT_EQ(ZK_VOICE_DecodeFrame(nullptr, frame.data(), pcm, &samples), ZK_VOICE_E_NULL_STATE);
    EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, nullptr, pcm, &samples), ZK_VOICE_E_NULL_INPUT);
    EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, frame.data(), nullptr, &samples), ZK_VOICE_E_NULL_OUTPUT);
    EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, frame.data(), pcm, nullptr), ZK_VOICE_E_NULL_OUTPUT);
    EXPECT_EQ(samples, 7);
}

TEST(VoiceApi, DviHeaderOfAnEmptyFrameStillSetsTheDecoder)
{
    VoiceCodecState state;
    ZK_VOICE_DecReset(&state, ZK_VOICE_IMA_ADPCM);
    const Frame frame = {0x00, 0x01, 0x02, 0x00, 0x34, 0x92, 40, 0x00};
    const Decoded d = decode_exact(&state, frame, 0);
    EXPECT_EQ(d.result, ZK_VOICE_OK);
    EXPECT_EQ(d.samples, 0);
    EXPECT_EQ(state.adpcm.predictor, int16_t(0x9234));
    EXPECT_EQ(state.adpcm.step_index, 40);
}
