// A finished fragmented recording rewritten as a plain MP4, its index at the
// front: every recording is written fragmented, so that a crash keeps it, and
// takes the plain form asked for only once it is whole.
#pragma once

#include <cstdint>

namespace recmux {

// Copies every packet of the file at fragmented into a new plain MP4 at
// plain, with their own times; the sound's last frame lasts up to sound_end
// (microseconds; AV_NOPTS_VALUE: as long as the one before). False when
// anything fails; plain is then not a recording.
bool WritePlainCopy(const char *fragmented, const char *plain, int64_t sound_end);

}  // namespace recmux
