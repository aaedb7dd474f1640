#include "recorder/fragmented_file.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/ffmpeg_names.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace recmux {
namespace {

// Our own muxer writes a moov of a few kB and moofs of a few hundred bytes;
// anything larger is not a file this recorder wrote.
constexpr uint64_t kMaxMoovSize = 16u << 20;
constexpr uint64_t kMaxMoofSize = 4u << 20;
constexpr uint32_t kNonSyncSample = 0x10000;

using Bytes = std::vector<uint8_t>;

constexpr uint32_t FourCc(const char (&name)[5])
{
    return static_cast<uint32_t>(name[0]) << 24 | static_cast<uint32_t>(name[1]) << 16 |
           static_cast<uint32_t>(name[2]) << 8 | static_cast<uint32_t>(name[3]);
}

uint64_t ReadBe(const uint8_t *p, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; i++)
        value = value << 8 | p[i];
    return value;
}

void WriteBe(uint8_t *p, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; i--, value >>= 8)
        p[i] = static_cast<uint8_t>(value);
}

void AppendBe(Bytes &out, uint64_t value, int bytes)
{
    out.resize(out.size() + static_cast<size_t>(bytes));
    WriteBe(out.data() + out.size() - bytes, value, bytes);
}

// A box inside a buffer: its type and where its payload lies.
struct Box {
    uint32_t type;
    size_t body;
    size_t end;
};

// The boxes directly inside [begin, end); stops at the first that does not fit.
std::vector<Box> Children(const Bytes &data, size_t begin, size_t end)
{
    std::vector<Box> boxes;
    while (end - begin >= 8) {
        uint64_t size = ReadBe(&data[begin], 4);
        size_t header = 8;
        if (size == 1 && end - begin >= 16) {
            size = ReadBe(&data[begin + 8], 8);
            header = 16;
        } else if (size == 0) {
            size = end - begin;
        }
        if (size < header || size > end - begin)
            break;
        boxes.push_back(Box{static_cast<uint32_t>(ReadBe(&data[begin + 4], 4)), begin + header,
                            begin + static_cast<size_t>(size)});
        begin += static_cast<size_t>(size);
    }
    return boxes;
}

const Box *Find(const std::vector<Box> &boxes, uint32_t type)
{
    const auto found =
        std::find_if(boxes.begin(), boxes.end(), [type](const Box &b) { return b.type == type; });
    return found == boxes.end() ? nullptr : &*found;
}

// Reads fields front to back within one box; any read past its end fails it.
class Reader {
public:
    Reader(const Bytes &data, const Box &box) : data_(data), at_(box.body), end_(box.end) {}
    uint64_t Take(int bytes)
    {
        if (!ok_ || end_ - at_ < static_cast<size_t>(bytes)) {
            ok_ = false;
            return 0;
        }
        const uint64_t value = ReadBe(&data_[at_], bytes);
        at_ += static_cast<size_t>(bytes);
        return value;
    }
    size_t At() const { return at_; }
    bool Ok() const { return ok_; }

private:
    const Bytes &data_;
    size_t at_;
    size_t end_;
    bool ok_ = true;
};

// Where a duration lies in the moov, and how wide it is.
struct Field {
    size_t at = 0;
    int bytes = 0;
};

struct IndexEntry {
    uint64_t time;
    uint64_t moof;
    uint8_t traf;
};

struct Track {
    uint32_t id = 0;
    uint32_t timescale = 0;
    uint32_t handler = 0;
    Field tkhd;
    Field mdhd;
    // The edit list's empty lead (movie timescale) and where the media starts.
    uint64_t emptyLead = 0;
    int64_t mediaStart = 0;
    uint32_t defaultDuration = 0;
    uint32_t defaultFlags = 0;
    uint64_t end = 0;
    std::vector<IndexEntry> index;
};

struct Movie {
    uint32_t timescale = 0;
    Field mvhd;
    std::vector<Track> tracks;

    Track *TrackWithId(uint32_t id)
    {
        for (Track &track : tracks) {
            if (track.id == id)
                return &track;
        }
        return nullptr;
    }
};

