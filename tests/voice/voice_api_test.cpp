// The exported API: every function against every kind of bad argument, and the frame
// lengths of the good ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

constexpr uint8_t mark = 0xA5;

// Everything a call may write to, marked so that a stray write shows.
struct Arena {
    VoiceCodecState state;
    VoiceTransState record;
    uint8_t frame[ZK_VOICE_FRAME_MAX_BYTES];
    int16_t pcm[ZK_VOICE_PCM_MAX];
    uint16_t samples;
    char version[ZK_VOICE_VERSION_BYTES + 2];
};

using Step = std::function<void(Arena &)>;

struct Case {
    std::string what;
    std::function<int32_t(Arena &)> call;
    int32_t expected;
    Step prepare = [](Arena &) {};
    // Applies to the arena before the call what the failing call may change in it.
    std::function<void(Arena &before, const Arena &after)> effect = [](Arena &, const Arena &) {};
};

void set_header(Arena &a, uint8_t byte1, uint8_t words)
{
    a.frame[0] = 0x00;
    a.frame[1] = byte1;
    a.frame[2] = words;
    a.frame[3] = 0x00;
}

// The state is reset for codec first, outside what the case checks.
Case encode(int16_t codec, uint16_t samples, int32_t expected)
{
    return {"encode " + std::to_string(codec) + " x " + std::to_string(samples),
            [=](Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, a.pcm, a.frame, samples); }, expected,
            [=](Arena &a) { ZK_VOICE_EncReset(&a.state, codec); }};
}

// A failed decode says 0 samples.
Case decode(int16_t codec, uint8_t byte1, uint8_t words, int32_t expected)
{
    return {"decode " + std::to_string(codec) + ", byte 1 " + std::to_string(byte1) + ", L " + std::to_string(words),
            [](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, a.frame, a.pcm, &a.samples); }, expected,
            [=](Arena &a) {
                ZK_VOICE_DecReset(&a.state, codec);
                set_header(a, byte1, words);
            },
            [](Arena &a, const Arena &) { a.samples = 0; }};
}

// Only the frame is promised unchanged: a frame the encoder refuses has gone through the
// decoder.
Case transcode(int16_t mode, uint8_t byte1, uint8_t words, int32_t expected)
{
    return {"transcode " + std::to_string(mode) + ", byte 1 " + std::to_string(byte1) + ", L " + std::to_string(words),
            [](Arena &a) { return ZK_VOICE_TransCodeFrame(&a.record, a.frame); }, expected,
            [=](Arena &a) {
                ZK_VOICE_TransCodeReset(&a.record, mode);
                set_header(a, byte1, words);
            },
            [=](Arena &before, const Arena &after) {
                if (expected == ZK_VOICE_E_ENC_SAMPLES)
                    before.record.decoder = after.record.decoder;
            }};
}

// An unsupported identifier is stored all the same.
Case reset(bool encoder, int16_t codec)
{
    return {(encoder ? "encoder reset " : "decoder reset ") + std::to_string(codec),
            [=](Arena &a) { return (encoder ? ZK_VOICE_EncReset : ZK_VOICE_DecReset)(&a.state, codec); },
            encoder ? ZK_VOICE_E_ENC_CODEC : ZK_VOICE_E_DEC_CODEC, [](Arena &) {},
            [=](Arena &a, const Arena &) { a.state.codec = codec; }};
}

