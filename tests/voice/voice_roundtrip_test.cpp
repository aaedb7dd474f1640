// Every identifier end to end: quality of the round trip on the test signal, and the
// history that the adaptive codecs carry from frame to frame.
#include <gtest/gtest.h>

#include <algorithm>

#include "voice_test_support.h"

using namespace voice_test;

// The floors sit a few dB under what each codec reaches here; on the signal's clipped
// overload stretches the adaptive codecs lose more than on plain speech.
TEST(VoiceRoundTrip, SnrOnTheTestSignal)
{
    struct Expectation {
        int16_t codec;
        unsigned frame_samples;
        double min_snr_db;
    };
    const Expectation expectations[] = {
        {ZK_VOICE_G711_ALAW, 480, 35},         {ZK_VOICE_G711_ULAW, 480, 35},
        {ZK_VOICE_G711_ALAW_SWAPPED, 160, 35}, {ZK_VOICE_G711_ULAW_SWAPPED, 160, 35},
        {ZK_VOICE_G726_16, 480, 7},            {ZK_VOICE_G726_24, 480, 9},
        {ZK_VOICE_G726_32, 480, 15},           {ZK_VOICE_G726_40, 480, 16},
        {ZK_VOICE_G726_16_MSB, 80, 7},         {ZK_VOICE_G726_24_MSB, 240, 9},
        {ZK_VOICE_G726_32_MSB, 80, 15},        {ZK_VOICE_G726_40_MSB, 400, 16},
        {ZK_VOICE_IMA_ADPCM, 480, 12},         {ZK_VOICE_IMA_ADPCM_WAVE, 481, 12},
        {ZK_VOICE_IMA_ADPCM_RAW, 480, 12},     {ZK_VOICE_ADAPTIVE2, 480, 5},
    };
    const std::vector<int16_t> &pcm = speech_signal();
    for (const Expectation &e : expectations) {
        const std::vector<int16_t> decoded = decode_stream(e.codec, encode_stream(e.codec, pcm, e.frame_samples));
        ASSERT_GE(decoded.size(), pcm.size());
        EXPECT_GE(snr_db(pcm, decoded), e.min_snr_db) << "identifier " << e.codec;
    }
}

// Without headers the stream is one continuous recursion, whatever the framing; with the
// DVI block header a decoder joining late is in step at once.
TEST(VoiceHistory, StreamsDoNotDependOnTheFrameSize)
{
    const std::vector<int16_t> &pcm = speech_signal();
    for (const int16_t codec : {ZK_VOICE_G726_16, ZK_VOICE_G726_24_MSB, ZK_VOICE_G726_32, ZK_VOICE_G726_40_MSB,
                                ZK_VOICE_IMA_ADPCM_RAW, ZK_VOICE_ADAPTIVE2}) {
        SCOPED_TRACE(codec);
        const std::vector<Frame> small = encode_stream(codec, pcm, 80);
        const std::vector<Frame> large = encode_stream(codec, pcm, 480);
        EXPECT_EQ(payloads(small), payloads(large));
        EXPECT_EQ(decode_stream(codec, small), decode_stream(codec, large));
    }
    const std::vector<Frame> frames = encode_stream(ZK_VOICE_IMA_ADPCM, pcm, 480);
    const std::vector<int16_t> all = decode_stream(ZK_VOICE_IMA_ADPCM, frames);
    const std::vector<int16_t> alone = decode_stream(ZK_VOICE_IMA_ADPCM, {frames[20]});
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), all.begin() + 20 * 480));
    EXPECT_EQ(decode_stream(ZK_VOICE_IMA_ADPCM, encode_stream(ZK_VOICE_IMA_ADPCM, pcm, 80)), all);
}
