// The files of a recording: the working file it is written to, and its move to
// the final name. Every operation tries the path as given, then read as UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_ops.h"

namespace recmux {

bool DeleteRecordingFile(const platform::FileOps &files, const char *path);
// 0 once the working file is under the final name; non-zero when every way of
// moving it failed (the working file then stays), -1 when memory ran out.
int32_t FinaliseRecording(const platform::FileOps &files, const char *working,
                          const char *final_path);
// Whether the MP4 container header of the file parses.
bool IsReadableMp4(const char *path);

}  // namespace recmux
