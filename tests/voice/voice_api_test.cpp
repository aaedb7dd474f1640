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

// Calls that fail before the state's identifier matters.
struct Plain {
    int32_t (*call)(Arena &);
    int32_t expected;
    void (*prepare)(Arena &) = nullptr;
};

int32_t encode(Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, a.pcm, a.frame, a.samples); }
int32_t decode(Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, a.frame, a.pcm, &a.samples); }
int32_t transcode(Arena &a) { return ZK_VOICE_TransCodeFrame(&a.record, a.frame); }

const Plain plain[] = {
    {[](Arena &) { return ZK_VOICE_GetVersion(nullptr); }, -1},
    {[](Arena &) { return ZK_VOICE_EncReset(nullptr, 1); }, ZK_VOICE_E_NULL_STATE},
    {[](Arena &) { return ZK_VOICE_DecReset(nullptr, 1); }, ZK_VOICE_E_NULL_STATE},
    {[](Arena &a) { return ZK_VOICE_EncodeFrame(nullptr, a.pcm, a.frame, 80); }, ZK_VOICE_E_NULL_STATE},
    {[](Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, nullptr, a.frame, 80); }, ZK_VOICE_E_NULL_INPUT},
    {[](Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, a.pcm, nullptr, 80); }, ZK_VOICE_E_NULL_OUTPUT},
    {[](Arena &a) { return ZK_VOICE_EncodeFrame(&a.state, a.pcm, a.frame, 80); }, ZK_VOICE_E_ENC_CODEC},
    {[](Arena &a) { return ZK_VOICE_DecodeFrame(nullptr, a.frame, a.pcm, &a.samples); }, ZK_VOICE_E_NULL_STATE},
    {[](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, nullptr, a.pcm, &a.samples); }, ZK_VOICE_E_NULL_INPUT},
    {[](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, a.frame, nullptr, &a.samples); }, ZK_VOICE_E_NULL_OUTPUT},
    {[](Arena &a) { return ZK_VOICE_DecodeFrame(&a.state, a.frame, a.pcm, nullptr); }, ZK_VOICE_E_NULL_OUTPUT},
    {[](Arena &) { return ZK_VOICE_TransCodeReset(nullptr, 100); }, ZK_VOICE_E_TRANS_RECORD},
    {[](Arena &a) { return ZK_VOICE_TransCodeFrame(nullptr, a.frame); }, ZK_VOICE_E_TRANS_RECORD},
    {[](Arena &a) { return ZK_VOICE_TransCodeFrame(&a.record, nullptr); }, ZK_VOICE_E_NULL_INPUT},
    {transcode, ZK_VOICE_E_TRANS_MODE},
    {transcode, ZK_VOICE_E_TRANS_MODE,
     [](Arena &a) { ZK_VOICE_EncReset(&a.record.encoder.state, ZK_VOICE_G726_24); }},
};

enum Fn { Encode, Decode, Transcode, EncReset, DecReset, TransReset };

// The state is reset to id first, outside what the row checks; for the resets, id is
// the argument. n is the sample count to encode or the header's length.
struct Row {
    Fn fn;
    int16_t id;
    uint8_t byte1;
    uint16_t n;
    int32_t expected;
};

constexpr int16_t never_reset = 0x5A5A;

