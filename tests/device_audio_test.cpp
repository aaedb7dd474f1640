#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

// The payloads of G.711 frames without their headers: what a headerless device sends.
Bytes Headerless(const Pcm &pcm)
{
    const Bytes frames = Encode(ZK_VOICE_G711_ALAW, pcm, 160);
    Bytes payload;
    for (size_t at = 0; at < frames.size(); at += 164)
        payload.insert(payload.end(), frames.begin() + at + 4, frames.begin() + at + 164);
    return payload;
}

// What the reference decoder makes of consecutive frames.
Pcm Reference(int16_t codec, Bytes frames)
{
    VoiceCodecState state{};
    ZK_VOICE_DecReset(&state, codec);
    Pcm out;
    int16_t pcm[ZK_VOICE_PCM_MAX];
    for (size_t at = 0; at < frames.size(); at += 4 + 2 * frames[at + 2]) {
        uint16_t samples = 0;
        EXPECT_EQ(ZK_VOICE_DecodeFrame(&state, frames.data() + at, pcm, &samples), ZK_VOICE_OK);
        out.insert(out.end(), pcm, pcm + samples);
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

Bytes WithHeader(Bytes block, uint8_t words)
{
    const uint8_t header[] = {0x00, 0x01, words, 0x00};
    std::copy(header, header + 4, block.begin());
    return block;
}

// Everything the sink receives, and the size of each block.
struct Received {
    Bytes bytes;
    std::vector<int32_t> blocks;
    bool accept = true;

    DeviceAudio::Sink Sink()
    {
        return [this](const uint8_t *pcm, int32_t size) {
            bytes.insert(bytes.end(), pcm, pcm + size);
            blocks.push_back(size);
            return accept;
        };
    }
    Pcm Samples() const
    {
        Pcm pcm(bytes.size() / 2);
        if (!pcm.empty())
            std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
        return pcm;
    }
};

bool Feed(DeviceAudio &audio, const Bytes &data, Received &received)
{
    return audio.DecodeBuffer(data.data(), static_cast<uint32_t>(data.size()), received.Sink());
}

TEST(CADecZokCodes, UnknownCodesAreStoredButSelectNothing)
{
    for (int32_t code : {12, 13, 15, 17, -1, INT32_MAX}) {
        CADecZok decoder;
        EXPECT_EQ(decoder.Reset(code), 0);
        EXPECT_EQ(decoder.IsReady(), 0);
        EXPECT_EQ(decoder.AudioTypeCode(), code);
        Bytes frame = Encode(ZK_VOICE_G711_ALAW, Tone(80), 80);
        int16_t pcm[ZK_VOICE_PCM_MAX];
        uint16_t samples = 777;
        EXPECT_EQ(decoder.Decode(frame.data(), 84, pcm, &samples), 0);
        EXPECT_EQ(samples, 777) << "the codec must not be called";
    }
    CADecZok decoder;
    decoder.Reset(RECMUX_AUDIO_G711_ALAW_ALT);
    EXPECT_EQ(decoder.Reset(12), 0);
    EXPECT_EQ(decoder.IsReady(), 1);
    EXPECT_EQ(decoder.CodecIdentifier(), ZK_VOICE_G711_ALAW);
    EXPECT_EQ(decoder.AudioTypeCode(), 12);
}

// The public header's table is what users encode with: it must be what the recorder decodes.
TEST(CADecZokCodes, EveryAudioTypeDecodesWithTheCodecThePublicHeaderNames)
{
    for (int32_t code = -1; code <= 20; code++) {
        DeviceAudio audio;
        audio.Reset(code);
        EXPECT_EQ(audio.Decoder().CodecIdentifier(), recmux_audio_voice_codec(code))
            << "audio type " << code;
    }
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_G711_ALAW);
    EXPECT_EQ(audio.Decoder().AudioTypeCode(), RECMUX_AUDIO_G711_ALAW_ALT);
}

TEST(CADecZokDecode, NothingIsReadPastTheGivenLength)
{
    CADecZok decoder;
    decoder.Reset(RECMUX_AUDIO_IMA_ADPCM);  // ADPCM would accept 255 words and read 514 bytes
    int16_t pcm[ZK_VOICE_PCM_MAX];
    Bytes frame = Encode(ZK_VOICE_IMA_ADPCM, Tone(80), 80);
    frame[2] = 255;
    uint16_t samples = 777;
    EXPECT_EQ(decoder.Decode(frame.data(), static_cast<int32_t>(frame.size()), pcm, &samples), 0);
    EXPECT_EQ(samples, 777) << "the codec must not be called";
    Bytes tiny = {0x00, 0x01, 0x01};
    EXPECT_EQ(decoder.Decode(tiny.data(), 3, pcm, &samples), 0);
    EXPECT_EQ(decoder.Decode(tiny.data(), -4, pcm, &samples), 0);
    EXPECT_EQ(decoder.Decode(nullptr, 100, pcm, &samples), 0);
    EXPECT_EQ(samples, 777);

    frame[2] = 22;
    frame.resize(600);  // a length beyond the frame is only a bound
    EXPECT_EQ(decoder.Decode(frame.data(), 600, pcm, &samples), 1);
    EXPECT_EQ(samples, 80);
}

TEST(CADecZokDecode, HeaderWrongForTheCodecFails)
{
    CADecZok decoder;
    decoder.Reset(RECMUX_AUDIO_G726_40);
    Bytes frame = WithHeader(Bytes(324, 0x55), 160);  // 512 samples
    int16_t pcm[ZK_VOICE_PCM_MAX];
    uint16_t samples = 777;
    EXPECT_EQ(decoder.Decode(frame.data(), 324, pcm, &samples), 0);
    EXPECT_EQ(samples, 0);
}

TEST(DeviceAudioFraming, EqualVoiceFramesAreDecodedOneByOne)
{
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_G711_ALAW);
    const Bytes frames = Encode(ZK_VOICE_G711_ALAW, Tone(160), 80);
    ASSERT_EQ(frames.size(), 168u);
    Received received;
    EXPECT_TRUE(Feed(audio, frames, received));
    EXPECT_EQ(received.blocks, (std::vector<int32_t>{160, 160}));
    EXPECT_EQ(received.Samples(), Reference(ZK_VOICE_G711_ALAW, frames));
}

