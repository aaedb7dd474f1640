/*
 * Voice codec: G.711 A-law and mu-law, G.726 at 16/24/32/40 kbit/s, IMA ADPCM and
 * a 2-bit adaptive codec, over frames of a 4-byte header and a payload of 16-bit
 * words; and the in-place conversion of frames between some of them.
 *
 * Frame: byte 0 = 0, byte 1 = 1 (a decoder checks only its two low bits),
 * byte 2 = payload length L in 16-bit words (1..255), byte 3 = 0, then 2 * L
 * payload bytes. A frame occupies 4 + 2 * L bytes.
 *
 * State: the caller owns every state record, one per direction and stream,
 * and the library keeps no pointer to it past a call. The codec identifier is
 * its first field; the rest belongs to the family. The space a record must
 * offer depends on the codec: 2 bytes for G.711, 6 for IMA ADPCM, 52 for
 * identifier 68, 102 for G.726, 128 (sizeof(VoiceCodecState)) when the codec
 * is not known in advance. A smaller record may be passed as a
 * VoiceCodecState pointer; the library touches only the bytes of its family.
 *
 * Results: ZK_VOICE_GetVersion returns 0 or -1; every other function returns
 * ZK_VOICE_OK (0) or one of the ZK_VOICE_E_* codes.
 *
 * Threads: the codec has no global state. Calls on different records may run
 * on any threads at once; one record must not be used by two calls at once.
 */
#ifndef ZK_VOICE_H
#define ZK_VOICE_H

#include <stdint.h>

#include "recmux_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Codec identifiers. */
#define ZK_VOICE_G711_ALAW 1
#define ZK_VOICE_G711_ULAW 2
#define ZK_VOICE_IMA_ADPCM 3         /* predictor/step header, first sample in the high nibble */
#define ZK_VOICE_G726_16 4           /* codes packed from the least significant bit */
#define ZK_VOICE_G726_24 5
#define ZK_VOICE_G726_32 6
#define ZK_VOICE_G726_40 7
#define ZK_VOICE_IMA_ADPCM_WAVE 35   /* WAVE block: header holds the first sample */
#define ZK_VOICE_G726_16_MSB 36      /* codes packed from the most significant bit */
#define ZK_VOICE_G726_24_MSB 37
#define ZK_VOICE_G726_32_MSB 38
#define ZK_VOICE_G726_40_MSB 39
#define ZK_VOICE_G711_ALAW_SWAPPED 65 /* the two code bytes of each word swapped */
#define ZK_VOICE_G711_ULAW_SWAPPED 66
#define ZK_VOICE_IMA_ADPCM_RAW 67    /* no header: the state is carried only by the records */
#define ZK_VOICE_ADAPTIVE2 68        /* 2-bit adaptive codec, first code in the top bits of a word */

/* Transcoding modes: source identifier -> target identifier. */
#define ZK_VOICE_TRANS_ALAW_SWAPPED 97 /* 65 -> 1 */
#define ZK_VOICE_TRANS_ULAW_SWAPPED 98 /* 66 -> 2 */
#define ZK_VOICE_TRANS_ADPCM_RAW 99    /* 67 -> 3 */
#define ZK_VOICE_TRANS_ADAPTIVE2 100   /* 68 -> 4 */

/* Result codes. */
#define ZK_VOICE_OK 0
#define ZK_VOICE_E_ENC_CODEC ((int32_t)0xA1220001u)   /* unsupported identifier (encoder) */
#define ZK_VOICE_E_ENC_SAMPLES ((int32_t)0xA1220002u) /* sample count not accepted */
#define ZK_VOICE_E_DEC_CODEC ((int32_t)0xA1220011u)   /* unsupported identifier (decoder) */
#define ZK_VOICE_E_DEC_LENGTH ((int32_t)0xA1220012u)  /* payload length 0 or not accepted */
#define ZK_VOICE_E_DEC_MARKER ((int32_t)0xA1220013u)  /* header byte 1 lacks binary 01 */
#define ZK_VOICE_E_NULL_STATE ((int32_t)0xA1220101u)
#define ZK_VOICE_E_NULL_INPUT ((int32_t)0xA1220102u)
#define ZK_VOICE_E_NULL_OUTPUT ((int32_t)0xA1220103u)
#define ZK_VOICE_E_TRANS_RECORD ((int32_t)0xA1221001u) /* null transcoding record */
#define ZK_VOICE_E_TRANS_MODE ((int32_t)0xA1221002u)   /* unsupported or never-reset mode */

#define ZK_VOICE_FRAME_HEADER_BYTES 4  /* marker, marker, payload words, 0 */
#define ZK_VOICE_VERSION_BYTES 30      /* version string with its terminating zero */
#define ZK_VOICE_ENCODED_MAX_BYTES 484 /* largest frame the encoder writes */
#define ZK_VOICE_FRAME_MAX_BYTES 514   /* largest frame a header can announce */
#define ZK_VOICE_PCM_MAX 1020          /* samples one decoded frame can hold (IMA ADPCM) */

#pragma pack(push, 2)

typedef struct VoiceG711State {
    int16_t codec;
} VoiceG711State;

