#include "recorder/CMP4Writer.h"

#include <climits>

#include "platform/library_log.h"
#include "recorder/recorder_events.h"
#include "recorder/recording_files.h"

namespace recmux {
namespace {

constexpr int kCallbackBufferSize = 0x100000;

}  // namespace

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
    workingPath_ = finalPath_ + ".tmp";
    // A FIFO would block every read, a directory or device take no recording:
    // refused at once. Claiming the name refuses the same at the working name,
    // and a symlink there, which could redirect the recording.
    if (!platform::AbsentOrRegular(path, true) || !ClaimName(path))
        return false;

    AVFormatContext *output = nullptr;
    avformat_alloc_output_context2(&output, nullptr, "mp4", workingPath_.c_str());
    output_.reset(output);
    // An old recording that cannot be continued whole would take frames that
    // could never be written: this recorder is not handed out, the old file stays.
    if (output_ && (!finalAtOpen_ || (OpenOutputFromExisting(path) && !outputFailed_)))
        return true;
    output_.reset();
    if (platform::IsSameFile(workingPath_.c_str(), workingFile_))
        DeleteRecordingFile(files_, workingPath_.c_str());
    workingFd_ = {};
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
        ioBuffer_.reset(static_cast<uint8_t *>(av_malloc(kCallbackBufferSize)));
        if (!ioBuffer_)
            return false;
    }
    AVIOContext *io = avio_alloc_context(ioBuffer_.get(), kCallbackBufferSize, 1, opaque, nullptr, write,
                                         nullptr);
    AVFormatContext *output = nullptr;
    if (io && avformat_alloc_output_context2(&output, nullptr, "mp4", nullptr) >= 0 && output) {
        ioBuffer_.release();  // the I/O context owns its buffer from here on
        output->pb = io;
        output->flags = AVFMT_FLAG_CUSTOM_IO;
        output_.reset(output);
        callbackOutput_ = true;
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
    const bool file_output = !IsCallbackOutput();
    // Frames that could not be written are a recording lost.
    if (!EnsureOutputOpen() && video_.Queued() != 0)
        MarkOutputFailed(RECMUX_MSG_OUTPUT_SETUP);
    DrainVideoQueue();
    if (headerWritten_)
        audio_.Drain();
    if (headerWritten_ && !outputFailed_) {
        audio_.Flush();
        // The trailer flushes the I/O context and returns its error.
        OutputTook(av_write_trailer(output_.get()));
    }
    ReleaseVideo();
    soundEnd_ = audio_.EndMicroseconds();
    audio_.Release();
    const bool finished = CloseOutputIo() && headerWritten_;
    output_.reset();
    if (file_output && continuedFd_)
        FinishInPlace();
    else if (file_output && finished && videoFrameCount_ > 0)
        FinishWorkingFile();
    if (file_output)
        FinaliseFile();
    workingFd_ = {};
    sink_.reset();
    continuedFd_ = {};
    return true;
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
    const EventLine line = DescribeEvent(category, value);
    if (line.text)
        platform::Log(line.level, "%s: %s\n",
                      callbackOutput_ ? "callback recording" : finalPath_.c_str(), line.text);
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

bool CMP4Writer::InitVideo(int32_t codec, int32_t width, int32_t height, int32_t)
{
    CallLock::Guard guard(callLock_);
    return guard && video_.Init(codec, width, height);
}

// Channels and bits describe the device's coded sound, which always decodes
// to mono 16-bit PCM: only the type and rate matter.
bool CMP4Writer::InitAudio(int32_t audio_type, int32_t, int32_t sample_rate, int32_t)
{
    CallLock::Guard guard(callLock_);
    if (!guard)
        return false;
    // Streams are fixed when the header is written: sound described later has
    // no track to go to, and the caller must learn that now.
    if (headerWritten_ && !audio_.IsOpen())
        return false;
    return audio_.Init(audio_type, sample_rate);
}

bool CMP4Writer::WriteVideo(const uint8_t *data, uint32_t size, uint64_t pts, int32_t key)
{
    CallLock::Guard guard(callLock_);
    if (!guard || !output_ || CannotWrite())
        return false;
    if ((!data && size != 0) || size > INT32_MAX)
        return false;
    CheckWorkingFile();
    if (outputFailed_)
        return false;
    // At the bound of what is held, the output opens with the rate known so far.
    if (!headerWritten_ && !video_.WaitingForKey() && video_.WouldPassHeldBound(size) &&
        !EnsureOutputOpen())
        return false;
    const bool first_key_frame = video_.WaitingForKey();
    if (!video_.Accept(data, size, pts, key, headerWritten_))
        return false;
    if (first_key_frame && !DescribeVideoStream())
        return false;
    if (first_key_frame && beginPts_ == 0) {
        beginPts_ = pts;
        endPts_ = pts;
    }
    // The output opens as soon as the frame interval can be told, so little is
    // held in memory and a crash or a live viewer loses little.
    if (!headerWritten_ && video_.Timeline().ReadyToOpen())
        EnsureOutputOpen();
    WriteInterleaved();
    // The frame whose open failed for good is lost with those held before it.
    return !CannotWrite();
}

bool CMP4Writer::WriteAudio(const uint8_t *data, uint32_t size, uint64_t pts)
{
    CallLock::Guard guard(callLock_);
    if (!guard || CannotWrite() || !audio_.Fits(size))
        return false;
    // Sound before the first key frame has no picture to go with.
    if (!video_.WaitingForKey())
        audio_.Queue(data, size, pts);
    WriteInterleaved();
    return true;
}

}  // namespace recmux
