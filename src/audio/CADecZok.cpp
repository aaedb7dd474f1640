#include "audio/CADecZok.h"

namespace recmux {
namespace {

enum class Family { G711, G726, Adpcm };

struct CodeEntry {
    int32_t code;
    int16_t identifier;
    Family family;
};

const CodeEntry kCodes[] = {
    {0, ZK_VOICE_G726_40, Family::G726},
    {1, ZK_VOICE_G726_40, Family::G726},
    {2, ZK_VOICE_IMA_ADPCM, Family::Adpcm},
    {3, ZK_VOICE_G726_40_MSB, Family::G726},
    {4, ZK_VOICE_G726_32_MSB, Family::G726},
    {5, ZK_VOICE_G726_24_MSB, Family::G726},
    {6, ZK_VOICE_G726_16_MSB, Family::G726},
    {7, ZK_VOICE_G726_32, Family::G726},
    {8, ZK_VOICE_G726_24, Family::G726},
    {9, ZK_VOICE_G726_16, Family::G726},
    {10, ZK_VOICE_G711_ALAW, Family::G711},
    {11, ZK_VOICE_G711_ULAW, Family::G711},
    {16, ZK_VOICE_IMA_ADPCM_WAVE, Family::Adpcm},
};

const CodeEntry *FindCode(int32_t code)
{
    for (const CodeEntry &entry : kCodes) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

constexpr int32_t kHeaderBytes = 4;

}  // namespace

int32_t CADecZok::IsReady()
{
    return active_ ? 1 : 0;
}

int32_t CADecZok::Reset(int32_t audioTypeCode)
{
    audioTypeCode_ = audioTypeCode;
    const CodeEntry *entry = FindCode(audioTypeCode);
    if (!entry)
        return 0;
    switch (entry->family) {
    case Family::G711:
        active_ = reinterpret_cast<VoiceCodecState *>(&g711_);
        break;
    case Family::G726:
        active_ = &g726_;
        break;
    case Family::Adpcm:
        active_ = reinterpret_cast<VoiceCodecState *>(&adpcm_);
        break;
    }
    return ZK_VOICE_DecReset(active_, entry->identifier) == ZK_VOICE_OK ? 1 : 0;
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
