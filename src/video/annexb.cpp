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

}  // namespace recmux
