// Every identifier end to end: quality of the round trip on the test signal, and
// the history that the adaptive codecs carry from frame to frame.
#include <gtest/gtest.h>

#include <algorithm>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

// The floors sit a few dB under what each codec reaches here; on this signal's
// clipped overload stretches the adaptive codecs lose more than on plain speech.
struct Expectation {
    int16_t codec;
    unsigned frame_samples;
    double min_snr_db;
};

const Expectation expectations[] = {
    {ZK_VOICE_G711_ALAW, 480, 35},      {ZK_VOICE_G711_ULAW, 480, 35},
    {ZK_VOICE_G711_ALAW_SWAPPED, 160, 35}, {ZK_VOICE_G711_ULAW_SWAPPED, 160, 35},
    {ZK_VOICE_G726_16, 480, 7},         {ZK_VOICE_G726_24, 480, 9},
    {ZK_VOICE_G726_32, 480, 15},        {ZK_VOICE_G726_40, 480, 16},
    {ZK_VOICE_G726_16_MSB, 80, 7},      {ZK_VOICE_G726_24_MSB, 240, 9},
    {ZK_VOICE_G726_32_MSB, 80, 15},     {ZK_VOICE_G726_40_MSB, 400, 16},
    {ZK_VOICE_IMA_ADPCM, 480, 12},      {ZK_VOICE_IMA_ADPCM_WAVE, 481, 12},
    {ZK_VOICE_IMA_ADPCM_RAW, 480, 12},  {ZK_VOICE_ADAPTIVE2, 480, 5},
};

const int16_t adaptive[] = {ZK_VOICE_G726_16, ZK_VOICE_G726_24_MSB, ZK_VOICE_G726_32,
                            ZK_VOICE_G726_40_MSB, ZK_VOICE_IMA_ADPCM_RAW, ZK_VOICE_ADAPTIVE2};

std::vector<uint8_t> all_payloads(const std::vector<Frame> &frames)
{
    std::vector<uint8_t> bytes;
    for (const Frame &frame : frames) {
        const std::vector<uint8_t> payload = payload_of(frame);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    return bytes;
}

} // namespace

TEST(VoiceRoundTrip, SnrOnTheTestSignal)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Expectation &e : expectations) {
        const std::vector<int16_t> decoded = decode_stream(e.codec, encode_stream(e.codec, pcm, e.frame_samples));
        ASSERT_GE(decoded.size(), pcm.size());
        const double snr = snr_db(pcm, decoded);
        EXPECT_GE(snr, e.min_snr_db) << "identifier " << e.codec;
        RecordProperty("snr_db_" + std::to_string(e.codec), std::to_string(snr));
    }
}

// Without headers the stream is one continuous recursion, whatever the framing.
TEST(VoiceHistory, HeaderlessCodesDoNotDependOnTheFrameSize)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const int16_t codec : adaptive) {
        SCOPED_TRACE(codec);
        const std::vector<Frame> small = encode_stream(codec, pcm, 80);
        const std::vector<Frame> large = encode_stream(codec, pcm, 480);
        EXPECT_EQ(all_payloads(small), all_payloads(large));
        EXPECT_EQ(decode_stream(codec, small), decode_stream(codec, large));
    }
}

TEST(VoiceHistory, AdaptiveDecoderDependsOnEarlierFramesAndG711DoesNot)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const int16_t codec : {ZK_VOICE_G711_ALAW, ZK_VOICE_G711_ULAW_SWAPPED}) {
        const std::vector<Frame> frames = encode_stream(codec, pcm, 480);
        const std::vector<int16_t> all = decode_stream(codec, frames);
        const std::vector<int16_t> alone = decode_stream(codec, {frames[20]});
        EXPECT_TRUE(std::equal(alone.begin(), alone.end(), all.begin() + 20 * 480)) << codec;
    }
    for (const int16_t codec : adaptive) {
        const std::vector<Frame> frames = encode_stream(codec, pcm, 480);
        const std::vector<int16_t> all = decode_stream(codec, frames);
        const std::vector<int16_t> alone = decode_stream(codec, {frames[20]});
        EXPECT_FALSE(std::equal(alone.begin(), alone.end(), all.begin() + 20 * 480)) << codec;
    }
}

// The block header carries the state, so a decoder joining late is in step at once.
TEST(VoiceHistory, DviBlockHeaderResynchronisesADecoder)
{
    const std::vector<int16_t> &pcm = speech_signal();
    const std::vector<Frame> frames = encode_stream(ZK_VOICE_IMA_ADPCM, pcm, 480);
    const std::vector<int16_t> all = decode_stream(ZK_VOICE_IMA_ADPCM, frames);
    const std::vector<int16_t> alone = decode_stream(ZK_VOICE_IMA_ADPCM, {frames[20]});
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), all.begin() + 20 * 480));
    EXPECT_EQ(decode_stream(ZK_VOICE_IMA_ADPCM, encode_stream(ZK_VOICE_IMA_ADPCM, pcm, 80)), all);
}
