// What a crash left under the working name of a recording.
#pragma once

#include <string>

#include "platform/file_ops.h"

namespace recmux {

// Whether the file reads back as a recording: its first video stream is of a
// codec the recorder writes, and holds at least one packet.
bool HoldsRecordedVideo(const char *path);

// Clears the working name for a new recording. A stale working file that holds
// recorded video is never deleted: it takes the final name when that is free
// (the open then continues it), else a free NAME.recovered.mp4,
// NAME.recovered-2.mp4, ... beside it. Anything else there is deleted. False
// when a recording could be moved nowhere: it stays, and must not be written over.
bool ClearWorkingName(const platform::FileOps &files, const std::string &working,
                      const std::string &final_path);

}  // namespace recmux
