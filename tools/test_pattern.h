// The built-in recording: moving colour bars, encoded on the fly with
// libx264 or libx265 into Annex B access units.
#pragma once

#include <memory>

extern "C" {
#include <libavutil/rational.h>
}

#include "frame_source.h"

namespace recmux_tool {

constexpr int kPatternWidth = 640;
constexpr int kPatternHeight = 360;

// Null (after saying why on stderr) when the encoder cannot be opened.
std::unique_ptr<FrameSource> OpenTestPattern(VideoCodec codec, AVRational fps, int frames);

}  // namespace recmux_tool
