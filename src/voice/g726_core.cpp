#include "g726_core.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <iterator>

namespace recmux::voice {

namespace {

// Quantizer decision levels (DLN units), reconstruction levels DQLN, scale-factor
// multipliers W(I) (in units of Y, 2^-9) and rate-change values F(I) (2^-9) per code.
// The step functions take the rate as a template argument: the recursion is
// serial, so the gain is in folding the tables and the quantizer loop.
struct G726Rate {
    const int16_t *decision;
    int levels;      // entries in decision
    int sign_code;   // codes at or above this are negative
    bool zero_code;  // whether a positive difference may take code 0
    int leak_shift;  // zero-predictor leak, 2^-8 or (40 kbit/s) 2^-9
    const int16_t *dqln;
    const int32_t *wi;
    const int16_t *fi;
};

constexpr int16_t decision16[] = {261};
constexpr int16_t dqln16[] = {116, 365, 365, 116};
constexpr int32_t wi16[] = {-704, 14048, 14048, -704};
constexpr int16_t fi16[] = {0, 0xE00, 0xE00, 0};

constexpr int16_t decision24[] = {8, 218, 331};
constexpr int16_t dqln24[] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int32_t wi24[] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t fi24[] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

constexpr int16_t decision32[] = {-124, 80, 178, 246, 300, 349, 400};
constexpr int16_t dqln32[] = {-2048, 4, 135, 213, 273, 323, 373, 425,
                          425,   373, 323, 273, 213, 135, 4,  -2048};
constexpr int32_t wi32[] = {-384,  576,  1312, 2048, 3584, 6336, 11360, 35904,
                        35904, 11360, 6336, 3584, 2048, 1312, 576,  -384};
constexpr int16_t fi32[] = {0,     0,     0,     0x200, 0x200, 0x200, 0x600, 0xE00,
                        0xE00, 0x600, 0x200, 0x200, 0x200, 0,     0,     0};

constexpr int16_t decision40[] = {-122, -16, 68, 139, 198, 250, 298, 339,
                              378,  413, 445, 475, 502, 528, 553};
constexpr int16_t dqln40[] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395, 429,
                          459,   488, 514, 539, 566, 566, 539, 514, 488, 459, 429,
                          395,   358, 318, 274, 224, 169, 104, 28,  -66, -2048};
constexpr int32_t wi40[] = {448,   448,   768,   1248,  1280,  1312,  1856,  3200,
                        4512,  5728,  7008,  8960,  11456, 14080, 16928, 22272,
                        22272, 16928, 14080, 11456, 8960,  7008,  5728,  4512,
                        3200,  1856,  1312,  1280,  1248,  768,   448,   448};
constexpr int16_t fi40[] = {0,     0,     0,     0,     0,     0x200, 0x200, 0x200,
                        0x200, 0x200, 0x400, 0x600, 0x800, 0xA00, 0xC00, 0xC00,
                        0xC00, 0xC00, 0xA00, 0x800, 0x600, 0x400, 0x200, 0x200,
                        0x200, 0x200, 0x200, 0,     0,     0,     0,     0};

constexpr G726Rate rate16 = {decision16, 1, 2, true, 8, dqln16, wi16, fi16};
constexpr G726Rate rate24 = {decision24, 3, 4, false, 8, dqln24, wi24, fi24};
constexpr G726Rate rate32 = {decision32, 7, 8, false, 8, dqln32, wi32, fi32};
constexpr G726Rate rate40 = {decision40, 15, 16, false, 9, dqln40, wi40, fi40};

constexpr int float_zero = 32; // mantissa 1/2, exponent 0: the floating-point "zero"

int bits_of(int magnitude)
{
    return std::bit_width(static_cast<unsigned>(magnitude));
}

int16_t wrap16(int v)
{
    return static_cast<int16_t>(v);
}

// The coefficient half of FMULT depends on a 13-bit magnitude only: its exponent
// and mantissa, exp << 6 | mant, come from a table.
constexpr std::array<uint16_t, 8192> coefficient_float_table()
{
    std::array<uint16_t, 8192> table{};
    for (int anmag = 0; anmag < 8192; ++anmag) {
        const int anexp = std::bit_width(static_cast<unsigned>(anmag));
        const int anmant = anmag == 0 ? 32 : (anmag << 6) >> anexp;
        table[anmag] = static_cast<uint16_t>(anexp << 6 | anmant);
    }
    return table;
}

constexpr std::array<uint16_t, 8192> coefficient_float = coefficient_float_table();

// FMULT: an is a 16-bit predictor coefficient, srn an 11-bit floating-point value.
// Written without branches: the signs are data and would mispredict.
inline int fmult(int an, int srn)
{
    const int anfloat = coefficient_float[std::abs(an >> 2) & 8191];
    const int wanexp = (anfloat >> 6) + ((srn >> 6) & 15);
    const int wanmant = ((anfloat & 63) * (srn & 63) + 48) >> 4;
    // (wanmant << 7) scaled by 2^(wanexp - 26) and kept to 15 bits; wanexp <= 28.
    const int wanmag = ((wanmant << 11) >> (30 - wanexp)) & 32767;
    const int negative = ((srn >> 10) ^ (an >> 15)) & 1;
    return (wanmag ^ -negative) + negative;
}

// FLOATA / FLOATB: sign, 4-bit exponent, 6-bit mantissa.
int to_float(int sign, int magnitude)
{
    const int exp = bits_of(magnitude);
    const int mant = magnitude == 0 ? float_zero : (magnitude << 6) >> exp;
    return (sign << 10) + (exp << 6) + mant;
}

struct Prediction {
    int sez; // partial signal estimate (zeros only)
    int se;  // signal estimate
};

// FMULT, ACCUM
inline Prediction predict(const G726Vars &s)
{
    int sezi = 0;
    for (int i = 0; i < 6; ++i)
        sezi += fmult(s.b[i], s.dq[i]);
    sezi = wrap16(sezi);
    const int sei = wrap16(sezi + fmult(s.a[1], s.sr[1]) + fmult(s.a[0], s.sr[0]));
    return {sezi >> 1, sei >> 1};
}

// MIX
int scale_factor(const G726Vars &s)
{
    const int al = s.ap >= 256 ? 64 : s.ap >> 2;
    const int ylt = s.yl >> 6;
    const int dif = s.yu - ylt;
    const int prodm = (std::abs(dif) * al) >> 6;
    return ylt + (dif < 0 ? -prodm : prodm);
}

// LOG, SUBTB, QUAN
template <const G726Rate &R>
int quantize(int d, int y)
{
    const int dqm = std::abs(d);
    const int exp = dqm == 0 ? 0 : bits_of(dqm) - 1;
    const int dl = (exp << 7) + (((dqm << 7) >> exp) & 127);
    const int dln = dl - (y >> 2);
    int i = 0;
    for (int k = 0; k < R.levels; ++k)
        i += dln >= R.decision[k];
    constexpr int top = 2 * R.sign_code - 1;
    if (d < 0)
        return top - i;
    return i == 0 && !R.zero_code ? top : i;
}

struct Difference {
    int dqs;   // sign
    int dqmag; // magnitude
};

// ADDA, ANTILOG
template <const G726Rate &R>
Difference reconstruct(int code, int y)
{
    const int dqs = code >= R.sign_code ? 1 : 0;
    const int dql = R.dqln[code] + (y >> 2);
    if (dql < 0)
        return {dqs, 0};
    const int dex = (dql >> 7) & 15;
    const int dqt = 128 + (dql & 127);
    return {dqs, (dqt << 7) >> (14 - dex)};
}

// TRANS
bool transition(const G726Vars &s, int dqmag)
{
    if (s.td == 0)
        return false;
    const int ylint = s.yl >> 15;
    const int ylfrac = (s.yl >> 10) & 31;
    const int thr2 = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
    const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    return dqmag > dqthr;
}

// UPA2, LIMC: the new a2.
int update_a2(const G726Vars &s, int pk0, bool sigpk)
{
    const int a2 = s.a[1];
    int uga2 = 0;
    if (!sigpk) {
        const int fa1 = 4 * std::clamp(s.a[0], -8191, 8191);
        const int fa = (pk0 ^ s.pk[0]) ? fa1 : -fa1;
        uga2 = (((pk0 ^ s.pk[1]) ? -16384 : 16384) + fa) >> 7;
    }
    return std::clamp(a2 - (a2 >> 7) + uga2, -12288, 12288);
}

// UPA1, LIMD: the new a1.
int update_a1(const G726Vars &s, int pk0, bool sigpk, int a2p)
{
    const int a1 = s.a[0];
    const int uga1 = sigpk ? 0 : ((pk0 ^ s.pk[0]) ? -192 : 192);
    const int a1ul = 15360 - a2p;
    return std::clamp(a1 - (a1 >> 8) + uga1, -a1ul, a1ul);
}

// UPB
template <const G726Rate &R>
void update_b(G726Vars &s, Difference dq)
{
    const int gain = dq.dqmag != 0 ? 128 : 0;
    for (int i = 0; i < 6; ++i) {
        const int ugb = (dq.dqs ^ ((s.dq[i] >> 10) & 1)) ? -gain : gain;
        s.b[i] = wrap16(s.b[i] - (s.b[i] >> R.leak_shift) + ugb);
    }
}

// FILTA, FILTB, SUBTC, FILTC, TRIGA
void update_speed(G726Vars &s, int fi, int y, bool tr, bool tdp)
{
    s.dms += (fi - s.dms) >> 5;
    s.dml += ((fi << 2) - s.dml) >> 7;
    if (tr) {
        s.ap = 256;
        return;
    }
    const bool steady = y >= 1536 && std::abs((s.dms << 2) - s.dml) < (s.dml >> 3) && !tdp;
    s.ap += ((steady ? 0 : 512) - s.ap) >> 4;
}

template <const G726Rate &R>
void update(G726Vars &s, int code, int y, Difference dq, int sr, int dqsez)
{
    const int pk0 = dqsez < 0 ? 1 : 0;
    const bool sigpk = dqsez == 0;
    const bool tr = transition(s, dq.dqmag);

    // FUNCTW, FILTD, LIMB, FILTE
    s.yu = std::clamp(y + ((R.wi[code] - y) >> 5), 544, 5120);
    s.yl += s.yu + ((-s.yl) >> 6);

    const int a2p = update_a2(s, pk0, sigpk);
    const bool tdp = a2p < -11776; // TONE
    if (tr) { // TRIGB
        std::fill(std::begin(s.a), std::end(s.a), 0);
        std::fill(std::begin(s.b), std::end(s.b), 0);
    } else {
        s.a[0] = update_a1(s, pk0, sigpk, a2p);
        s.a[1] = a2p;
        update_b<R>(s, dq);
    }

    std::copy_backward(s.dq, s.dq + 5, s.dq + 6);
    s.dq[0] = to_float(dq.dqs, dq.dqmag);
    s.sr[1] = s.sr[0];
    s.sr[0] = sr < 0 ? to_float(1, -sr & 32767) : to_float(0, sr);
    s.pk[1] = s.pk[0];
    s.pk[0] = pk0;
    s.td = !tr && tdp;

    update_speed(s, R.fi[code], y, tr, tdp);
}

// Shared tail of encoder and decoder: ADDB, ADDC and the adaptation.
template <const G726Rate &R>
int finish_step(G726Vars &s, int code, int y, Prediction p)
{
    const Difference dq = reconstruct<R>(code, y);
    const int dqi = dq.dqs ? -dq.dqmag : dq.dqmag;
    const int sr = wrap16(p.se + dqi);
    const int dqsez = wrap16(dqi + p.sez);
    update<R>(s, code, y, dq, sr, dqsez);
    return sr;
}

template <const G726Rate &R>
void encode_codes(G726Vars &s, const int16_t *pcm, unsigned n, uint8_t *codes)
{
    for (unsigned k = 0; k < n; ++k) {
        const Prediction p = predict(s);
        const int y = scale_factor(s);
        const int code = quantize<R>((pcm[k] >> 2) - p.se, y);
        finish_step<R>(s, code, y, p);
        codes[k] = static_cast<uint8_t>(code);
    }
}

template <const G726Rate &R>
void decode_codes(G726Vars &s, const uint8_t *codes, unsigned n, int16_t *pcm)
{
    for (unsigned k = 0; k < n; ++k) {
        const Prediction p = predict(s);
        const int y = scale_factor(s);
        const int sr = finish_step<R>(s, codes[k], y, p);
        pcm[k] = static_cast<int16_t>(4 * std::clamp(sr, -8192, 8191));
    }
}

} // namespace

void g726_vars_reset(G726Vars &s)
{
    s = G726Vars{};
    std::fill(std::begin(s.dq), std::end(s.dq), float_zero);
    std::fill(std::begin(s.sr), std::end(s.sr), float_zero);
    s.yl = 34816;
    s.yu = 544;
}

void g726_encode_codes(G726Vars &s, unsigned bits, const int16_t *pcm, unsigned n, uint8_t *codes)
{
    switch (bits) {
    case 2: encode_codes<rate16>(s, pcm, n, codes); break;
    case 3: encode_codes<rate24>(s, pcm, n, codes); break;
    case 4: encode_codes<rate32>(s, pcm, n, codes); break;
    case 5: encode_codes<rate40>(s, pcm, n, codes); break;
    }
}

void g726_decode_codes(G726Vars &s, unsigned bits, const uint8_t *codes, unsigned n, int16_t *pcm)
{
    switch (bits) {
    case 2: decode_codes<rate16>(s, codes, n, pcm); break;
    case 3: decode_codes<rate24>(s, codes, n, pcm); break;
    case 4: decode_codes<rate32>(s, codes, n, pcm); break;
    case 5: decode_codes<rate40>(s, codes, n, pcm); break;
    }
}

} // namespace recmux::voice
