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
    std::unique_ptr<AudioSource> audio;  // null when the capture has no mono G.711 sound
};

// Video null (after saying why on stderr) when path cannot be read as a
// container or holds no H.264 or H.265 video. Sound only with_sound; sound
// the recorder cannot take is left out with a warning on stderr.
Capture OpenCapture(const std::string &path, bool with_sound);

}  // namespace recmux_tool
