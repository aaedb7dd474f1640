// Media made by the ffmpeg tool, split into the access units a camera would
// hand over, and the ffprobe/ffmpeg peers that judge a file.
#pragma once

#include <recmux/recmux_writer.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame_source.h"

namespace recmux::test {

using recmux_tool::AccessUnit;
using Units = std::vector<AccessUnit>;

inline const std::string kX264 = "-c:v libx264 -bf 0 -g 25 -f h264";
inline const std::string kX265 =
    "-c:v libx265 -x265-params log-level=error:bframes=0:keyint=25 -f hevc";

// `ffmpeg -y ARGS PATH`, run once per name and arguments into the folder
// RECMUX_FIXTURES names (kept there for later runs and for a Windows build),
// else into a private one; the path, empty when it failed.
std::string Fixture(const std::string &name, const std::string &args);
// `frames` frames of a 640x360 25 fps test pattern encoded with options into name
// (an elementary stream), made with Fixture; its path, or its access units.
std::string EncodedPath(const std::string &name, int frames, const std::string &options);
const Units &Encoded(const std::string &name, int frames, const std::string &options);
inline std::string H264Path(int frames)
{
    return EncodedPath("h264-" + std::to_string(frames) + ".h264", frames, kX264);
}
inline const Units &H264(int frames)
{
    return Encoded("h264-" + std::to_string(frames) + ".h264", frames, kX264);
}

// Split as the recmux tool splits its input, chosen by the file extension.
Units SplitAccessUnits(const std::string &path);

#ifndef _WIN32
// The exit status of work run in a child process; -N when signal N ended it,
// INT_MIN when no child could be started.
int InChild(const std::function<int()> &work);
#endif

// Standard output of a shell command, run by Linux's shell (under Wine too);
// empty when it failed.
std::string RunCommand(const std::string &command);
std::vector<std::string> Lines(const std::string &command);
// ffprobe's values of a stream's entries ("v:0" or "a:0"), counting frames:
// "codec_name,nb_read_frames" gives them in ffprobe's order, joined by commas.
std::string Probe(const std::string &path, const std::string &entry, const std::string &stream = "v:0");
// Whatever the decoder complains about while decoding the whole file.
std::string DecodeErrors(const std::string &path);
// The MD5 of each decoded frame, in output order.
std::vector<std::string> FrameMd5s(const std::string &path);
// ffprobe's value of one entry ("pts", "flags,size") for each packet of the streams selected.
std::vector<std::string> Packets(const std::string &path, const std::string &streams, const std::string &entry);
// An output callback that appends what it is given to the std::string behind opaque.
int AppendTo(void *opaque, uint8_t *bytes, int size);

// Feeds units at pts start, start + step, ...; how many the recorder accepted.
inline size_t WriteUnits(recmux_writer *writer, const Units &units, uint64_t start = 1000000,
                         uint64_t step = 40000)
{
    size_t accepted = 0;
    for (size_t i = 0; i < units.size(); i++)
        accepted += recmux_writer_write_video(writer, units[i].bytes.data(),
                                              static_cast<uint32_t>(units[i].bytes.size()),
                                              start + i * step, units[i].key) == 0;
    return accepted;
}

// Records units into path from 1 s at 25 fps: close's result, or -1 when a unit was refused.
inline int RecordFile(const std::string &path, const Units &units, int file_type = 0)
{
    recmux_writer *writer = recmux_writer_open(path.c_str());
    recmux_writer_set_file_type(writer, file_type);
    const bool all = writer && WriteUnits(writer, units) == units.size();
    const int closed = recmux_writer_close(&writer);
    return all ? closed : -1;
}

}  // namespace recmux::test
