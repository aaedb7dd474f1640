// Identifier 68: a 2-bit adaptive differential codec on the structure and constants of
// G.726 at 16 kbit/s, with its own fixed-point arithmetic. Its frames decode only if
// every step below is bit-exact, so the variable names follow the codec's definition.
#pragma once

#include <cstdint>

#include <recmux/zk_voice.h>

namespace recmux::voice {

// The record's variables in a naturally aligned working copy; b[0] is B1 and dq[0]
// is DQ1, the newest difference.
struct Adaptive2 {
    int16_t sr1, sr2;
    int16_t a1, a2;
    int16_t b[6];
    int16_t dq[6];
    int16_t dms, dml, ap, yu, td, p1, p2;
    int32_t yl;
};

Adaptive2 adaptive2_load(const VoiceAdaptive2State &state);
void adaptive2_store(const Adaptive2 &s, VoiceAdaptive2State &state);

struct Adaptive2Step {
    uint8_t code;
    int32_t r; // reconstructed value, before the decoder limits it to 16 bits
};

Adaptive2Step adaptive2_encode_sample(Adaptive2 &s, int16_t x);
int32_t adaptive2_decode_sample(Adaptive2 &s, unsigned code);

// Eight codes to a word, the first in bits 15 and 14.
uint16_t adaptive2_pack_word(const uint8_t codes[8]);
void adaptive2_unpack_word(uint16_t word, uint8_t codes[8]);

void adaptive2_reset(VoiceAdaptive2State &state);
// n is a multiple of 8. Returns the payload length in words.
unsigned adaptive2_encode(VoiceAdaptive2State &state, const int16_t *pcm, unsigned n,
                          uint8_t *payload);
// Writes 8 * payload_words samples.
void adaptive2_decode(VoiceAdaptive2State &state, const uint8_t *payload, unsigned payload_words,
                      int16_t *pcm);

} // namespace recmux::voice
