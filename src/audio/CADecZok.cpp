#include "audio/CADecZok.h"

#include <recmux/recmux_writer.h>

namespace recmux {
namespace {

// The decoder's codes are the recorder's audio types except 6 and 7, which
// select G.726 here: the recorder hands its G.711 over as 10 and 11.
int16_t DecoderCodec(int32_t code)
{
    switch (code) {
    case 6: return ZK_VOICE_G726_16_MSB;
    case 7: return ZK_VOICE_G726_32;
    default: return recmux_audio_voice_codec(code);
    }
}

constexpr int32_t kHeaderBytes = ZK_VOICE_FRAME_HEADER_BYTES;

}  // namespace

int32_t CADecZok::IsReady()
{
    return active_ ? 1 : 0;
}

int32_t CADecZok::Reset(int32_t audioTypeCode)
{
    const int16_t codec = DecoderCodec(audioTypeCode);
    switch (codec) {
    case 0:
        return 0;
    case ZK_VOICE_G711_ALAW:
    case ZK_VOICE_G711_ULAW:
        active_ = reinterpret_cast<VoiceCodecState *>(&g711_);
        break;
    case ZK_VOICE_IMA_ADPCM:
    case ZK_VOICE_IMA_ADPCM_WAVE:
        active_ = reinterpret_cast<VoiceCodecState *>(&adpcm_);
        break;
    default:
        active_ = &g726_;
        break;
    }
    return ZK_VOICE_DecReset(active_, codec) == ZK_VOICE_OK ? 1 : 0;
}

int32_t CADecZok::ReservedA()
{
    return 0;
}

int32_t CADecZok::Decode(uint8_t *frame, int32_t length, int16_t *pcm, uint16_t *samples)
{
    if (!active_ || !frame || length < kHeaderBytes || kHeaderBytes + 2 * frame[2] > length)
        return 0;
    return ZK_VOICE_DecodeFrame(active_, frame, pcm, samples) == ZK_VOICE_OK ? 1 : 0;
}

int32_t CADecZok::ReservedB()
{
    return 1;
}

}  // namespace recmux
