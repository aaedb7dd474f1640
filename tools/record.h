// The record command: feeds a frame source to a recorder and says what it wrote.
#pragma once

#include <string>

#include "frame_source.h"

namespace recmux_tool {

struct RecordOptions {
    std::string output = "recmux-demo.mp4";
    int fps = 25;
    bool fragmented = false;
    bool callback = false;  // through the write callback into the output file
};

// The process exit status: 0 when at least one frame was accepted.
int Record(const RecordOptions &options, FrameSource &source);

}  // namespace recmux_tool
