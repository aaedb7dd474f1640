// Draws frame n of the test pattern into a YUV420P picture.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

namespace recmux_tool {

void PaintPattern(AVFrame &frame, int n);

}  // namespace recmux_tool
