// The exported voice functions: argument checks, the frame header and dispatch.
#include <cstring>

#include "adaptive2.h"
#include "g711.h"
#include "g726.h"
#include "ima_adpcm.h"
#include "voice_codecs.h"
#include <recmux/zk_voice.h>

static_assert(sizeof(VoiceG711State) == 2);
static_assert(sizeof(VoiceAdpcmState) == 6);
static_assert(sizeof(VoiceG726State) == 102);
static_assert(sizeof(VoiceAdaptive2State) == 52);
static_assert(sizeof(VoiceCodecState) == 128);

namespace recmux::voice {

namespace {

constexpr char version[] = "Zokal_AUDIO_VERSION_V3.0.6.31";
static_assert(sizeof version == ZK_VOICE_VERSION_BYTES);


enum class Direction { encoder, decoder };

int32_t reset(VoiceCodecState *state, int16_t identifier, Direction direction)
{
    if (!state)
        return ZK_VOICE_E_NULL_STATE;
    const auto codec = find_codec(identifier);
    if (codec && codec->family == Family::ima_adpcm)
        ima_adpcm_reset(state->adpcm);
    if (codec && codec->family == Family::g726)
        g726_reset(state->g726, codec->bits);
    if (codec && codec->family == Family::adaptive2)
        adaptive2_reset(state->adaptive2);
    // Stored even when unsupported, so that no frame call runs with a stale codec.
    state->codec = identifier;
    if (codec)
        return ZK_VOICE_OK;
    return direction == Direction::encoder ? ZK_VOICE_E_ENC_CODEC : ZK_VOICE_E_DEC_CODEC;
}

unsigned encode_payload(const Codec &codec, VoiceCodecState &state, const int16_t *pcm,
                        unsigned n, uint8_t *payload)
{
    switch (codec.family) {
    case Family::g711: return g711_encode(codec.law, codec.swapped, pcm, n, payload);
    case Family::ima_adpcm: return ima_adpcm_encode(codec.layout, state.adpcm, pcm, n, payload);
    case Family::g726: return g726_encode(state.g726, codec.bits, codec.msb_first, pcm, n, payload);
    case Family::adaptive2: return adaptive2_encode(state.adaptive2, pcm, n, payload);
    }
    return 0;
}

void decode_payload(const Codec &codec, VoiceCodecState &state, uint8_t *payload, unsigned words,
                    unsigned n, int16_t *pcm)
{
    switch (codec.family) {
    case Family::g711: g711_decode(codec.law, codec.swapped, payload, n, pcm); break;
    case Family::ima_adpcm: ima_adpcm_decode(codec.layout, state.adpcm, payload, words, pcm); break;
    case Family::g726: g726_decode(state.g726, codec.bits, codec.msb_first, payload, words, pcm); break;
    case Family::adaptive2: adaptive2_decode(state.adaptive2, payload, words, pcm); break;
    }
}

} // namespace

} // namespace recmux::voice

using namespace recmux::voice;

extern "C" RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_GetVersion(char *buffer)
{
    if (!buffer)
        return -1;
    std::memcpy(buffer, version, sizeof version);
    return ZK_VOICE_OK;
}

extern "C" RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_EncReset(VoiceCodecState *state, int16_t codec)
{
    return reset(state, codec, Direction::encoder);
}

extern "C" RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_DecReset(VoiceCodecState *state, int16_t codec)
{
    return reset(state, codec, Direction::decoder);
}

extern "C" RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_EncodeFrame(VoiceCodecState *state,
                                                                const int16_t *pcm, uint8_t *frame,
                                                                uint16_t samples)
{
    if (!state)
        return ZK_VOICE_E_NULL_STATE;
    if (!pcm)
        return ZK_VOICE_E_NULL_INPUT;
    if (!frame)
        return ZK_VOICE_E_NULL_OUTPUT;
    if (!encoder_count_ok(state->codec, samples))
        return ZK_VOICE_E_ENC_SAMPLES;
    const auto codec = find_codec(state->codec);
    if (!codec)
        return ZK_VOICE_E_ENC_CODEC;
    const unsigned words = encode_payload(*codec, *state, pcm, samples, frame + ZK_VOICE_FRAME_HEADER_BYTES);
    frame[0] = 0x00;
    frame[1] = 0x01;
    frame[2] = static_cast<uint8_t>(words);
    frame[3] = 0x00;
    return ZK_VOICE_OK;
}

extern "C" RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_DecodeFrame(VoiceCodecState *state,
                                                                uint8_t *frame, int16_t *pcm,
                                                                uint16_t *samples)
{
    if (!state)
        return ZK_VOICE_E_NULL_STATE;
    if (!frame)
        return ZK_VOICE_E_NULL_INPUT;
    if (!pcm || !samples)
        return ZK_VOICE_E_NULL_OUTPUT;
    *samples = 0;
    if ((frame[1] & 3) != 1)
        return ZK_VOICE_E_DEC_MARKER;
    const unsigned words = frame[2];
    if (words == 0)
        return ZK_VOICE_E_DEC_LENGTH;
    const auto codec = find_codec(state->codec);
    if (!codec)
        return ZK_VOICE_E_DEC_CODEC;
    const auto count = decoded_count(*codec, words);
    if (!count)
        return ZK_VOICE_E_DEC_LENGTH;
    *samples = *count;
    decode_payload(*codec, *state, frame + ZK_VOICE_FRAME_HEADER_BYTES, words, *count, pcm);
    return ZK_VOICE_OK;
}
