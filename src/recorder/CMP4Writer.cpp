#include "recorder/CMP4Writer.h"

#include "recorder/fragmented_file.h"
#include "recorder/recording_files.h"
#include "recorder/recovery.h"

namespace recmux {

CMP4Writer::CMP4Writer(const platform::FileOps &files) : files_(files) {}

CMP4Writer::~CMP4Writer()
{
    try {
        Close();
    } catch (...) {
        // Close only throws when memory runs out; the members still release everything.
    }
}

bool CMP4Writer::Open(const char *path)
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    if (!path)
        return false;
    headerWritten_ = false;
    beginPts_ = 0;
    endPts_ = 0;
    finalPath_ = path;
    const std::string working = finalPath_ + ".tmp";
    // A FIFO would block every read, a directory or device take no recording,
    // and a symlink at the working name could redirect it: refused at once.
    if (!platform::AbsentOrRegular(path, true) ||
        !platform::AbsentOrRegular(working.c_str(), false))
        return false;
    // A crash survivor moved to the final name is continued below, like any recording.
    if (!ClearWorkingName(files_, working, finalPath_))
        return false;

    AVFormatContext *output = nullptr;
    avformat_alloc_output_context2(&output, nullptr, "mp4", working.c_str());
    if (!output)
        return false;
    output_.reset(output);
    if (!FileExists(files_, path) || OpenOutputFromExisting(path) || !setupClosed_)
        return true;
    // The old recording cannot be continued: frames given to this recorder
    // could never be written, so it is not handed out. The old file stays.
    output_.reset();
    DeleteRecordingFile(files_, working.c_str());
    return false;
}

bool CMP4Writer::OpenWithCallback(void *opaque, recmux_write_callback write)
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    // Without a callback every byte would be dropped while the recording reports success.
    if (!write)
        return false;
    if (!ioBuffer_) {
        ioBuffer_.reset(static_cast<uint8_t *>(av_malloc(static_cast<size_t>(ioBufferSize_))));
        if (!ioBuffer_)
            return false;
    }
    AVIOContext *io = avio_alloc_context(ioBuffer_.get(), ioBufferSize_, 1, opaque, nullptr, write,
                                         nullptr);
    AVFormatContext *output = nullptr;
    if (io && avformat_alloc_output_context2(&output, nullptr, "mp4", nullptr) >= 0 && output) {
        ioBuffer_.release();  // the I/O context owns its buffer from here on
        output->pb = io;
        output->flags = AVFMT_FLAG_CUSTOM_IO;
        output_.reset(output);
        fileType_ = 1;
        return true;
    }
    avio_context_free(&io);
    ioBuffer_.reset();
    return false;
}

bool CMP4Writer::IsOpen()
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    return output_ != nullptr;
}

bool CMP4Writer::Close()
{
    CallLock::Guard guard(callLock_);
    if (!guard || !output_)
        return false;
    // A callback output has no url: it is never finalised.
    const std::string working = output_->url ? output_->url : "";
    const bool fragmented = IsFragmented();
    // Frames that could not be written are a recording lost.
    if (!EnsureOutputOpen() && videoQueue_.Size() != 0)
        MarkOutputFailed(RECMUX_MSG_OUTPUT_SETUP);
    DrainVideoQueue();
    DrainAudio();
    resampler_.reset();
    if (!output_)
        return true;
    if (headerWritten_ && !outputFailed_) {
        if (audioEncoder_)
            FlushEncoder(audioEncoder_.get());
        if (videoCodecContext_)
            FlushEncoder(videoCodecContext_.get());
        // The trailer flushes the I/O context and returns its error.
        OutputTook(av_write_trailer(output_.get()));
    }
    ReleaseVideo();
    ReleaseAudio();
    const bool finished = CloseOutputIo() && headerWritten_;
    output_.reset();
    if (!working.empty() && fragmented && finished &&
        platform::IsSameFile(working.c_str(), workingFile_))
        FinishFragmentedFile(working.c_str());
    if (!working.empty() && !FinaliseFile(working))
        MarkOutputFailed(RECMUX_MSG_OUTPUT_FINISH);
    return true;
}

// A recording without a single video frame is not published: a track-less file
// under the final name could never be continued. What a failed output left is
// published when it reads back (a fragmented file up to its last fragment).
bool CMP4Writer::FinaliseFile(const std::string &working)
{
    // Whatever has taken the working name since is not ours to publish or delete.
    if (!platform::IsSameFile(working.c_str(), workingFile_))
        return videoFrameCount_ == 0;
    if (videoFrameCount_ > 0 && IsReadableMp4(working.c_str()))
        return FinaliseRecording(files_, working.c_str(), finalPath_.c_str()) == 0;
    DeleteRecordingFile(files_, working.c_str());
    // Video written that does not read back is a recording lost.
    return videoFrameCount_ == 0;
}

void CMP4Writer::MarkOutputFailed(int32_t reason)
{
    if (outputFailed_)
        return;
    outputFailed_ = true;
    Notify(RECMUX_MSG_OUTPUT_FAILED, reason);
}

bool CMP4Writer::OutputTook(int result)
{
    if (output_ && output_->pb && output_->pb->error < 0)
        MarkOutputFailed(RECMUX_MSG_OUTPUT_WRITE);
    return result >= 0 && !outputFailed_;
}

// Frames can only leave the queue once the header is written; without it they
// are dropped rather than waited for. An audio step that keeps failing ends
// every pass before any video: after two idle passes the video goes alone.
void CMP4Writer::DrainVideoQueue()
{
    for (int idle = 0; headerWritten_ && videoQueue_.Size() != 0 && idle < 3;) {
        const uint32_t before = videoQueue_.Size();
        WriteInterleaved(3);
        if (videoQueue_.Size() < before) {
            idle = 0;
        } else if (++idle == 2) {
            audioStopped_ = true;
        }
    }
    AVFrameInfo dropped;
    while (videoQueue_.Pop(dropped)) {
    }
}

void CMP4Writer::FlushEncoder(AVCodecContext *context)
{
    if (!context->codec || !(context->codec->capabilities & AV_CODEC_CAP_DELAY))
        return;
    PacketPtr packet(av_packet_alloc());
    if (!packet || avcodec_send_frame(context, nullptr) < 0)
        return;
    // Only the AAC encoder holds frames back: the video context never encodes.
    while (avcodec_receive_packet(context, packet.get()) >= 0) {
        const bool written = context == audioEncoder_.get() &&
                             WriteAudioPacket(packet->data, packet->size);
        av_packet_unref(packet.get());
        if (!written)
            return;
    }
}

bool CMP4Writer::SetFileType(int32_t type)
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    fileType_ = type;
    return true;
}

bool CMP4Writer::SetMsgNotify(void *user, MsgNotifyCallback notify)
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    msgUser_ = user;
    msgNotify_ = notify;
    return true;
}

void CMP4Writer::Notify(int32_t category, int32_t value)
{
    if (msgNotify_)
        msgNotify_(msgUser_, category, value);
}

bool CMP4Writer::GetBeginPts(uint64_t *pts)
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    if (!pts || beginPts_ == 0)
        return false;
    *pts = beginPts_;
    return true;
}

bool CMP4Writer::GetEndPts(uint64_t *pts)
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    if (!pts || endPts_ == 0)
        return false;
    *pts = endPts_;
    return true;
}

}  // namespace recmux
