#include "reader/movie_header.h"

extern "C" {
#include <libavutil/macros.h>
}

namespace recmux {
namespace {

// A recording holds a handful of boxes before its moov and in it before its
// mvhd; a file that needs more is not walked to the end.
constexpr int kMaxBoxesPerLevel = 64;

struct Box {
    int64_t body;  // first byte after the header
    int64_t end;
};

// The first box of type within [begin, end); only box headers are read.
std::optional<Box> FindBox(AVIOContext &io, int64_t begin, int64_t end, uint32_t type)
{
    for (int i = 0; i < kMaxBoxesPerLevel && end - begin >= 8; i++) {
        if (avio_seek(&io, begin, SEEK_SET) != begin)
            return std::nullopt;
        int64_t size = avio_rb32(&io);
        const uint32_t found = avio_rb32(&io);
        int64_t header = 8;
        if (size == 1) {
            size = static_cast<int64_t>(avio_rb64(&io));
            header = 16;
        } else if (size == 0) {
            size = end - begin;  // the last box runs to the end
        }
        if (size < header || size > end - begin)
            return std::nullopt;
        if (found == type)
            return Box{begin + header, begin + size};
        begin += size;
    }
    return std::nullopt;
}

}  // namespace

std::optional<uint32_t> MovieTimescale(AVIOContext &io)
{
    const std::optional<Box> moov = FindBox(io, 0, avio_size(&io), MKBETAG('m', 'o', 'o', 'v'));
    const std::optional<Box> mvhd =
        moov ? FindBox(io, moov->body, moov->end, MKBETAG('m', 'v', 'h', 'd')) : std::nullopt;
    if (!mvhd || mvhd->end - mvhd->body < 4 || avio_seek(&io, mvhd->body, SEEK_SET) != mvhd->body)
        return std::nullopt;
    // Version 1 has 64-bit creation and modification times in front of it, any other 32-bit ones.
    const int64_t offset = avio_r8(&io) == 1 ? 20 : 12;
    const int64_t timescale = mvhd->body + offset;
    if (mvhd->end - timescale < 4 || avio_seek(&io, timescale, SEEK_SET) != timescale)
        return std::nullopt;
    return avio_rb32(&io);
}

}  // namespace recmux
