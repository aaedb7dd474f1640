// ZK_VOICE_DecodeFrame over every identifier. Input: byte 0 picks the identifier,
// byte 1 says whether bytes 2-3 overwrite the family field a caller could corrupt
// (ADPCM step index, G.726 bits, for identifier 68 the 16-bit word of the record that
// the rest of byte 1 picks), the rest is the frame. The frame lies in a
// zero-filled buffer of the most a header can announce, since reading what the
// header announces is the API's contract; the PCM buffer is exactly as large as
// the family requires.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <recmux/zk_voice.h>

namespace {

const int16_t identifiers[] = {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39,
                               0, 10, 11, 40, 68, 69, -1};

constexpr size_t adaptive2_words = sizeof(VoiceAdaptive2State) / 2;

bool is_adpcm(int16_t codec)
{
    return codec == ZK_VOICE_IMA_ADPCM || codec == ZK_VOICE_IMA_ADPCM_WAVE ||
           codec == ZK_VOICE_IMA_ADPCM_RAW;
}

bool is_g726(int16_t codec)
{
    return (codec >= ZK_VOICE_G726_16 && codec <= ZK_VOICE_G726_40) ||
           (codec >= ZK_VOICE_G726_16_MSB && codec <= ZK_VOICE_G726_40_MSB);
}

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr size_t prefix = 4;
    if (size < prefix)
        return 0;
    const int16_t codec = identifiers[data[0] % (sizeof identifiers / sizeof identifiers[0])];
    const bool corrupt = data[1] & 1;
    const uint16_t field = static_cast<uint16_t>(data[2] | data[3] << 8);
    const size_t pcm_room = is_adpcm(codec) ? ZK_VOICE_PCM_MAX : 480;

    VoiceCodecState state;
    ZK_VOICE_DecReset(&state, codec);
    if (corrupt && is_adpcm(codec))
        state.adpcm.step_index = field;
    if (corrupt && is_g726(codec))
        state.g726.bits = field;
    if (corrupt && codec == ZK_VOICE_ADAPTIVE2)
        std::memcpy(state.bytes + 2 * (1 + (data[1] >> 1) % (adaptive2_words - 1)), &field, sizeof field);

    uint8_t frame[ZK_VOICE_FRAME_MAX_BYTES] = {};
    std::memcpy(frame, data + prefix, std::min(size - prefix, sizeof frame));
    auto pcm = std::make_unique<int16_t[]>(pcm_room);
    // Twice over the same buffer: the second call runs on the history of the first
    // and, for 36 to 39, on the payload the first repacked.
    for (int pass = 0; pass < 2; ++pass) {
        uint16_t samples = 0xFFFF;
        const int32_t result = ZK_VOICE_DecodeFrame(&state, frame, pcm.get(), &samples);
        check(result == ZK_VOICE_OK ? samples <= pcm_room : samples == 0);
        if (result == ZK_VOICE_OK && is_adpcm(codec))
            check(state.adpcm.step_index <= 88);
        if (result == ZK_VOICE_OK && is_g726(codec)) {
            for (uint16_t i = 0; i < samples; ++i)
                check(pcm[i] <= 32764);
        }
        // The adaptation's bounds hold for any codes, though not for a corrupted record.
        if (result == ZK_VOICE_OK && codec == ZK_VOICE_ADAPTIVE2 && !corrupt) {
            const VoiceAdaptive2State &s = state.adaptive2;
            check(s.yu >= 544 && s.yu <= 5120);
            check(s.a2 >= -12288 && s.a2 <= 12288);
            check(s.a1 <= 15360 - s.a2 && -s.a1 <= 15360 - s.a2);
        }
    }
    return 0;
}
