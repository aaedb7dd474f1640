// Walking the NAL units (or MPEG-4 start-code units) of an Annex B frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace recmux {

struct NalUnit {
    const uint8_t *data;  // first byte after the start code
    size_t size;          // up to the next start code, trailing zero bytes excluded
};

// Advances cursor past the next unit behind a three- or four-byte start code.
bool NextNalUnit(const uint8_t *&cursor, const uint8_t *end, NalUnit &unit);

// The parameter sets in front of the first picture of a key frame, in Annex B
// form (SPS/PPS, VPS/SPS/PPS, or the MPEG-4 headers before the first VOP).
// Empty when the frame carries none.
std::vector<uint8_t> LeadingParameterSets(AVCodecID codec, const uint8_t *data, size_t size);

// Whether a frame begins with a start code and holds a unit that is not empty
// (a start code with only zero bytes behind it): nothing else makes a sample.
bool HoldsNalUnit(const uint8_t *data, size_t size);

// The codec that the first NAL unit of a key frame past any delimiter, SEI or
// empty unit names by its type: H.264 for an IDR slice, SPS or PPS (whatever
// nal_ref_idc), H.265 for an IRAP slice, VPS, SPS or PPS of layer 0. MPEG-4
// for a frame behind a start code that neither names; none without one.
AVCodecID FrameCodec(const uint8_t *data, size_t size);

}  // namespace recmux
