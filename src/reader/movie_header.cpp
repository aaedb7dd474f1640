#include "reader/movie_header.h"

#include <algorithm>
#include <fstream>
#include <limits>

#include "platform/ffmpeg_names.h"

namespace recmux {
namespace {

// A recording holds a handful of boxes in each container, nested a few deep;
// a file that needs more is not walked further. The top level, where the
// fragments lie, is walked to its end: each box there takes at least 8 bytes.
constexpr int kMaxBoxesPerContainer = 64;
constexpr int kMaxDepth = 8;

constexpr uint32_t FourCc(const char (&name)[5])
{
    return static_cast<uint32_t>(name[0]) << 24 | static_cast<uint32_t>(name[1]) << 16 |
           static_cast<uint32_t>(name[2]) << 8 | static_cast<uint32_t>(name[3]);
}

struct Box {
    uint32_t type;
    uint64_t body;  // first byte after the header
    uint64_t end;
};

class BoxReader {
public:
    explicit BoxReader(std::ifstream &file) : file_(file) {}

    // count big-endian bytes at offset; none past the file's end.
    std::optional<uint64_t> Read(uint64_t offset, int count)
    {
        unsigned char bytes[8];
        file_.clear();
        if (!file_.seekg(static_cast<std::streamoff>(offset)) ||
            !file_.read(reinterpret_cast<char *>(bytes), count))
            return std::nullopt;
        uint64_t value = 0;
        for (int i = 0; i < count; i++)
            value = value << 8 | bytes[i];
        return value;
    }

    std::optional<Box> ReadBox(uint64_t begin, uint64_t end)
    {
        const std::optional<uint64_t> head = end - begin >= 8 ? Read(begin, 8) : std::nullopt;
        if (!head)
            return std::nullopt;
        uint64_t size = *head >> 32, header = 8;
        if (size == 1) {
            const std::optional<uint64_t> large = end - begin >= 16 ? Read(begin + 8, 8) : std::nullopt;
            size = large.value_or(0);
            header = 16;
        } else if (size == 0) {
            size = end - begin;  // the last box runs to the end
        }
        if (size < header)
            return std::nullopt;
        return Box{static_cast<uint32_t>(*head), begin + header, begin + std::min(size, end - begin)};
    }

    // A 32-bit field at offset into the box's body. FFmpeg reads a box cut
    // short by its container as if it were whole, so the field is read as far
    // as the file goes.
    std::optional<uint32_t> Field(const Box &box, uint64_t offset)
    {
        const std::optional<uint64_t> value = Read(box.body + offset, 4);
        return value ? std::optional<uint32_t>(static_cast<uint32_t>(*value)) : std::nullopt;
    }

private:
    std::ifstream &file_;
};

void Add(uint64_t &samples, std::optional<uint32_t> count)
{
    if (count && samples < std::numeric_limits<uint64_t>::max() - *count)
        samples += *count;
}

bool IsContainer(uint32_t type)
{
    for (uint32_t container : {FourCc("moov"), FourCc("trak"), FourCc("mdia"), FourCc("minf"),
                               FourCc("stbl"), FourCc("moof"), FourCc("traf"), FourCc("edts"),
                               FourCc("mfra")}) {
        if (type == container)
            return true;
    }
    return false;
}

// A table box: where its entry count lies, where its entries start, and the
// fewest bytes an entry takes.
struct Table {
    uint32_t type;
    uint64_t countAt, entriesAt, entryBytes;
};

constexpr Table kTables[] = {
    {FourCc("stts"), 4, 8, 8},  {FourCc("stsc"), 4, 8, 12}, {FourCc("stco"), 4, 8, 4},
    {FourCc("co64"), 4, 8, 8},  {FourCc("ctts"), 4, 8, 8},  {FourCc("stss"), 4, 8, 4},
    {FourCc("stps"), 4, 8, 4},  {FourCc("elst"), 4, 8, 12}, {FourCc("tfra"), 12, 16, 11},
};

bool Overclaims(BoxReader &reader, const Box &box)
{
    for (const Table &table : kTables) {
        if (box.type != table.type)
            continue;
        const std::optional<uint32_t> count = reader.Field(box, table.countAt);
        const uint64_t room = box.end - box.body;
        return count && (room < table.entriesAt || *count > (room - table.entriesAt) / table.entryBytes);
    }
    return false;
}

void Walk(BoxReader &reader, uint64_t begin, uint64_t end, int depth, DeclaredLayout &layout)
{
    const int limit = depth == 0 ? std::numeric_limits<int>::max() : kMaxBoxesPerContainer;
    for (int n = 0; n < limit; n++) {
        const std::optional<Box> box = reader.ReadBox(begin, end);
        if (!box)
            return;
        if (box->type == FourCc("mvhd")) {
            // Version 1 has 64-bit creation and modification times in front of it.
            const std::optional<uint32_t> version = reader.Field(*box, 0);
            if (version && !layout.timescale)
                layout.timescale = reader.Field(*box, *version >> 24 == 1 ? 20 : 12);
        } else if (box->type == FourCc("stsz") || box->type == FourCc("stz2")) {
            Add(layout.samples, reader.Field(*box, 8));
        } else if (box->type == FourCc("trun")) {
            Add(layout.samples, reader.Field(*box, 4));
        } else if (Overclaims(reader, *box)) {
            layout.overclaimed = true;
        } else if (IsContainer(box->type) && depth < kMaxDepth) {
            Walk(reader, box->body, box->end, depth + 1, layout);
        }
        begin = box->end;
    }
}

}  // namespace

std::optional<DeclaredLayout> ReadDeclaredLayout(const char *path)
{
    std::ifstream file;
    // Box headers lie far apart: a buffer would mostly read media data.
    file.rdbuf()->pubsetbuf(nullptr, 0);
    file.open(platform::StreamName(path), std::ios::binary);
    if (!file.seekg(0, std::ios::end))
        return std::nullopt;
    const std::streamoff size = file.tellg();
    if (size < 0)
        return std::nullopt;
    DeclaredLayout layout;
    layout.fileSize = static_cast<uint64_t>(size);
    BoxReader reader(file);
    Walk(reader, 0, layout.fileSize, 0, layout);
    return layout;
}

}  // namespace recmux
