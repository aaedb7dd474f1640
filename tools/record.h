// The record command: feeds a frame source to a recorder and says what it wrote.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "audio_source.h"
#include "frame_source.h"
#include "record_output.h"

namespace recmux_tool {

struct RecordOptions {
    std::string input = "the test pattern";  // named in what is said about it
    std::string output = "recmux-demo.mp4";
    AVRational fps{25, 1};
    bool fragmented = false;
    bool callback = false;        // through the write callback into the output file
    bool overwrite = false;       // a new recording in place of the one there
    uint64_t audio_start_us = 0;  // sound before this is never passed
};

// Records into output, which PrepareOutput found fit for it. The process exit
// status: 0 when the recording holds at least one frame, 1 after saying on
// stderr why it does not or failed. audio, when given, is interleaved with the
// video by time. Ctrl-C or SIGTERM finishes the recording and then ends the
// process by that signal.
int Record(const RecordOptions &options, RecordOutput output, FrameSource &source,
           AudioSource *audio);

}  // namespace recmux_tool