std::vector<Case> bad_arguments()
{
    std::vector<Case> cases = {
        {"version into null", [](Arena &) { return ZK_VOICE_GetVersion(nullptr); }, -1},
        {"encoder reset of null", [](Arena &) { return ZK_VOICE_EncReset(nullptr, 1); }, ZK_VOICE_E_NULL_STATE},
        {"decoder reset of null", [](Arena &) { return ZK_VOICE_DecReset(nullptr, 1); }, ZK_VOICE_E_NULL_STATE},
        {"encode null state", [](Arena &a) { return ZK_VOICE_EncodeFrame(nullptr, a.pcm, a.frame, 80); },
         ZK_VOICE_E_NULL_STATE},
        {"encode null pcm", [](Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, nullptr, a.frame, 80); },
         ZK_VOICE_E_NULL_INPUT},
        {"encode into null", [](Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, a.pcm, nullptr, 80); },
         ZK_VOICE_E_NULL_OUTPUT},
        {"encode, never reset", [](Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, a.pcm, a.frame, 80); },
         ZK_VOICE_E_ENC_CODEC},
        {"decode null state", [](Arena &a) { return ZK_VOICE_DecodeFrame(nullptr, a.frame, a.pcm, &a.samples); },
         ZK_VOICE_E_NULL_STATE},
        {"decode null frame", [](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, nullptr, a.pcm, &a.samples); },
         ZK_VOICE_E_NULL_INPUT},
        {"decode into null", [](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, a.frame, nullptr, &a.samples); },
         ZK_VOICE_E_NULL_OUTPUT},
        {"decode null count", [](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, a.frame, a.pcm, nullptr); },
         ZK_VOICE_E_NULL_OUTPUT},
        {"decode, never reset", [](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, a.frame, a.pcm, &a.samples); },
         ZK_VOICE_E_DEC_CODEC, [](Arena &a) { set_header(a, 0x01, 40); }, [](Arena &a, const Arena &) { a.samples = 0; }},
        {"transcoder reset of null", [](Arena &) { return ZK_VOICE_TransCodeReset(nullptr, 100); },
         ZK_VOICE_E_TRANS_RECORD},
        {"transcode null record", [](Arena &a) { return ZK_VOICE_TransCodeFrame(nullptr, a.frame); },
         ZK_VOICE_E_TRANS_RECORD},
        {"transcode null frame", [](Arena &a) { return ZK_VOICE_TransCodeFrame(&a.record, nullptr); },
         ZK_VOICE_E_NULL_INPUT},
        {"transcode, never reset", [](Arena &a) { return ZK_VOICE_TransCodeFrame(&a.record, a.frame); },
         ZK_VOICE_E_TRANS_MODE},
        {"transcode to G.726-24", [](Arena &a) { return ZK_VOICE_TransCodeFrame(&a.record, a.frame); },
         ZK_VOICE_E_TRANS_MODE, [](Arena &a) { ZK_VOICE_EncReset(&a.record.encoder.state, ZK_VOICE_G726_24); }},
        // Counts: not a multiple of 80, 0, above 480; identifier 35 wants one more.
        encode(ZK_VOICE_G711_ALAW, 0, ZK_VOICE_E_ENC_SAMPLES), encode(ZK_VOICE_G711_ALAW, 1, ZK_VOICE_E_ENC_SAMPLES),
        encode(ZK_VOICE_G711_ALAW, 79, ZK_VOICE_E_ENC_SAMPLES), encode(ZK_VOICE_G711_ALAW, 481, ZK_VOICE_E_ENC_SAMPLES),
        encode(ZK_VOICE_G711_ALAW, 560, ZK_VOICE_E_ENC_SAMPLES), encode(ZK_VOICE_G711_ALAW, 65535, ZK_VOICE_E_ENC_SAMPLES),
        encode(ZK_VOICE_G726_32, 81, ZK_VOICE_E_ENC_SAMPLES), encode(ZK_VOICE_ADAPTIVE2, 479, ZK_VOICE_E_ENC_SAMPLES),
        encode(ZK_VOICE_IMA_ADPCM_WAVE, 0, ZK_VOICE_E_ENC_SAMPLES),
        encode(ZK_VOICE_IMA_ADPCM_WAVE, 480, ZK_VOICE_E_ENC_SAMPLES),
        encode(ZK_VOICE_IMA_ADPCM_WAVE, 561, ZK_VOICE_E_ENC_SAMPLES),
        // The count is checked before the identifier.
        encode(11, 479, ZK_VOICE_E_ENC_SAMPLES), encode(11, 480, ZK_VOICE_E_ENC_CODEC),
        encode(-1, 160, ZK_VOICE_E_ENC_CODEC),
        // Only the two low bits of byte 1 count; then the length, then the identifier.
        decode(ZK_VOICE_G711_ALAW, 0x00, 40, ZK_VOICE_E_DEC_MARKER),
        decode(ZK_VOICE_G711_ALAW, 0x02, 40, ZK_VOICE_E_DEC_MARKER),
        decode(ZK_VOICE_G711_ALAW, 0xFF, 40, ZK_VOICE_E_DEC_MARKER),
        decode(ZK_VOICE_G711_ALAW, 0x02, 0, ZK_VOICE_E_DEC_MARKER),
        decode(ZK_VOICE_G711_ALAW, 0x01, 0, ZK_VOICE_E_DEC_LENGTH), decode(11, 0x00, 40, ZK_VOICE_E_DEC_MARKER),
        decode(11, 0x01, 0, ZK_VOICE_E_DEC_LENGTH), decode(69, 0x01, 1, ZK_VOICE_E_DEC_CODEC),
        // Lengths that are no whole frame of the codec, or longer than 480 samples.
        decode(ZK_VOICE_G711_ULAW, 0x01, 241, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_G711_ULAW_SWAPPED, 0x01, 41, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_G711_ALAW_SWAPPED, 0x01, 255, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_G726_24, 0x01, 16, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_G726_40_MSB, 0x01, 30, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_G726_16_MSB, 0x01, 70, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_G726_32_MSB, 0x01, 21, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_ADAPTIVE2, 0x01, 61, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_ADAPTIVE2, 0x01, 15, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_IMA_ADPCM, 0x01, 1, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_IMA_ADPCM_WAVE, 0x01, 1, ZK_VOICE_E_DEC_LENGTH),
        decode(ZK_VOICE_IMA_ADPCM_RAW, 0x01, 1, ZK_VOICE_E_DEC_LENGTH),
        // A frame that cannot convert stays as it was, with the failing step's code; one
        // longer than any target frame is refused before a byte past 484 is read.
        transcode(ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 21, ZK_VOICE_E_ENC_SAMPLES),
        transcode(ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 240, ZK_VOICE_E_ENC_SAMPLES),
        transcode(ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 1, ZK_VOICE_E_DEC_LENGTH),
        transcode(ZK_VOICE_TRANS_ADPCM_RAW, 0x02, 20, ZK_VOICE_E_DEC_MARKER),
        transcode(ZK_VOICE_TRANS_ADAPTIVE2, 0x01, 11, ZK_VOICE_E_DEC_LENGTH),
        transcode(ZK_VOICE_TRANS_ADAPTIVE2, 0x00, 10, ZK_VOICE_E_DEC_MARKER),
        transcode(ZK_VOICE_TRANS_ADAPTIVE2, 0x01, 0, ZK_VOICE_E_DEC_LENGTH),
        transcode(ZK_VOICE_TRANS_ALAW_SWAPPED, 0x01, 241, ZK_VOICE_E_DEC_LENGTH),
        transcode(ZK_VOICE_TRANS_ULAW_SWAPPED, 0x00, 255, ZK_VOICE_E_DEC_LENGTH),
        transcode(ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 255, ZK_VOICE_E_DEC_LENGTH),
        transcode(ZK_VOICE_TRANS_ADAPTIVE2, 0x01, 250, ZK_VOICE_E_DEC_LENGTH),
    };
    for (const int16_t codec : {0, 8, 34, 40, 64, 69, 97, 32767, -1, -32768}) {
        cases.push_back(reset(true, codec));
        cases.push_back(reset(false, codec));
    }
    for (const int16_t mode : {0, 68, 96, 101, -1}) {
        cases.push_back({"transcoder reset " + std::to_string(mode),
                         [=](Arena &a) { return ZK_VOICE_TransCodeReset(&a.record, mode); },
                         ZK_VOICE_E_TRANS_MODE});
    }
    return cases;
}

} // namespace