// mvhd and mdhd share their layout: the timescale, then the duration.
bool ReadHeaderBox(const Bytes &moov, const Box &box, uint32_t &timescale, Field &duration)
{
    Reader r(moov, box);
    const int wide = r.Take(4) >> 24 == 1 ? 8 : 4;
    r.Take(2 * wide);
    timescale = static_cast<uint32_t>(r.Take(4));
    duration = Field{r.At(), wide};
    r.Take(wide);
    return r.Ok() && timescale > 0;
}

bool ReadEditList(const Bytes &moov, const Box &box, Track &track)
{
    Reader r(moov, box);
    const int wide = r.Take(4) >> 24 == 1 ? 8 : 4;
    for (uint64_t n = r.Take(4); n > 0 && r.Ok(); n--) {
        const uint64_t duration = r.Take(wide);
        const int64_t media_time = wide == 8 ? static_cast<int64_t>(r.Take(8))
                                             : static_cast<int32_t>(r.Take(4));
        r.Take(4);
        if (media_time >= 0) {
            track.mediaStart = media_time;
            return r.Ok();
        }
        track.emptyLead += duration;
    }
    return r.Ok();
}

bool ReadTrack(const Bytes &moov, const Box &trak, Track &track)
{
    const auto boxes = Children(moov, trak.body, trak.end);
    const Box *tkhd = Find(boxes, FourCc("tkhd"));
    const Box *mdia = Find(boxes, FourCc("mdia"));
    if (!tkhd || !mdia)
        return false;
    Reader r(moov, *tkhd);
    const int wide = r.Take(4) >> 24 == 1 ? 8 : 4;
    r.Take(2 * wide);
    track.id = static_cast<uint32_t>(r.Take(4));
    r.Take(4);
    track.tkhd = Field{r.At(), wide};
    r.Take(wide);
    const auto media = Children(moov, mdia->body, mdia->end);
    const Box *mdhd = Find(media, FourCc("mdhd"));
    if (!r.Ok() || !mdhd || !ReadHeaderBox(moov, *mdhd, track.timescale, track.mdhd))
        return false;
    if (const Box *hdlr = Find(media, FourCc("hdlr"))) {
        Reader h(moov, *hdlr);
        h.Take(8);
        track.handler = static_cast<uint32_t>(h.Take(4));
    }
    if (const Box *edts = Find(boxes, FourCc("edts"))) {
        const auto edits = Children(moov, edts->body, edts->end);
        const Box *elst = Find(edits, FourCc("elst"));
        if (elst && !ReadEditList(moov, *elst, track))
            return false;
    }
    return true;
}

bool ReadMovie(const Bytes &moov, Movie &movie)
{
    const auto boxes = Children(moov, 0, moov.size());
    const Box *mvhd = Find(boxes, FourCc("mvhd"));
    if (!mvhd || !ReadHeaderBox(moov, *mvhd, movie.timescale, movie.mvhd))
        return false;
    for (const Box &box : boxes) {
        if (box.type != FourCc("trak"))
            continue;
        Track track;
        if (!ReadTrack(moov, box, track))
            return false;
        movie.tracks.push_back(track);
    }
    const Box *mvex = Find(boxes, FourCc("mvex"));
    if (!mvex)
        return false;
    for (const Box &trex : Children(moov, mvex->body, mvex->end)) {
        if (trex.type != FourCc("trex"))
            continue;
        Reader r(moov, trex);
        r.Take(4);
        Track *track = movie.TrackWithId(static_cast<uint32_t>(r.Take(4)));
        r.Take(4);
        const uint32_t duration = static_cast<uint32_t>(r.Take(4));
        r.Take(4);
        const uint32_t flags = static_cast<uint32_t>(r.Take(4));
        if (!r.Ok())
            return false;
        if (track) {
            track->defaultDuration = duration;
            track->defaultFlags = flags;
        }
    }
    return !movie.tracks.empty();
}

