// Codec identifiers and the sample-count rules of each family.
#pragma once

#include <cstdint>
#include <optional>

namespace recmux::voice {

enum class Family : uint8_t { g711, ima_adpcm, g726, adaptive2 };
enum class G711Law : uint8_t { alaw, ulaw };
enum class AdpcmLayout : uint8_t {
    dvi_header, // 3: predictor and step index, high nibble first
    wave_block, // 35: first sample and step index, low nibble first
    headerless, // 67: codes only, high nibble first
};

struct Codec {
    Family family;
    G711Law law;        // G.711
    bool swapped;       // G.711: code bytes of each word swapped
    AdpcmLayout layout; // IMA ADPCM
    unsigned bits;      // G.726 and identifier 68: bits per code
    bool msb_first;     // G.726 packing
};

std::optional<Codec> find_codec(int16_t identifier);

// Whether the encoder takes this many samples; holds for unsupported identifiers too.
bool encoder_count_ok(int16_t identifier, uint16_t samples);

// Samples a frame of payload_words decodes to, or nothing when the family refuses it.
std::optional<uint16_t> decoded_count(const Codec &codec, unsigned payload_words);

} // namespace recmux::voice
