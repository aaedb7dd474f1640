#include "video/annexb.h"

namespace recmux {
namespace {

const uint8_t *FindStartCode(const uint8_t *p, const uint8_t *end)
{
    for (; end - p >= 3; p++) {
        if (p[0] == 0 && p[1] == 0 && p[2] == 1)
            return p;
    }
    return end;
}

enum class UnitKind { ParameterSet, Picture, Other };

UnitKind H264Kind(uint8_t header)
{
    const int type = header & 0x1F;
    if (type == 7 || type == 8)
        return UnitKind::ParameterSet;
    return type >= 1 && type <= 5 ? UnitKind::Picture : UnitKind::Other;
}

UnitKind HevcKind(uint8_t header)
{
    const int type = (header >> 1) & 0x3F;
    if (type >= 32 && type <= 34)
        return UnitKind::ParameterSet;
    return type < 32 ? UnitKind::Picture : UnitKind::Other;
}

void AppendUnit(std::vector<uint8_t> &out, const NalUnit &unit)
{
    static const uint8_t kStartCode[] = {0, 0, 0, 1};
    out.insert(out.end(), kStartCode, kStartCode + 4);
    out.insert(out.end(), unit.data, unit.data + unit.size);
}

std::vector<uint8_t> NalParameterSets(UnitKind (*kind)(uint8_t), const uint8_t *data, size_t size)
{
    std::vector<uint8_t> sets;
    const uint8_t *cursor = data;
    NalUnit unit;
    while (NextNalUnit(cursor, data + size, unit)) {
        if (unit.size == 0)
            continue;
        const UnitKind k = kind(unit.data[0]);
        if (k == UnitKind::Picture)
            break;
        if (k == UnitKind::ParameterSet)
            AppendUnit(sets, unit);
    }
    return sets;
}

// Everything before the first VOP start code (00 00 01 B6), if it begins with a start code.
std::vector<uint8_t> Mpeg4Headers(const uint8_t *data, size_t size)
{
    const uint8_t *end = data + size;
    const uint8_t *first = FindStartCode(data, end);
    if (first == end)
        return {};
    for (const uint8_t *p = first; (p = FindStartCode(p, end)) != end; p += 3) {
        if (end - p >= 4 && p[3] == 0xB6)
            return p == first ? std::vector<uint8_t>() : std::vector<uint8_t>(first, p);
    }
    return {};
}

// How one NAL unit bears on the codec of the frame it starts.
enum class Reading { Skip, Names, Other };

// IDR slices and parameter sets always have a non-zero nal_ref_idc; with 0,
// the byte is an MPEG-4 video object start code rather than H.264.
Reading ReadAsH264(const NalUnit &unit)
{
    const uint8_t header = unit.data[0];
    const int type = header & 0x1F;
    if (header & 0x80)
        return Reading::Other;
    if (type == 9 || type == 6)
        return Reading::Skip;
    const bool referenced = (header & 0x60) != 0;
    return referenced && (type == 5 || type == 7 || type == 8) ? Reading::Names : Reading::Other;
}

// The second header byte must say layer 0 and a temporal id: this is what
// keeps H.264 headers such as 0x25, 0x27 or 0x45 from reading as H.265. A key
// frame's first slice starts its picture (first_slice_segment_in_pic_flag).
Reading ReadAsHevc(const NalUnit &unit)
{
    if (unit.size < 3)
        return Reading::Other;
    const uint8_t header = unit.data[0];
    const int type = (header >> 1) & 0x3F;
    const int layer = ((header & 1) << 5) | (unit.data[1] >> 3);
    if ((header & 0x80) || layer != 0 || (unit.data[1] & 7) == 0)
        return Reading::Other;
    if (type == 35 || type == 39 || type == 40)
        return Reading::Skip;
    if (type >= 32 && type <= 34)
        return Reading::Names;
    return type >= 16 && type <= 21 && (unit.data[2] & 0x80) ? Reading::Names : Reading::Other;
}

bool Names(Reading (*read)(const NalUnit &), const uint8_t *data, size_t size)
{
    const uint8_t *cursor = data;
    NalUnit unit;
    while (NextNalUnit(cursor, data + size, unit)) {
        // Padding between units, or an MPEG-4 video object start code: it names nothing.
        if (unit.size == 0)
            continue;
        const Reading reading = read(unit);
        if (reading != Reading::Skip)
            return reading == Reading::Names;
    }
    return false;
}

bool StartsWithStartCode(const uint8_t *data, size_t size)
{
    if (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1)
        return true;
    return size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
}

}  // namespace

bool NextNalUnit(const uint8_t *&cursor, const uint8_t *end, NalUnit &unit)
{
    const uint8_t *start = FindStartCode(cursor, end);
    if (start == end) {
        cursor = end;
        return false;
    }
    unit.data = start + 3;
    const uint8_t *next = FindStartCode(unit.data, end);
    const uint8_t *last = next;
    while (last > unit.data && last[-1] == 0)
        last--;
    unit.size = static_cast<size_t>(last - unit.data);
    cursor = next;
    return true;
}

std::vector<uint8_t> LeadingParameterSets(AVCodecID codec, const uint8_t *data, size_t size)
{
    if (!data)
        return {};
    switch (codec) {
    case AV_CODEC_ID_H264:
        return NalParameterSets(H264Kind, data, size);
    case AV_CODEC_ID_HEVC:
        return NalParameterSets(HevcKind, data, size);
    case AV_CODEC_ID_MPEG4:
        return Mpeg4Headers(data, size);
    default:
        return {};
    }
}

bool HoldsNalUnit(const uint8_t *data, size_t size)
{
    // Zero bytes may lead the first start code; a length prefix, the usual
    // mistake, puts a byte other than 0 or 1 before it.
    size_t zeros = 0;
    while (data && zeros < size && data[zeros] == 0)
        zeros++;
    if (zeros < 2 || zeros == size || data[zeros] != 1)
        return false;
    const uint8_t *cursor = data;
    NalUnit unit;
    while (NextNalUnit(cursor, data + size, unit)) {
        if (unit.size > 0)
            return true;
    }
    return false;
}

AVCodecID FrameCodec(const uint8_t *data, size_t size)
{
    if (!data || !StartsWithStartCode(data, size))
        return AV_CODEC_ID_NONE;
    // H.265 is asked first: its reading checks two header bytes, H.264's one,
    // so where both fit (an H.265 IDR_N_LP slice is an H.264 PPS by its first
    // byte) the H.265 reading is the one to trust.
    if (Names(ReadAsHevc, data, size))
        return AV_CODEC_ID_HEVC;
    if (Names(ReadAsH264, data, size))
        return AV_CODEC_ID_H264;
    return AV_CODEC_ID_MPEG4;
}

}  // namespace recmux
