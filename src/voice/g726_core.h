// ITU-T G.726 on 14-bit uniform PCM, one frame of codes at a time; the variable
// names are the Recommendation's, in lower case.
#pragma once

#include <cstdint>

namespace recmux::voice {

// The adaptive state in a naturally aligned working copy, field for field as in
// VoiceG726State after its two 16-bit leading fields.
struct G726Vars {
    int32_t a[2];
    int32_t ap;
    int32_t b[6];
    int32_t dml;
    int32_t dms;
    int32_t dq[6];
    int32_t pk[2];
    int32_t sr[2];
    int32_t td;
    int32_t yl;
    int32_t yu;
};

void g726_vars_reset(G726Vars &s);

// bits is 2..5; other values do nothing. Input samples are 16-bit linear and enter
// G.726 as 14-bit sl = sample >> 2; codes are right-justified, one per byte.
void g726_encode_codes(G726Vars &s, unsigned bits, const int16_t *pcm, unsigned n, uint8_t *codes);

// Output samples are 4 * sr with sr limited to 14 bits (-32768..32764).
void g726_decode_codes(G726Vars &s, unsigned bits, const uint8_t *codes, unsigned n, int16_t *pcm);

} // namespace recmux::voice
