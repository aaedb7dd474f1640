#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/CADecZok.h"
#include "audio/device_audio.h"
#include <recmux/recmux_writer.h>

namespace recmux {
namespace {

using Bytes = std::vector<uint8_t>;
using Pcm = std::vector<int16_t>;

Pcm Tone(size_t count)
{
    Pcm pcm(count);
    for (size_t i = 0; i < count; i++)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(0.3 * static_cast<double>(i)));
    return pcm;
}

// Frames of `per_frame` samples each, one after another, as the library's encoder writes them.
Bytes Encode(int16_t codec, const Pcm &pcm, uint16_t per_frame)
{
    VoiceCodecState state{};
    EXPECT_EQ(ZK_VOICE_EncReset(&state, codec), ZK_VOICE_OK);
    Bytes out;
    uint8_t frame[ZK_VOICE_ENCODED_MAX_BYTES];
    for (size_t at = 0; at + per_frame <= pcm.size(); at += per_frame) {
        EXPECT_EQ(ZK_VOICE_EncodeFrame(&state, pcm.data() + at, frame, per_frame), ZK_VOICE_OK);
        out.insert(out.end(), frame, frame + 4 + 2 * frame[2]);
    }
    return out;
}

// The PCM bytes the reference decoder makes of consecutive frames.
Bytes Reference(int16_t codec, Bytes frames)
{
    VoiceCodecState state{};
    ZK_VOICE_DecReset(&state, codec);
    Bytes out;
    int16_t pcm[ZK_VOICE_PCM_MAX];
    for (size_t at = 0; at < frames.size(); at += 4 + 2 * frames[at + 2]) {
        uint16_t samples = 0;
        EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, frames.data() + at, pcm, &samples), ZK_VOICE_OK);
        out.insert(out.end(), reinterpret_cast<uint8_t *>(pcm), reinterpret_cast<uint8_t *>(pcm + samples));
    }
    return out;
}

// Bytes in which 00 01 never occurs, so no stretch of them passes for a voice frame.
Bytes Pattern(size_t size, uint8_t seed = 11)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; i++)
        bytes[i] = static_cast<uint8_t>(seed + 37 * i);
    return bytes;
}

// Everything the sink receives, and the size of each block.
struct Received {
    Bytes bytes;
    std::vector<int32_t> blocks;

    DeviceAudio::Sink Sink()
    {
        return [this](const uint8_t *pcm, int32_t size) {
            bytes.insert(bytes.end(), pcm, pcm + size);
            blocks.push_back(size);
            return true;
        };
    }
};

bool Feed(DeviceAudio &audio, const Bytes &data, Received &received)
{
    return audio.DecodeBuffer(data.data(), static_cast<uint32_t>(data.size()), received.Sink());
}

TEST(CADecZok, DecodesOnlyAFrameThatFitsTheGivenLengthAndKeepsItsCodecOnAnUnknownCode)
{
    CADecZok alaw;
    alaw.Reset(RECMUX_AUDIO_G711_ALAW_ALT);
    EXPECT_EQ(alaw.Reset(12), 0);
    EXPECT_EQ(alaw.CodecIdentifier(), ZK_VOICE_G711_ALAW);

    const Bytes frame = Encode(ZK_VOICE_IMA_ADPCM, Tone(80), 80);
    Bytes longHeader = frame, padded = frame, g726(324, 0x55);
    longHeader[2] = 255;  // ADPCM would accept 255 words and read 514 bytes
    padded.resize(600);   // a length beyond the frame is only a bound
    std::copy_n(frame.begin(), 2, g726.begin());
    g726[2] = 160;  // 512 samples, which no G.726 frame holds
    Bytes tiny = {0x00, 0x01, 0x01};
    const struct {
        int32_t code;
        uint8_t *frame;
        int32_t length, result;
        uint16_t samples;
    } cases[] = {
        {RECMUX_AUDIO_IMA_ADPCM, longHeader.data(), 48, 0, 777},
        {RECMUX_AUDIO_IMA_ADPCM, tiny.data(), 3, 0, 777},
        {RECMUX_AUDIO_IMA_ADPCM, tiny.data(), -4, 0, 777},
        {RECMUX_AUDIO_IMA_ADPCM, nullptr, 100, 0, 777},
        {13, padded.data(), 600, 0, 777},
        {RECMUX_AUDIO_IMA_ADPCM, padded.data(), 600, 1, 80},
        {RECMUX_AUDIO_G726_40, g726.data(), 324, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.code << ", " << c.length << " bytes");
        CADecZok decoder;
        decoder.Reset(c.code);
        int16_t pcm[ZK_VOICE_PCM_MAX];
        uint16_t samples = 777;
        EXPECT_EQ(decoder.Decode(c.frame, c.length, pcm, &samples), c.result);
        EXPECT_EQ(samples, c.samples) << "777: the codec was not called";
    }
}

