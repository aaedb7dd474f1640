// What a crash left under the working name of a recording.
#pragma once

#include <string>

#include "platform/file_ops.h"

namespace recmux {

// Whether the file reads back as a recording: its first video stream is of a
// codec the recorder writes, and holds at least one packet.
bool HoldsRecordedVideo(const char *path);

// Moves the file at from to the first of NAME.recovered.mp4,
// NAME.recovered-2.mp4, ... beside final_path that no file has. False when
// every such name is taken: the file stays where it is.
bool MoveAside(const platform::FileOps &files, const std::string &from,
               const std::string &final_path);

// Clears the working name of a crashed recording, whose lock the caller holds.
// A working file that holds recorded video takes the final name when that is
// free (the open then continues it). One that holds nothing, empty or read
// back without a video packet, is deleted. Anything else is footage that does
// not read back, and goes aside with a recording the final name blocks. False
// when it could be moved nowhere: it stays, and must not be written over.
bool ClearWorkingName(const platform::FileOps &files, const std::string &working,
                      const std::string &final_path);

}  // namespace recmux