TEST(DeviceAudioFraming, LaterBlocksAreDecodedWithinTheirOwnLength)
{
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_IMA_ADPCM);
    Bytes frames = Encode(ZK_VOICE_IMA_ADPCM, Tone(160), 80);
    ASSERT_EQ(frames.size(), 96u);
    const Pcm first = Reference(ZK_VOICE_IMA_ADPCM, Bytes(frames.begin(), frames.begin() + 48));
    frames[48 + 2] = 255;
    Received received;
    EXPECT_TRUE(Feed(audio, frames, received));
    ASSERT_EQ(received.blocks, (std::vector<int32_t>{160, 44}));
    EXPECT_TRUE(std::equal(first.begin(), first.end(), received.Samples().begin()));
    EXPECT_TRUE(std::equal(frames.begin() + 52, frames.end(), received.bytes.begin() + 160));

    frames[48 + 2] = 12;  // shorter than its slot: 4 x (12 - 2) samples
    Received shorter;
    EXPECT_TRUE(Feed(audio, frames, shorter));
    EXPECT_EQ(shorter.blocks, (std::vector<int32_t>{160, 80}));
}

TEST(DeviceAudioFraming, BadSecondMarkerMakesTheBufferHeaderless)
{
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_G711_ALAW_ALT);
    Bytes frames = Encode(ZK_VOICE_G711_ALAW, Tone(160), 80);
    frames[85] = 0x02;
    Received received;
    EXPECT_FALSE(Feed(audio, frames, received));
    EXPECT_TRUE(received.blocks.empty());
    EXPECT_EQ(audio.CarriedBytes(), 168u);
}

TEST(DeviceAudioFraming, HeaderlessChunksOf320Bytes)
{
    const Bytes payload = Pattern(650);
    DeviceAudio g726;
    g726.Reset(RECMUX_AUDIO_G726_40);  // 160 words never decode as G.726: the chunks go in as PCM
    Received received;
    EXPECT_TRUE(Feed(g726, payload, received));
    EXPECT_EQ(received.blocks, (std::vector<int32_t>{320, 320}));
    EXPECT_TRUE(std::equal(received.bytes.begin(), received.bytes.end(), payload.begin()));
    EXPECT_EQ(g726.CarriedBytes(), 10u);

    const struct {
        int32_t code;
        int32_t samples;
    } decoded[] = {{RECMUX_AUDIO_G711_ALAW, 320},
                   {RECMUX_AUDIO_IMA_ADPCM, 632},
                   {RECMUX_AUDIO_IMA_ADPCM_WAVE, 633}};
    for (const auto &c : decoded) {
        DeviceAudio audio;
        audio.Reset(c.code);
        Received chunk;
        EXPECT_TRUE(Feed(audio, Bytes(payload.begin(), payload.begin() + 320), chunk));
        EXPECT_EQ(chunk.blocks, (std::vector<int32_t>{2 * c.samples})) << c.code;
    }
}

