// Elementary streams made by the ffmpeg tool for a test, split into the access
// units a camera would hand over, and the ffprobe/ffmpeg peers that judge a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame_source.h"

namespace recmux::test {

using recmux_tool::AccessUnit;

// Encodes `frames` frames of a 640x360 25 fps test pattern with the given
// ffmpeg output options (e.g. "-c:v libx264 -bf 0 -g 25 -f h264") into path.
bool MakeElementaryStream(const std::string &path, int frames, const std::string &options);
// Split as the recmux tool splits its input, chosen by the file extension.
std::vector<AccessUnit> SplitAccessUnits(const std::string &path);

// Runs work in a child process, which must end by killing itself with SIGKILL
// (KillSelf) while its recorder is still alive, as a crash would; true when it did.
bool DiesBySigkill(const std::function<void()> &work);
[[noreturn]] void KillSelf();

// Standard output of a shell command; empty when it failed.
std::string RunCommand(const std::string &command);
// ffprobe's value of one entry of the first video stream, counting frames.
std::string ProbeVideo(const std::string &path, const std::string &entry);
// Whatever the decoder complains about while decoding the whole file.
std::string DecodeErrors(const std::string &path);
// The MD5 of each decoded frame, in output order.
std::vector<std::string> FrameMd5s(const std::string &path);

}  // namespace recmux::test