TEST(VoiceApi, EveryBadArgumentFailsWithItsCodeAndTouchesNothing)
{
    for (const Case &c : bad_arguments()) {
        SCOPED_TRACE(c.what);
        const auto arena = std::make_unique<Arena>();
        const auto before = std::make_unique<Arena>();
        std::memset(arena.get(), mark, sizeof(Arena));
        c.prepare(*arena);
        std::memcpy(before.get(), arena.get(), sizeof(Arena));
        EXPECT_EQ(c.call(*arena), c.expected);
        c.effect(*before, *arena);
        EXPECT_EQ(std::memcmp(arena.get(), before.get(), sizeof(Arena)), 0);
    }
}

TEST(VoiceApi, VersionFillsItsBytesAndNoMore)
{
    Arena a;
    std::memset(a.version, mark, sizeof a.version);
    ASSERT_EQ(ZK_VOICE_GetVersion(a.version), ZK_VOICE_OK);
    EXPECT_EQ(std::strlen(a.version), ZK_VOICE_VERSION_BYTES - 1u);
    EXPECT_EQ(uint8_t(a.version[ZK_VOICE_VERSION_BYTES]), mark);
}

// A record of exactly the family's size sits at the end of a heap block, so that the
// sanitizer sees any write past it; in a larger record the bytes after it stay.
TEST(VoiceApi, ResetWritesOnlyTheFamilysBytes)
{
    for (const auto &[codec, size] :
         {std::pair{ZK_VOICE_G711_ALAW, sizeof(VoiceG711State)}, {ZK_VOICE_G711_ULAW_SWAPPED, sizeof(VoiceG711State)},
          {ZK_VOICE_IMA_ADPCM, sizeof(VoiceAdpcmState)}, {ZK_VOICE_IMA_ADPCM_WAVE, sizeof(VoiceAdpcmState)},
          {ZK_VOICE_IMA_ADPCM_RAW, sizeof(VoiceAdpcmState)}, {ZK_VOICE_G726_16, sizeof(VoiceG726State)},
          {ZK_VOICE_G726_40_MSB, sizeof(VoiceG726State)}, {ZK_VOICE_ADAPTIVE2, sizeof(VoiceAdaptive2State)}}) {
        SCOPED_TRACE(codec);
        for (const auto reset : {ZK_VOICE_EncReset, ZK_VOICE_DecReset}) {
            auto exact = std::make_unique<unsigned char[]>(size);
            ASSERT_EQ(reset(reinterpret_cast<VoiceCodecState *>(exact.get()), int16_t(codec)), ZK_VOICE_OK);
            std::vector<unsigned char> big(sizeof(VoiceCodecState), mark);
            ASSERT_EQ(reset(reinterpret_cast<VoiceCodecState *>(big.data()), int16_t(codec)), ZK_VOICE_OK);
            EXPECT_TRUE(std::all_of(big.begin() + long(size), big.end(), [](unsigned char b) { return b == mark; }));
        }
    }
}

