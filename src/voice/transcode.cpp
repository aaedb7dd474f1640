// The exported transcoder: frames converted in place between fixed pairs of identifiers.
#include <cstddef>

#include <recmux/zk_voice.h>

static_assert(offsetof(VoiceTransState, decoder) == 2048);
static_assert(sizeof(VoiceTransState) == 2100);

namespace {

// The most any target encoder writes (G.711, 480 samples); the caller's buffer ends there.
constexpr unsigned max_convertible_words = (ZK_VOICE_ENCODED_MAX_BYTES - ZK_VOICE_FRAME_HEADER_BYTES) / 2;

struct Conversion {
    int16_t mode;
    int16_t from;
    int16_t to;
};

const Conversion conversions[] = {
    {ZK_VOICE_TRANS_ALAW_SWAPPED, ZK_VOICE_G711_ALAW_SWAPPED, ZK_VOICE_G711_ALAW},
    {ZK_VOICE_TRANS_ULAW_SWAPPED, ZK_VOICE_G711_ULAW_SWAPPED, ZK_VOICE_G711_ULAW},
    {ZK_VOICE_TRANS_ADPCM_RAW, ZK_VOICE_IMA_ADPCM_RAW, ZK_VOICE_IMA_ADPCM},
    {ZK_VOICE_TRANS_ADAPTIVE2, ZK_VOICE_ADAPTIVE2, ZK_VOICE_G726_16},
};

const Conversion *find_mode(int16_t mode)
{
    for (const Conversion &c : conversions)
        if (c.mode == mode)
            return &c;
    return nullptr;
}

// The decoder sits in a 52-byte area; the codec reads only its family's bytes of it.
VoiceCodecState *decoder_of(VoiceTransState *record)
{
    return reinterpret_cast<VoiceCodecState *>(&record->decoder);
}

void swap_payload_bytes(uint8_t *frame)
{
    uint8_t *payload = frame + ZK_VOICE_FRAME_HEADER_BYTES;
    for (unsigned w = 0; w < frame[2]; ++w) {
        const uint8_t low = payload[2 * w];
        payload[2 * w] = payload[2 * w + 1];
        payload[2 * w + 1] = low;
    }
}

} // namespace

extern "C" RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_TransCodeReset(VoiceTransState *record,
                                                                   int16_t mode)
{
    if (!record)
        return ZK_VOICE_E_TRANS_RECORD;
    const Conversion *conversion = find_mode(mode);
    if (!conversion)
        return ZK_VOICE_E_TRANS_MODE;
    ZK_VOICE_DecReset(decoder_of(record), conversion->from);
    ZK_VOICE_EncReset(&record->encoder.state, conversion->to);
    return ZK_VOICE_OK;
}

extern "C" RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_TransCodeFrame(VoiceTransState *record,
                                                                   uint8_t *frame)
{
    if (!record)
        return ZK_VOICE_E_TRANS_RECORD;
    if (!frame)
        return ZK_VOICE_E_NULL_INPUT;
    const int16_t target = record->encoder.state.codec;
    if (target < ZK_VOICE_G711_ALAW || target > ZK_VOICE_G726_16)
        return ZK_VOICE_E_TRANS_MODE;
    // Checked before any payload byte is touched, since the buffer may end at 484 bytes.
    if (frame[2] > max_convertible_words)
        return ZK_VOICE_E_DEC_LENGTH;
    if (target == ZK_VOICE_G711_ALAW || target == ZK_VOICE_G711_ULAW) {
        swap_payload_bytes(frame);
        return ZK_VOICE_OK;
    }
    // Decoding 67 or 68 leaves the frame as it was, and a refused count writes
    // nothing, so a failure returns with the frame unchanged.
    int16_t pcm[ZK_VOICE_PCM_MAX];
    uint16_t samples = 0;
    const int32_t decoded = ZK_VOICE_DecodeFrame(decoder_of(record), frame, pcm, &samples);
    if (decoded != ZK_VOICE_OK)
        return decoded;
    return ZK_VOICE_EncodeFrame(&record->encoder.state, pcm, frame, samples);
}