TEST(DeviceAudioFraming, UndecodableBlocksGoInAsRawPcm)
{
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_G711_ALAW_ALT);
    const Bytes block = WithHeader(Pattern(86), 41);  // 82 samples: not G.711
    Received received;
    EXPECT_TRUE(Feed(audio, block, received));
    EXPECT_EQ(received.bytes, Bytes(block.begin() + 4, block.end()));
}

TEST(DeviceAudioFraming, EmptyNullAndNotReadyBuffersAddNothing)
{
    const Bytes packet = Headerless(Tone(160));
    DeviceAudio audio;
    Received received;
    EXPECT_FALSE(Feed(audio, packet, received));
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

TEST(DeviceAudioCarry, G711In160BytePacketsLosesNoSample)
{
    const Pcm tone = Tone(1600);
    const Bytes payload = Headerless(tone);
    DeviceAudio split;
    split.Reset(RECMUX_AUDIO_G711_ALAW);
    Received pieces;
    for (size_t at = 0; at < payload.size(); at += 160) {
        const bool completes = (at / 160) % 2 == 1;
        EXPECT_EQ(Feed(split, Bytes(payload.begin() + at, payload.begin() + at + 160), pieces), completes);
    }
    EXPECT_EQ(pieces.Samples().size(), 1600u);
    EXPECT_EQ(split.CarriedBytes(), 0u);

    DeviceAudio whole;
    whole.Reset(RECMUX_AUDIO_G711_ALAW);
    Received once;
    EXPECT_TRUE(Feed(whole, payload, once));
    EXPECT_EQ(pieces.bytes, once.bytes);
    EXPECT_EQ(once.Samples(), Reference(ZK_VOICE_G711_ALAW, Encode(ZK_VOICE_G711_ALAW, tone, 160)));
}

TEST(DeviceAudioCarry, UnevenPacketsMatchTheWholeBuffer)
{
    const Bytes payload = Pattern(2960, 3);
    const size_t sizes[] = {1, 100, 219, 320, 333, 7, 0, 640, 380, 960};
    // A stateful codec and the raw-PCM path.
    for (int32_t code : {RECMUX_AUDIO_IMA_ADPCM, RECMUX_AUDIO_G726_40}) {
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

TEST(DeviceAudioCarry, CarryWaitsThroughVoiceFramesAndEndsWithANewCodec)
{
    const Bytes headerless = Headerless(Tone(320));
    const Bytes first(headerless.begin(), headerless.begin() + 160);
    const Bytes second(headerless.begin() + 160, headerless.end());
    DeviceAudio audio;
    audio.Reset(RECMUX_AUDIO_G711_ALAW_ALT);
    Received received;
    Feed(audio, first, received);
    EXPECT_TRUE(Feed(audio, Encode(ZK_VOICE_G711_ALAW, Tone(160), 80), received));
    EXPECT_EQ(audio.CarriedBytes(), 160u);
    EXPECT_TRUE(Feed(audio, second, received));
    EXPECT_EQ(received.blocks, (std::vector<int32_t>{160, 160, 640}));
    const Pcm samples = received.Samples();
    EXPECT_EQ(Pcm(samples.begin() + 160, samples.end()),
              Reference(ZK_VOICE_G711_ALAW, Encode(ZK_VOICE_G711_ALAW, Tone(320), 160)));

    Feed(audio, first, received);
    audio.Reset(12);
    EXPECT_EQ(audio.CarriedBytes(), 160u) << "an unknown code keeps the codec, and its carry";
    audio.Reset(RECMUX_AUDIO_G711_ULAW_ALT);
    EXPECT_EQ(audio.CarriedBytes(), 0u);
}

}  // namespace
}  // namespace recmux