// One track's run of samples in a moof: how long it lasts, and how it starts.
bool ReadTrackFragment(const Bytes &moof, const Box &traf, uint64_t moof_offset, uint8_t number,
                       Movie &movie)
{
    const auto boxes = Children(moof, traf.body, traf.end);
    const Box *tfhd = Find(boxes, FourCc("tfhd"));
    if (!tfhd)
        return false;
    Reader h(moof, *tfhd);
    const uint32_t tf_flags = static_cast<uint32_t>(h.Take(4)) & 0xffffff;
    Track *track = movie.TrackWithId(static_cast<uint32_t>(h.Take(4)));
    if (!track)
        return false;
    h.Take(tf_flags & 0x01 ? 8 : 0);
    h.Take(tf_flags & 0x02 ? 4 : 0);
    const uint32_t default_duration =
        tf_flags & 0x08 ? static_cast<uint32_t>(h.Take(4)) : track->defaultDuration;
    h.Take(tf_flags & 0x10 ? 4 : 0);
    const uint32_t default_flags =
        tf_flags & 0x20 ? static_cast<uint32_t>(h.Take(4)) : track->defaultFlags;
    if (!h.Ok())
        return false;

    uint64_t start = track->end;
    if (const Box *tfdt = Find(boxes, FourCc("tfdt"))) {
        Reader t(moof, *tfdt);
        start = t.Take(t.Take(4) >> 24 == 1 ? 8 : 4);
        if (!t.Ok())
            return false;
    }
    uint64_t duration = 0;
    bool first = true;
    for (const Box &box : boxes) {
        if (box.type != FourCc("trun"))
            continue;
        Reader r(moof, box);
        const uint32_t version_flags = static_cast<uint32_t>(r.Take(4));
        const uint32_t flags = version_flags & 0xffffff;
        const uint64_t count = r.Take(4);
        r.Take(flags & 0x01 ? 4 : 0);
        const uint32_t first_flags = flags & 0x04 ? static_cast<uint32_t>(r.Take(4)) : 0;
        for (uint64_t i = 0; i < count && r.Ok(); i++) {
            // Samples without fields of their own all take the defaults: a
            // count of billions is not visited one by one.
            if (i > 0 && !(flags & 0xf00)) {
                duration += (count - i) * default_duration;
                break;
            }
            duration += flags & 0x100 ? r.Take(4) : default_duration;
            r.Take(flags & 0x200 ? 4 : 0);
            const uint32_t sample_flags = flags & 0x400 ? static_cast<uint32_t>(r.Take(4))
                                                        : default_flags;
            const uint64_t offset = flags & 0x800 ? r.Take(4) : 0;
            if (!first)
                continue;
            first = false;
            const bool sync = !((flags & 0x04 ? first_flags : sample_flags) & kNonSyncSample);
            const int64_t composition = version_flags >> 24 ? static_cast<int32_t>(offset)
                                                            : static_cast<int64_t>(offset);
            // In presentation time, as the muxer's own index states it; a time
            // the file makes overflow is no time to index.
            int64_t time = 0;
            const bool overflow = start > static_cast<uint64_t>(INT64_MAX) ||
                                  __builtin_add_overflow(static_cast<int64_t>(start), composition,
                                                         &time) ||
                                  __builtin_sub_overflow(time, track->mediaStart, &time);
            if (sync && !overflow)
                track->index.push_back(
                    IndexEntry{static_cast<uint64_t>(std::max<int64_t>(time, 0)), moof_offset,
                               number});
        }
        if (!r.Ok())
            return false;
    }
    track->end = std::max(track->end, start + duration);
    return true;
}

bool ReadFragment(const Bytes &moof, uint64_t offset, Movie &movie)
{
    uint8_t number = 0;
    for (const Box &box : Children(moof, 0, moof.size())) {
        if (box.type == FourCc("traf") &&
            (number == UINT8_MAX || !ReadTrackFragment(moof, box, offset, ++number, movie)))
            return false;
    }
    return true;
}

bool ReadAt(std::fstream &file, uint64_t offset, Bytes &out, uint64_t size)
{
    out.resize(static_cast<size_t>(size));
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char *>(out.data()), static_cast<std::streamsize>(out.size()));
    return file.good();
}

bool WriteAt(std::fstream &file, uint64_t offset, const Bytes &data)
{
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char *>(data.data()),
               static_cast<std::streamsize>(data.size()));
    return file.good();
}

void Patch(Bytes &moov, const Field &field, uint64_t value)
{
    // A version 0 box has no room for a longer duration: it stays unknown.
    if (field.bytes == 8 || value <= UINT32_MAX)
        WriteBe(&moov[field.at], value, field.bytes);
}

