// A capture in any container FFmpeg reads (MPEG-TS, Matroska, MP4...): its
// H.264/H.265 video as Annex B access units and its G.711 audio as headerless
// payload, each with the capture's own timestamp in microseconds.
#pragma once

#include <memory>
#include <string>

#include "audio_source.h"
#include "frame_source.h"

namespace recmux_tool {

struct Capture {
    std::unique_ptr<FrameSource> video;
    std::unique_ptr<AudioSource> audio;  // null when the capture has no G.711 audio
};

// Video null (after saying why on stderr) when path cannot be read as a
// container or holds no H.264 or H.265 video.
Capture OpenCapture(const std::string &path);

}  // namespace recmux_tool
