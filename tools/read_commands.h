// The commands that read an MP4 back through the exported reader.
#pragma once

#include <string>

namespace recmux_tool {

// Prints frame rate, duration and what each kind of stream holds, as lines or
// (json) as one JSON object; the exit status.
int Info(const std::string &path, bool json);
// Writes the video as the elementary stream the reader returns into output,
// whose extension must be one of the video's codec; an empty output is named
// by that codec. The exit status.
int Extract(const std::string &path, const std::string &output);

}  // namespace recmux_tool