void PatchDurations(Bytes &moov, const Movie &movie)
{
    uint64_t longest = 0;
    for (const Track &track : movie.tracks) {
        Patch(moov, track.mdhd, track.end);
        const int64_t shown = static_cast<int64_t>(track.end) -
                              std::clamp<int64_t>(track.mediaStart, 0,
                                                  static_cast<int64_t>(track.end));
        const uint64_t duration =
            track.emptyLead +
            static_cast<uint64_t>(av_rescale(shown, movie.timescale, track.timescale));
        Patch(moov, track.tkhd, duration);
        longest = std::max(longest, duration);
    }
    Patch(moov, movie.mvhd, longest);
}

Bytes RandomAccessIndex(const Movie &movie)
{
    Bytes mfra;
    AppendBe(mfra, 0, 4);
    AppendBe(mfra, FourCc("mfra"), 4);
    for (const Track &track : movie.tracks) {
        AppendBe(mfra, 24 + 19 * track.index.size(), 4);
        AppendBe(mfra, FourCc("tfra"), 4);
        AppendBe(mfra, 0x01000000, 4);  // version 1: 64-bit times and offsets
        AppendBe(mfra, track.id, 4);
        AppendBe(mfra, 0, 4);  // traf, trun and sample numbers in one byte each
        AppendBe(mfra, track.index.size(), 4);
        for (const IndexEntry &entry : track.index) {
            AppendBe(mfra, entry.time, 8);
            AppendBe(mfra, entry.moof, 8);
            AppendBe(mfra, entry.traf, 1);
            AppendBe(mfra, 1, 1);
            AppendBe(mfra, 1, 1);
        }
    }
    AppendBe(mfra, 16, 4);
    AppendBe(mfra, FourCc("mfro"), 4);
    AppendBe(mfra, 0, 4);
    AppendBe(mfra, mfra.size() + 4, 4);
    WriteBe(mfra.data(), mfra.size(), 4);
    return mfra;
}

// A top-level box: its type and where it lies; none where no whole header is.
struct TopBox {
    uint32_t type = 0;
    uint64_t at = 0, body = 0, end = 0;
};

std::optional<TopBox> ReadTopBox(std::fstream &file, uint64_t at, uint64_t size)
{
    Bytes header;
    if (size - at < 8 || !ReadAt(file, at, header, std::min<uint64_t>(16, size - at)))
        return std::nullopt;
    uint64_t box_size = ReadBe(header.data(), 4);
    uint64_t header_size = 8;
    if (box_size == 1 && header.size() == 16) {
        box_size = ReadBe(header.data() + 8, 8);
        header_size = 16;
    }
    if (box_size < header_size || box_size > size - at)
        return std::nullopt;
    return TopBox{static_cast<uint32_t>(ReadBe(header.data() + 4, 4)), at, at + header_size,
                  at + box_size};
}

// What a walk over the top-level boxes found.
struct Scan {
    Movie movie;
    Bytes moov;
    uint64_t moovBody = 0;
    // Where the last whole fragment (or the moov) ends, and whether every box was whole.
    uint64_t end = 0;
    bool whole = false;
    bool indexed = false;
};

// Reads the moov and every fragment whose mdat is whole, up to the end, an
// index, or a box a crash cut short. False when a box that fits is not what a
// recording holds.
bool ScanFile(std::fstream &file, uint64_t size, Scan &scan)
{
    Bytes buffer;
    uint64_t at = 0;
    while (const std::optional<TopBox> box = ReadTopBox(file, at, size)) {
        const uint64_t body_size = box->end - box->body;
        if (box->type == FourCc("mfra")) {
            scan.indexed = true;
            return true;
        }
        if (box->type == FourCc("moov")) {
            if (!scan.moov.empty() || body_size > kMaxMoovSize ||
                !ReadAt(file, box->body, scan.moov, body_size) || !ReadMovie(scan.moov, scan.movie))
                return false;
            scan.moovBody = box->body;
        } else if (box->type == FourCc("moof")) {
            const std::optional<TopBox> data = ReadTopBox(file, box->end, size);
            if (!data || data->type != FourCc("mdat"))
                return true;
            if (scan.moov.empty() || body_size > kMaxMoofSize ||
                !ReadAt(file, box->body, buffer, body_size) ||
                !ReadFragment(buffer, box->at, scan.movie))
                return false;
            at = data->end;
            scan.end = at;
            continue;
        }
        at = box->end;
        if (!scan.moov.empty())
            scan.end = at;
    }
    scan.whole = at == size;
    return !scan.moov.empty();
}