typedef struct VoiceAdpcmState {
    int16_t codec;
    int16_t predictor;   /* last reconstructed sample */
    uint16_t step_index; /* 0..88; larger values are read as 88 */
} VoiceAdpcmState;

/* ITU-T G.726 adaptive state; a[0] is a1, b[0] is b1, dq[0] is dq1 and so on. */
typedef struct VoiceG726State {
    int16_t codec;
    uint16_t bits;   /* bits per code, 2..5; informative, the identifier decides */
    int32_t a[2];    /* pole predictor coefficients */
    int32_t ap;      /* speed control */
    int32_t b[6];    /* zero predictor coefficients */
    int32_t dml;     /* long-term average of F(I) */
    int32_t dms;     /* short-term average of F(I) */
    int32_t dq[6];   /* past quantized differences, floating-point form */
    int32_t pk[2];   /* signs of past partial reconstructed signals */
    int32_t sr[2];   /* past reconstructed signals, floating-point form */
    int32_t td;      /* tone detector */
    int32_t yl;      /* slow (locked) scale factor */
    int32_t yu;      /* fast (unlocked) scale factor */
    uint16_t output_width; /* 2: 16-bit linear samples */
} VoiceG726State;

/* Identifier 68: every field 16-bit but yl. */
typedef struct VoiceAdaptive2State {
    int16_t codec;
    int16_t sr1, sr2; /* last two reconstructed values, halved; sr1 the newer */
    int16_t a1, a2;   /* pole predictor coefficients */
    int16_t b1, b2, b3, b4, b5, b6; /* zero predictor coefficients */
    int16_t dq6, dq5, dq4, dq3, dq2, dq1; /* last six quantized differences, dq1 the newest */
    int16_t dms;      /* short-term average of F */
    int16_t dml;      /* long-term average of F */
    int16_t ap;       /* speed control */
    int16_t yu;       /* fast scale factor, 544..5120 */
    int16_t td;       /* tone flag */
    int16_t p1, p2;   /* last two partial reconstructions; p1 the newer */
    int32_t yl;       /* slow scale factor */
} VoiceAdaptive2State;

typedef union VoiceCodecState {
    int16_t codec;
    VoiceG711State g711;
    VoiceAdpcmState adpcm;
    VoiceG726State g726;
    VoiceAdaptive2State adaptive2;
    unsigned char bytes[128];
} VoiceCodecState;

/* Transcoding record: the encoder's state at the start of a 2048-byte area (its
 * identifier selects the conversion), then the decoder's state, which no mode
 * needs larger than 52 bytes; 2100 bytes in all. */
typedef struct VoiceTransState {
    union {
        VoiceCodecState state;
        unsigned char bytes[2048];
    } encoder;
    union {
        int16_t codec;
        VoiceG711State g711;
        VoiceAdpcmState adpcm;
        VoiceAdaptive2State adaptive2;
    } decoder;
} VoiceTransState;

#pragma pack(pop)

/* Copies the version string and its terminating zero, ZK_VOICE_VERSION_BYTES
 * bytes, into buffer. Returns 0, or -1 (not a ZK_VOICE_E_* code) for a null
 * buffer. */
RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_GetVersion(char *buffer);

/* Prepare state for encoding (decoding) with codec. An unsupported identifier is
 * stored all the same, so that later frame calls fail; the result is then
 * ZK_VOICE_E_ENC_CODEC (ZK_VOICE_E_DEC_CODEC). ZK_VOICE_E_NULL_STATE for a null
 * state. */
RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_EncReset(VoiceCodecState *state, int16_t codec);
RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_DecReset(VoiceCodecState *state, int16_t codec);

/* Encode samples (80, 160, ... 480; 1, 81, ... 481 for identifier 35) from pcm
 * into one frame of at most ZK_VOICE_ENCODED_MAX_BYTES bytes. On failure frame
 * is not written. */
RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_EncodeFrame(VoiceCodecState *state, const int16_t *pcm,
                                                     uint8_t *frame, uint16_t samples);

/* Decode the frame, reading the 4 + 2 * L bytes its header announces, into pcm
 * (480 samples for G.711, G.726 and identifier 68, ZK_VOICE_PCM_MAX for IMA
 * ADPCM); *samples receives the count, 0 on failure. Identifiers 36 to 39 repack the payload in
 * place to the least-significant-bit-first order of 4 to 7. */
RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_DecodeFrame(VoiceCodecState *state, uint8_t *frame,
                                                     int16_t *pcm, uint16_t *samples);

/* Prepare record for one of the ZK_VOICE_TRANS_* modes; nothing is written for
 * another mode. */
RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_TransCodeReset(VoiceTransState *record, int16_t mode);

/* Convert one frame in place; frame must offer ZK_VOICE_ENCODED_MAX_BYTES bytes.
 * Modes 97 and 98 swap the bytes of each payload word without checking the header.
 * Modes 99 and 100 decode and re-encode; on failure the frame is left unchanged
 * and the failing step's code is returned. A payload length above 240 words can
 * never convert: such a frame is left unchanged with ZK_VOICE_E_DEC_LENGTH. */
RECMUX_API int32_t RECMUX_CDECL ZK_VOICE_TransCodeFrame(VoiceTransState *record, uint8_t *frame);

#ifdef __cplusplus
}
#endif

#endif