std::vector<Row> rows()
{
    std::vector<Row> rows = {
        // Counts: not a multiple of 80, 0, above 480; identifier 35 wants one more. The
        // count is checked before the identifier.
        {Encode, ZK_VOICE_G726_32, 0, 81, ZK_VOICE_E_ENC_SAMPLES},
        {Encode, ZK_VOICE_ADAPTIVE2, 0, 479, ZK_VOICE_E_ENC_SAMPLES},
        {Encode, ZK_VOICE_IMA_ADPCM_WAVE, 0, 0, ZK_VOICE_E_ENC_SAMPLES},
        {Encode, ZK_VOICE_IMA_ADPCM_WAVE, 0, 480, ZK_VOICE_E_ENC_SAMPLES},
        {Encode, ZK_VOICE_IMA_ADPCM_WAVE, 0, 561, ZK_VOICE_E_ENC_SAMPLES},
        {Encode, 11, 0, 479, ZK_VOICE_E_ENC_SAMPLES},
        {Encode, 11, 0, 480, ZK_VOICE_E_ENC_CODEC},
        {Encode, -1, 0, 160, ZK_VOICE_E_ENC_CODEC},
        // Only the two low bits of byte 1 count; then the length, then the identifier.
        {Decode, never_reset, 0x01, 40, ZK_VOICE_E_DEC_CODEC},
        {Decode, ZK_VOICE_G711_ALAW, 0x00, 40, ZK_VOICE_E_DEC_MARKER},
        {Decode, ZK_VOICE_G711_ALAW, 0x02, 40, ZK_VOICE_E_DEC_MARKER},
        {Decode, ZK_VOICE_G711_ALAW, 0xFF, 40, ZK_VOICE_E_DEC_MARKER},
        {Decode, ZK_VOICE_G711_ALAW, 0x02, 0, ZK_VOICE_E_DEC_MARKER},
        {Decode, ZK_VOICE_G711_ALAW, 0x01, 0, ZK_VOICE_E_DEC_LENGTH},
        {Decode, 11, 0x00, 40, ZK_VOICE_E_DEC_MARKER},
        {Decode, 11, 0x01, 0, ZK_VOICE_E_DEC_LENGTH},
        {Decode, 69, 0x01, 1, ZK_VOICE_E_DEC_CODEC},
        // A frame that cannot convert stays as it was, with the failing step's code; one
        // longer than any target frame is refused before a byte past 484 is read.
        {Transcode, ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 21, ZK_VOICE_E_ENC_SAMPLES},
        {Transcode, ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 240, ZK_VOICE_E_ENC_SAMPLES},
        {Transcode, ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 1, ZK_VOICE_E_DEC_LENGTH},
        {Transcode, ZK_VOICE_TRANS_ADPCM_RAW, 0x02, 20, ZK_VOICE_E_DEC_MARKER},
        {Transcode, ZK_VOICE_TRANS_ADPCM_RAW, 0x01, 255, ZK_VOICE_E_DEC_LENGTH},
        {Transcode, ZK_VOICE_TRANS_ADAPTIVE2, 0x01, 11, ZK_VOICE_E_DEC_LENGTH},
        {Transcode, ZK_VOICE_TRANS_ADAPTIVE2, 0x00, 10, ZK_VOICE_E_DEC_MARKER},
        {Transcode, ZK_VOICE_TRANS_ADAPTIVE2, 0x01, 0, ZK_VOICE_E_DEC_LENGTH},
        {Transcode, ZK_VOICE_TRANS_ADAPTIVE2, 0x01, 250, ZK_VOICE_E_DEC_LENGTH},
        {Transcode, ZK_VOICE_TRANS_ALAW_SWAPPED, 0x01, 241, ZK_VOICE_E_DEC_LENGTH},
        {Transcode, ZK_VOICE_TRANS_ULAW_SWAPPED, 0x00, 255, ZK_VOICE_E_DEC_LENGTH},
    };
    for (const uint16_t n : {0, 1, 79, 481, 560, 65535})
        rows.push_back({Encode, ZK_VOICE_G711_ALAW, 0, n, ZK_VOICE_E_ENC_SAMPLES});
    // Lengths that are no whole frame of the codec, or longer than 480 samples.
    const std::pair<int16_t, uint8_t> bad_lengths[] = {
        {ZK_VOICE_G711_ULAW, 241}, {ZK_VOICE_G711_ULAW_SWAPPED, 41}, {ZK_VOICE_G711_ALAW_SWAPPED, 255},
        {ZK_VOICE_G726_24, 16}, {ZK_VOICE_G726_40_MSB, 30}, {ZK_VOICE_G726_16_MSB, 70}, {ZK_VOICE_G726_32_MSB, 21},
        {ZK_VOICE_ADAPTIVE2, 61}, {ZK_VOICE_ADAPTIVE2, 15}, {ZK_VOICE_IMA_ADPCM, 1}, {ZK_VOICE_IMA_ADPCM_WAVE, 1},
        {ZK_VOICE_IMA_ADPCM_RAW, 1}};
    for (const auto &[codec, words] : bad_lengths)
        rows.push_back({Decode, codec, 0x01, words, ZK_VOICE_E_DEC_LENGTH});
    for (const int16_t codec : {0, 8, 34, 40, 64, 69, 97, 32767, -1, -32768}) {
        rows.push_back({EncReset, codec, 0, 0, ZK_VOICE_E_ENC_CODEC});
        rows.push_back({DecReset, codec, 0, 0, ZK_VOICE_E_DEC_CODEC});
    }
    for (const int16_t mode : {0, 68, 96, 101, -1})
        rows.push_back({TransReset, mode, 0, 0, ZK_VOICE_E_TRANS_MODE});
    return rows;
}

using Call = std::function<int32_t(Arena &)>;

// Runs call on a marked arena after prepare; the arena must be as before but for what
// allow copies from after into the snapshot.
void expect_untouched(const Call &call, int32_t expected, const std::function<void(Arena &)> &prepare,
                      const std::function<void(Arena &before, const Arena &after)> &allow)
{
    const auto arena = std::make_unique<Arena>();
    const auto before = std::make_unique<Arena>();
    std::memset(arena.get(), mark, sizeof(Arena));
    prepare(*arena);
    std::memcpy(before.get(), arena.get(), sizeof(Arena));
    EXPECT_EQ(call(*arena), expected);
    allow(*before, *arena);
    EXPECT_EQ(std::memcmp(arena.get(), before.get(), sizeof(Arena)), 0);
}

} // namespace

