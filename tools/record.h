// The record command: feeds a frame source to a recorder and says what it wrote.
#pragma once

#include <cstdint>
#include <string>

#include "audio_source.h"
#include "frame_source.h"

namespace recmux_tool {

struct RecordOptions {
    std::string output = "recmux-demo.mp4";
    int fps = 25;
    bool fragmented = false;
    bool callback = false;  // through the write callback into the output file
    uint64_t audio_start_us = 0;  // sound before this is never passed
};

// The process exit status: 0 when at least one frame was accepted. audio,
// when given, is interleaved with the video by time.
int Record(const RecordOptions &options, FrameSource &source, AudioSource *audio);

}  // namespace recmux_tool