TEST(DeviceAudioFraming, LaterBlocksAreDecodedWithinTheirOwnLength)
{
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_IMA_ADPCM);
    Bytes frames = Encode(ZK_VOICE_IMA_ADPCM, Tone(160), 80);
    ASSERT_EQ(frames.size(), 96u);
    const Bytes first = Reference(ZK_VOICE_IMA_ADPCM, Bytes(frames.begin(), frames.begin() + 48));
    frames[48 + 2] = 255;
    Received received;
    EXPECT_TRUE(Feed(audio, frames, received));
    ASSERT_EQ(received.blocks, (std::vector<int32_t>{160, 44}));
    EXPECT_TRUE(std::equal(first.begin(), first.end(), received.bytes.begin()));
    EXPECT_TRUE(std::equal(frames.begin() + 52, frames.end(), received.bytes.begin() + 160));

    frames[48 + 2] = 12;  // shorter than its slot: 4 x (12 - 2) samples
    Received shorter;
    EXPECT_TRUE(Feed(audio, frames, shorter));
    EXPECT_EQ(shorter.blocks, (std::vector<int32_t>{160, 80}));

    audio.Reset(RECMUX_AUDIO_G711_ALAW);
    frames = Encode(ZK_VOICE_G711_ALAW, Tone(160), 80);
    frames[85] = 0x02;  // a bad second marker makes the buffer headerless
    Received none;
    EXPECT_FALSE(Feed(audio, frames, none));
    EXPECT_EQ(audio.CarriedBytes(), 168u);
}

TEST(DeviceAudioFraming, EmptyNullAndNotReadyBuffersAddNothing)
{
    const Bytes packet = Pattern(160);
    DeviceAudio audio;
    Received received;
    audio.Reset(12);
    EXPECT_FALSE(Feed(audio, packet, received));
    EXPECT_EQ(audio.CarriedBytes(), 0u) << "nothing is kept for a decoder that is not ready";

    audio.Reset(RECMUX_AUDIO_G711_ALAW_ALT);
    EXPECT_FALSE(Feed(audio, packet, received));
    EXPECT_FALSE(audio.DecodeBuffer(packet.data(), 0, received.Sink()));
    EXPECT_FALSE(audio.DecodeBuffer(nullptr, 500, received.Sink()));
    EXPECT_TRUE(received.blocks.empty());
    EXPECT_EQ(audio.CarriedBytes(), 160u);
}

// A stateless codec, a stateful one and the raw-PCM path.
TEST(DeviceAudioCarry, PacketsOfAnySizeMatchTheWholeBuffer)
{
    const Bytes payload = Pattern(2960, 3);
    const size_t sizes[] = {160, 160, 1, 100, 219, 320, 333, 7, 0, 640, 380, 640};
    for (int32_t code : {RECMUX_AUDIO_G711_ALAW, RECMUX_AUDIO_IMA_ADPCM, RECMUX_AUDIO_G726_40}) {
        DeviceAudio split, whole;
        split.Reset(code);
        whole.Reset(code);
        Received pieces, once;
        size_t at = 0;
        for (size_t size : sizes) {
            Feed(split, Bytes(payload.begin() + at, payload.begin() + at + size), pieces);
            at += size;
        }
        ASSERT_EQ(at, payload.size());
        Feed(whole, payload, once);
        EXPECT_EQ(pieces.bytes, once.bytes) << code;
        EXPECT_EQ(split.CarriedBytes(), whole.CarriedBytes());
    }
}

// Headerless payload goes in as 320-byte chunks, the bytes short of one carried over.
TEST(DeviceAudioCarry, CarryWaitsThroughVoiceFramesAndEndsWithANewCodec)
{
    const Bytes frames = Encode(ZK_VOICE_G711_ALAW, Tone(320), 160);
    const Bytes first(frames.begin() + 4, frames.begin() + 164), second(frames.begin() + 168, frames.end());
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_G711_ALAW_ALT);
    Received received;
    Feed(audio, first, received);
    EXPECT_TRUE(Feed(audio, Encode(ZK_VOICE_G711_ALAW, Tone(160), 80), received));
    EXPECT_EQ(audio.CarriedBytes(), 160u);
    EXPECT_TRUE(Feed(audio, second, received));
    EXPECT_EQ(received.blocks, (std::vector<int32_t>{160, 160, 640}));
    EXPECT_EQ(Bytes(received.bytes.begin() + 320, received.bytes.end()), Reference(ZK_VOICE_G711_ALAW, frames));

    Feed(audio, first, received);
    audio.Reset(12);
    EXPECT_EQ(audio.CarriedBytes(), 160u) << "an unknown code keeps the codec, and its carry";
    audio.Reset(RECMUX_AUDIO_G711_ULAW_ALT);
    EXPECT_EQ(audio.CarriedBytes(), 0u);
}

}  // namespace
}  // namespace recmux