TEST(VoiceApi, EveryBadArgumentFailsWithItsCodeAndTouchesNothing)
{
    for (const Plain &p : plain) {
        SCOPED_TRACE(testing::Message() << "plain case " << &p - plain);
        expect_untouched(p.call, p.expected, p.prepare ? p.prepare : [](Arena &) {}, [](Arena &, const Arena &) {});
    }
    for (const Row &r : rows()) {
        SCOPED_TRACE(testing::Message() << "fn " << r.fn << ", id " << r.id << ", byte 1 " << int(r.byte1)
                                        << ", n " << r.n);
        const Call calls[] = {encode, decode, transcode, [&](Arena &a) { return ZK_VOICE_EncReset(&a.state, r.id); },
                              [&](Arena &a) { return ZK_VOICE_DecReset(&a.state, r.id); },
                              [&](Arena &a) { return ZK_VOICE_TransCodeReset(&a.record, r.id); }};
        const auto prepare = [&](Arena &a) {
            if (r.fn == Encode)
                ZK_VOICE_EncReset(&a.state, r.id);
            if (r.fn == Decode && r.id != never_reset)
                ZK_VOICE_DecReset(&a.state, r.id);
            if (r.fn == Transcode)
                ZK_VOICE_TransCodeReset(&a.record, r.id);
            if (r.fn == Encode)
                a.samples = r.n;
            if (r.fn == Decode || r.fn == Transcode)
                a.frame[0] = 0, a.frame[1] = r.byte1, a.frame[2] = uint8_t(r.n), a.frame[3] = 0;
        };
        // A failed decode says 0 samples, an unsupported identifier is stored all the same,
        // and when the transcoder's encoder refuses, its decoder has had the frame.
        const auto allow = [&](Arena &before, const Arena &after) {
            if (r.fn == Decode)
                before.samples = 0;
            if (r.fn == EncReset || r.fn == DecReset)
                before.state.codec = r.id;
            if (r.fn == Transcode && r.expected == ZK_VOICE_E_ENC_SAMPLES)
                before.record.decoder = after.record.decoder;
        };
        expect_untouched(calls[r.fn], r.expected, prepare, allow);
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
        {ZK_VOICE_G711_ALAW, 480, 240, true},     {ZK_VOICE_G711_ULAW, 80, 40, true},
        {ZK_VOICE_G711_ALAW_SWAPPED, 160, 80, true}, {ZK_VOICE_IMA_ADPCM, 80, 22, true},
        {ZK_VOICE_IMA_ADPCM, 480, 122, true},     {ZK_VOICE_IMA_ADPCM_WAVE, 1, 2, true},
        {ZK_VOICE_IMA_ADPCM_WAVE, 481, 122, true}, {ZK_VOICE_IMA_ADPCM_RAW, 80, 20, true},
        {ZK_VOICE_IMA_ADPCM_RAW, 480, 120, true}, {ZK_VOICE_G726_16, 80, 10, true},
        {ZK_VOICE_G726_24, 80, 15, true},         {ZK_VOICE_G726_32, 80, 20, true},
        {ZK_VOICE_G726_40, 80, 25, true},         {ZK_VOICE_G726_16_MSB, 480, 60, true},
        {ZK_VOICE_G726_24_MSB, 480, 90, true},    {ZK_VOICE_G726_32_MSB, 160, 40, true},
        {ZK_VOICE_G726_40_MSB, 480, 150, true},   {ZK_VOICE_ADAPTIVE2, 80, 10, true},
        {ZK_VOICE_ADAPTIVE2, 480, 60, true},      {ZK_VOICE_IMA_ADPCM, 0, 2, false},
        {ZK_VOICE_IMA_ADPCM, 84, 23, false},      {ZK_VOICE_IMA_ADPCM_RAW, 8, 2, false},
        {ZK_VOICE_IMA_ADPCM, 1012, 255, false},   {ZK_VOICE_IMA_ADPCM_WAVE, 1013, 255, false},
        {ZK_VOICE_IMA_ADPCM_RAW, 1020, 255, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.codec << ", " << c.samples << " samples");
        Frame frame = random_frame(0x01, c.words, c.words);
        if (c.encodable) {
            VoiceCodecState state;
            ZK_VOICE_EncReset(&state, c.codec);
            Frame encoded(ZK_VOICE_ENCODED_MAX_BYTES + 2, mark);
            ASSERT_EQ(ZK_VOICE_EncodeFrame(&state, speech_signal().data() + 8000, encoded.data(), c.samples),
                      ZK_VOICE_OK);
            frame.assign(encoded.begin(), encoded.begin() + long(header_bytes + 2 * c.words));
            EXPECT_EQ(Frame(frame.begin(), frame.begin() + header_bytes), (Frame{0x00, 0x01, c.words, 0x00}));
            EXPECT_TRUE(std::all_of(encoded.begin() + long(frame.size()), encoded.end(),
                                    [](uint8_t b) { return b == mark; }));
        }
        VoiceCodecState state;
        ZK_VOICE_DecReset(&state, c.codec);
        const auto bytes = std::make_unique<uint8_t[]>(frame.size());
        std::copy(frame.begin(), frame.end(), bytes.get());
        const auto pcm = std::make_unique<int16_t[]>(std::max<size_t>(c.samples, 1));
        uint16_t samples = 0;
        EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, bytes.get(), pcm.get(), &samples), ZK_VOICE_OK);
        EXPECT_EQ(samples, c.samples);
    }
}
