// Bit packing of G.726 codes. Eight codes of b bits fill exactly b bytes, so a
// payload is a run of such groups and each group can be converted on its own.
#pragma once

#include <cstdint>

namespace recmux::voice {

constexpr unsigned g726_group_codes = 8;

void g726_pack_group(const uint8_t *codes, unsigned bits, bool msb_first, uint8_t *out);
void g726_unpack_group(const uint8_t *in, unsigned bits, bool msb_first, uint8_t *codes);

// Converts bytes (a multiple of bits) from one packing to the other in place.
void g726_repack(uint8_t *payload, unsigned bytes, unsigned bits, bool to_msb_first);

} // namespace recmux::voice
