#include "recorder/recorder_events.h"

#include "platform/library_log.h"
#include <recmux/recmux_writer.h>

namespace recmux {
namespace {

using platform::kLogError;
using platform::kLogInfo;

EventLine VideoEvent(int32_t value)
{
    switch (value) {
    case RECMUX_MSG_VIDEO_READY:
        return {kLogInfo, "video stream set up from the stream's own parameter sets"};
    case RECMUX_MSG_VIDEO_NO_STREAM:
        return {kLogError, "the video stream could not be made"};
    default:
        return {kLogError, "the video stream's parameters could not be set"};
    }
}

EventLine AudioEvent(int32_t value)
{
    switch (value) {
    case RECMUX_MSG_AUDIO_READY:
        return {kLogInfo, "AAC stream set up"};
    case RECMUX_MSG_AUDIO_NO_STREAM:
        return {kLogError, "the AAC stream or its encoder could not be made"};
    case RECMUX_MSG_AUDIO_FIFO:
        return {kLogError, "the audio FIFO could not be allocated"};
    case RECMUX_MSG_AUDIO_CODEC_OPEN:
        return {kLogError, "the AAC encoder did not open"};
    case RECMUX_MSG_AUDIO_PARAMETERS:
        return {kLogError, "the AAC stream's parameters could not be set"};
    default:
        return {kLogError, "the audio resampler could not be made"};
    }
}

EventLine OutputFailure(int32_t value)
{
    switch (value) {
    case RECMUX_MSG_OUTPUT_SETUP:
        return {kLogError, "the output could not be set up: every later frame is refused"};
    case RECMUX_MSG_OUTPUT_WRITE:
        return {kLogError, "a write or sync failed (a full disk, a removed working file, or the "
                           "write callback refused): every later frame is refused"};
    case RECMUX_MSG_OUTPUT_FINISH:
        return {kLogError, "the recording could not be finished: it is kept under another name"};
    default:
        return {kLogError, "the final name now holds another file: the recording is kept aside"};
    }
}

}  // namespace

EventLine DescribeEvent(int32_t category, int32_t value)
{
    switch (category) {
    case RECMUX_MSG_VIDEO:
        return VideoEvent(value);
    case RECMUX_MSG_AUDIO:
        return AudioEvent(value);
    case RECMUX_MSG_OUTPUT_FAILED:
        return OutputFailure(value);
    default:
        return {0, nullptr};
    }
}

}  // namespace recmux