// Encoded frames carry the header and their length and nothing past it; each decodes
// into exactly sized buffers to its count, and the decoder takes what no encoder writes.
TEST(VoiceApi, FrameLengthsAndSampleCounts)
{
    struct Case {
        int16_t codec;
        uint16_t samples;
        uint8_t words;
        bool encodable;
    };
    const Case cases[] = {
        {ZK_VOICE_G711_ALAW, 480, 240, true},    {ZK_VOICE_G711_ULAW, 80, 40, true},
        {ZK_VOICE_G711_ALAW_SWAPPED, 160, 80, true}, {ZK_VOICE_IMA_ADPCM, 80, 22, true},
        {ZK_VOICE_IMA_ADPCM, 480, 122, true},    {ZK_VOICE_IMA_ADPCM_WAVE, 1, 2, true},
        {ZK_VOICE_IMA_ADPCM_WAVE, 481, 122, true}, {ZK_VOICE_IMA_ADPCM_RAW, 80, 20, true},
        {ZK_VOICE_IMA_ADPCM_RAW, 480, 120, true}, {ZK_VOICE_G726_16, 80, 10, true},
        {ZK_VOICE_G726_24, 80, 15, true},        {ZK_VOICE_G726_32, 80, 20, true},
        {ZK_VOICE_G726_40, 80, 25, true},        {ZK_VOICE_G726_16_MSB, 480, 60, true},
        {ZK_VOICE_G726_24_MSB, 480, 90, true},   {ZK_VOICE_G726_32_MSB, 160, 40, true},
        {ZK_VOICE_G726_40_MSB, 480, 150, true},  {ZK_VOICE_ADAPTIVE2, 80, 10, true},
        {ZK_VOICE_ADAPTIVE2, 480, 60, true},     {ZK_VOICE_IMA_ADPCM, 0, 2, false},
        {ZK_VOICE_IMA_ADPCM, 84, 23, false},     {ZK_VOICE_IMA_ADPCM_RAW, 8, 2, false},
        {ZK_VOICE_IMA_ADPCM, 1012, 255, false},  {ZK_VOICE_IMA_ADPCM_WAVE, 1013, 255, false},
        {ZK_VOICE_IMA_ADPCM_RAW, 1020, 255, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.codec) + ", " + std::to_string(c.samples) + " samples");
        Frame frame = random_frame(0x01, c.words, c.words);
        if (c.encodable) {
            VoiceCodecState state;
            ZK_VOICE_EncReset(&state, c.codec);
            Frame encoded(ZK_VOICE_ENCODED_MAX_BYTES + 2, mark);
            ASSERT_EQ(ZK_VOICE_EncodeFrame(&state, speech_signal().data() + 8000, encoded.data(), c.samples),
                      ZK_VOICE_OK);
            EXPECT_EQ(Frame(encoded.begin(), encoded.begin() + header_bytes), (Frame{0x00, 0x01, c.words, 0x00}));
            frame.assign(encoded.begin(), encoded.begin() + long(header_bytes + 2 * c.words));
            EXPECT_TRUE(std::all_of(encoded.begin() + long(frame.size()), encoded.end(),
                                    [](uint8_t b) { return b == mark; }));
        }
        VoiceCodecState state;
        ZK_VOICE_DecReset(&state, c.codec);
        auto bytes = std::make_unique<uint8_t[]>(frame.size());
        std::copy(frame.begin(), frame.end(), bytes.get());
        auto pcm = std::make_unique<int16_t[]>(std::max<size_t>(c.samples, 1));
        uint16_t samples = 0;
        EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, bytes.get(), pcm.get(), &samples), ZK_VOICE_OK);
        EXPECT_EQ(samples, c.samples);
    }
}
