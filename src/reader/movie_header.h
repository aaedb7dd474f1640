// What a file's movie header (moov/mvhd) states, read by us: FFmpeg replaces
// values it cannot use with its own, and the file's own are needed to judge it.
#pragma once

#include <cstdint>
#include <optional>

extern "C" {
#include <libavformat/avio.h>
}

namespace recmux {

// The timescale of the first moov's mvhd, read from the start of io (whose
// position is left anywhere); none when no whole one is found among the first
// boxes of each level.
std::optional<uint32_t> MovieTimescale(AVIOContext &io);

}  // namespace recmux
