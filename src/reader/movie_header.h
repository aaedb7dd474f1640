// What a file's boxes declare that FFmpeg takes on trust, read by us first:
// FFmpeg replaces a movie timescale it cannot use with its own, and sizes its
// sample index by the counts the boxes claim, whatever the file holds.
#pragma once

#include <cstdint>
#include <optional>

namespace recmux {

struct DeclaredLayout {
    // Of the first moov's mvhd; none when no whole one is found.
    std::optional<uint32_t> timescale;
    // The sample counts of every stsz, stz2 and trun, added up (saturating).
    uint64_t samples = 0;
    uint64_t fileSize = 0;
    // A table box claims more entries than its bytes hold.
    bool overclaimed = false;
};

// Reads only box headers and the fields above, looking into boxes that run
// past their container as FFmpeg does; none when the file does not open.
std::optional<DeclaredLayout> ReadDeclaredLayout(const char *path);

}  // namespace recmux