bool OpenFile(std::fstream &file, const char *path, uint64_t &size)
{
    // Only box headers and moofs are read, each after a seek: a buffer would
    // mostly read media data.
    file.rdbuf()->pubsetbuf(nullptr, 0);
    file.open(platform::StreamName(path), std::ios::in | std::ios::out | std::ios::binary);
    if (!file.seekg(0, std::ios::end))
        return false;
    const std::streamoff file_size = file.tellg();
    size = static_cast<uint64_t>(file_size);
    return file_size >= 0;
}

void AppendBox(Bytes &out, uint32_t type, const Bytes &body)
{
    AppendBe(out, 8 + body.size(), 4);
    AppendBe(out, type, 4);
    out.insert(out.end(), body.begin(), body.end());
}

// Version 0 holds creation and modification times, `kept` 32-bit fields, then
// the duration, in 32 bits each; version 1 the times and duration in 64.
bool AppendWidened(const Bytes &data, const Box &box, int kept, Bytes &out)
{
    const size_t fields = 16 + 4 * static_cast<size_t>(kept);
    if (box.end - box.body < fields || data[box.body] != 0)
        return false;
    const uint8_t *p = &data[box.body];
    Bytes body = {1, p[1], p[2], p[3]};
    AppendBe(body, ReadBe(p + 4, 4), 8);
    AppendBe(body, ReadBe(p + 8, 4), 8);
    body.insert(body.end(), p + 12, p + fields - 4);
    AppendBe(body, ReadBe(p + fields - 4, 4), 8);
    body.insert(body.end(), p + fields, data.data() + box.end);
    AppendBox(out, box.type, body);
    return true;
}

bool Rebuild(const Bytes &data, size_t begin, size_t end, Bytes &out)
{
    size_t start = begin;
    for (const Box &box : Children(data, begin, end)) {
        const bool container = box.type == FourCc("moov") || box.type == FourCc("trak") ||
                               box.type == FourCc("mdia");
        const int kept = box.type == FourCc("tkhd") ? 2 : box.type == FourCc("mvhd") ||
                                                          box.type == FourCc("mdhd")
                                                          ? 1
                                                          : -1;
        Bytes body;
        if (container && Rebuild(data, box.body, box.end, body))
            AppendBox(out, box.type, body);
        else if (container || kept < 0 || !AppendWidened(data, box, kept, out))
            out.insert(out.end(), data.begin() + static_cast<long>(start),
                       data.begin() + static_cast<long>(box.end));
        start = box.end;
    }
    return start == end;
}

}  // namespace

std::vector<uint8_t> WidenMovieHeader(const std::vector<uint8_t> &moov)
{
    Bytes widened;
    if (!Rebuild(moov, 0, moov.size(), widened) || widened.size() > UINT32_MAX)
        return moov;
    return widened;
}

bool FinishFragmentedFile(const char *path)
{
    std::fstream file;
    uint64_t size = 0;
    Scan scan;
    if (!OpenFile(file, path, size) || !ScanFile(file, size, scan) || !scan.whole || scan.indexed)
        return false;
    PatchDurations(scan.moov, scan.movie);
    return WriteAt(file, scan.moovBody, scan.moov) &&
           WriteAt(file, size, RandomAccessIndex(scan.movie)) && file.flush().good();
}

bool ReadFragmentedLayout(const char *path, FragmentedLayout &layout)
{
    std::fstream file;
    uint64_t size = 0;
    Scan scan;
    if (!OpenFile(file, path, size) || !ScanFile(file, size, scan))
        return false;
    layout.tracks.clear();
    for (const Track &track : scan.movie.tracks)
        layout.tracks.push_back(FragmentedTrack{track.id, track.handler, track.timescale,
                                                track.end, track.mediaStart, track.emptyLead});
    layout.end = scan.end;
    return true;
}

}  // namespace recmux
