// The last touch to a finished fragmented MP4 file: the muxer leaves its header
// without durations and writes no index we could use.
#pragma once

#include <cstdint>
#include <vector>

namespace recmux {

// Writes each track's duration into mvhd, tkhd and mdhd, and appends an index
// (mfra) listing only the fragments whose track starts with a sync sample.
// The file is read as untrusted; false leaves it as the muxer wrote it.
bool FinishFragmentedFile(const char *path);

// A moov box, its header included, with its mvhd, tkhd and mdhd of version 0
// rewritten as version 1, whose durations take 64 bits, and the boxes around
// them grown to match: FFmpeg writes version 0, which states no more than
// 2^32 ticks (13 h at 90 kHz). As it was when it does not parse.
std::vector<uint8_t> WidenMovieHeader(const std::vector<uint8_t> &moov);

// A track of a fragmented file: its handler ('vide', 'soun'), its timescale,
// where its media ends (the decode time after its last sample, in its
// timescale), and its edit list's media start and empty lead.
struct FragmentedTrack {
    uint32_t id;
    uint32_t handler;
    uint32_t timescale;
    uint64_t end;
    int64_t mediaStart;
    uint64_t emptyLead;
};

struct FragmentedLayout {
    std::vector<FragmentedTrack> tracks;
    // Where the last whole fragment ends: an index, or a fragment a crash cut
    // short, lies beyond it.
    uint64_t end = 0;
};

// The tracks of a fragmented file up to its last whole fragment. False when
// it is not a fragmented file, or holds boxes no recording holds.
bool ReadFragmentedLayout(const char *path, FragmentedLayout &layout);

}  // namespace recmux
