// The last touch to a finished fragmented MP4 file: the muxer leaves its header
// without durations and writes no index we could use.
#pragma once

namespace recmux {

// Writes each track's duration into mvhd, tkhd and mdhd, and appends an index
// (mfra) listing only the fragments whose track starts with a sync sample.
// The file is read as untrusted; false leaves it as the muxer wrote it.
bool FinishFragmentedFile(const char *path);

}  // namespace recmux
