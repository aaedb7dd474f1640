// What a recording holds, in the terms a person asks about: how long, how many
// pictures, what sound, how large.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frame_source.h"

namespace recmux_tool {

struct Mp4Facts {
    double seconds = 0;  // of the video
    uint64_t video_frames = 0;
    double fps = 0;     // 0 when the file gives none
    std::string sound;  // the sound's codec, e.g. "AAC"; empty for none
    double sound_seconds = 0;
    uintmax_t bytes = 0;
};

// Nothing when path does not read as an MP4 with video.
std::optional<Mp4Facts> ReadMp4Facts(const std::string &path);

// The codec of the first video stream, which the library's reader returns;
// nothing when path does not read as an MP4 with video of a codec the tool knows.
std::optional<VideoCodec> VideoCodecOf(const std::string &path);

// "10.0 s, 250 video frames (25 fps), sound 10.0 s AAC, 1.2 MB"
std::string Describe(const Mp4Facts &facts);

// "9.5 s", "2 min 5 s", "1 h 3 min"
std::string Duration(double seconds);

// "H.264", "H.265" or "MPEG-4"
const char *CodecName(VideoCodec codec);

// Whether the library's reader takes path: a recording that can be continued.
bool IsRecording(const std::string &path);

}  // namespace recmux_tool
