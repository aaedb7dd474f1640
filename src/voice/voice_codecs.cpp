#include "voice_codecs.h"

#include <recmux/zk_voice.h>

namespace recmux::voice {

namespace {

constexpr unsigned max_frame_samples = 480;
constexpr unsigned sample_step = 80;

Codec g711(G711Law law, bool swapped)
{
    return {Family::g711, law, swapped, AdpcmLayout::dvi_header, 0, false};
}

Codec ima_adpcm(AdpcmLayout layout)
{
    return {Family::ima_adpcm, G711Law::alaw, false, layout, 0, false};
}

Codec g726(unsigned bits, bool msb_first)
{
    return {Family::g726, G711Law::alaw, false, AdpcmLayout::dvi_header, bits, msb_first};
}

Codec adaptive2()
{
    return {Family::adaptive2, G711Law::alaw, false, AdpcmLayout::dvi_header, 2, false};
}

// The families with a fixed number of bits per sample decode whole encoder frames only.
bool fixed_rate_count_ok(unsigned count)
{
    return count <= max_frame_samples + 1 && count % sample_step == 0;
}

} // namespace

std::optional<Codec> find_codec(int16_t identifier)
{
    switch (identifier) {
    case ZK_VOICE_G711_ALAW: return g711(G711Law::alaw, false);
    case ZK_VOICE_G711_ULAW: return g711(G711Law::ulaw, false);
    case ZK_VOICE_G711_ALAW_SWAPPED: return g711(G711Law::alaw, true);
    case ZK_VOICE_G711_ULAW_SWAPPED: return g711(G711Law::ulaw, true);
    case ZK_VOICE_IMA_ADPCM: return ima_adpcm(AdpcmLayout::dvi_header);
    case ZK_VOICE_IMA_ADPCM_WAVE: return ima_adpcm(AdpcmLayout::wave_block);
    case ZK_VOICE_IMA_ADPCM_RAW: return ima_adpcm(AdpcmLayout::headerless);
    case ZK_VOICE_G726_16: return g726(2, false);
    case ZK_VOICE_G726_24: return g726(3, false);
    case ZK_VOICE_G726_32: return g726(4, false);
    case ZK_VOICE_G726_40: return g726(5, false);
    case ZK_VOICE_G726_16_MSB: return g726(2, true);
    case ZK_VOICE_G726_24_MSB: return g726(3, true);
    case ZK_VOICE_G726_32_MSB: return g726(4, true);
    case ZK_VOICE_G726_40_MSB: return g726(5, true);
    case ZK_VOICE_ADAPTIVE2: return adaptive2();
    default: return std::nullopt;
    }
}

bool encoder_count_ok(int16_t identifier, uint16_t samples)
{
    // Unsigned on purpose: a count of 0 wraps far above the limit.
    if (static_cast<uint16_t>(samples - 1) > max_frame_samples)
        return false;
    const unsigned coded = identifier == ZK_VOICE_IMA_ADPCM_WAVE ? samples - 1u : samples;
    return coded % sample_step == 0;
}

std::optional<uint16_t> decoded_count(const Codec &codec, unsigned payload_words)
{
    const unsigned bits = payload_words * 16;
    switch (codec.family) {
    case Family::g711:
        if (!fixed_rate_count_ok(payload_words * 2))
            return std::nullopt;
        return static_cast<uint16_t>(payload_words * 2);
    case Family::g726:
    case Family::adaptive2:
        if (!fixed_rate_count_ok(bits / codec.bits))
            return std::nullopt;
        return static_cast<uint16_t>(bits / codec.bits);
    case Family::ima_adpcm:
        // Every layout is held to the rule of the WAVE block, whose header is two words.
        if (payload_words < 2)
            return std::nullopt;
        switch (codec.layout) {
        case AdpcmLayout::dvi_header: return static_cast<uint16_t>((payload_words - 2) * 4);
        case AdpcmLayout::wave_block: return static_cast<uint16_t>((payload_words - 2) * 4 + 1);
        case AdpcmLayout::headerless: return static_cast<uint16_t>(payload_words * 4);
        }
    }
    return std::nullopt;
}

} // namespace recmux::voice
