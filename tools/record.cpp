#include "record.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <recmux/recmux_writer.h>

#include "file_problems.h"
#include "platform/interrupts.h"
#include "progress.h"

namespace recmux_tool {
namespace {

// A first key frame at 0 would leave the recorder's begin pts unset.
constexpr uint64_t kFirstPts = 1'000'000;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

struct CallbackSink {
    std::unique_ptr<std::FILE, FileCloser> file;
    int error = 0;  // errno of the write that failed
};

int WriteToSink(void *opaque, uint8_t *buf, int buf_size)
{
    auto *sink = static_cast<CallbackSink *>(opaque);
    if (buf_size < 0)
        return -EINVAL;
    const auto size = static_cast<size_t>(buf_size);
    // Flushed at once, so that a full disk stops the recording now, not at close.
    if (std::fwrite(buf, 1, size, sink->file.get()) == size && std::fflush(sink->file.get()) == 0)
        return buf_size;
    sink->error = errno != 0 ? errno : EIO;
    return -EIO;
}

// The library does not say why it refused a name; what PrepareOutput cannot
// see beforehand is looked for.
std::string RefusalReason(const std::string &path)
{
    const std::string working = path + ".tmp";
    if (const std::string reason = ObstacleReason(working); !reason.empty())
        return working + " is in the way: " + reason;
    if (DiskFull(path))
        return SystemReason(ENOSPC);
    return "the recorder cannot open it";
}

const char *FailureText(int32_t failure)
{
    switch (failure) {
    case RECMUX_MSG_OUTPUT_FINISH:
        return "could not be finished; what was recorded is kept beside it (.recovered.mp4 or "
               ".mp4.tmp)";
    case RECMUX_MSG_OUTPUT_NAME_TAKEN:
        return "another file took its name meanwhile and stays; the recording is kept beside it "
               "(.recovered.mp4)";
    default: return "a write failed (the file system refused it, or the file was removed)";
    }
}

// A recorder on a file or, through the write callback, on a file the tool
// writes, and what it said about its output.
class Recorder {
public:
    explicit Recorder(std::string path) : path_(std::move(path)) {}
    ~Recorder() { recmux_writer_close(&writer_); }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // False after saying why on stderr, naming shown_as.
    bool Open(bool callback, const std::string &shown_as)
    {
        if (callback && !OpenSinkFile(shown_as))
            return false;
        writer_ = callback ? recmux_writer_open_and_set_callback(&sink_, WriteToSink)
                           : recmux_writer_open(path_.c_str());
        if (!writer_) {
            ReportProblem(shown_as, RefusalReason(path_));
            if (callback)
                std::remove(path_.c_str());
            return false;
        }
        recmux_writer_set_msg_notify(writer_, this, Note);
        return true;
    }

    recmux_writer *Writer() const { return writer_; }
    bool Failed() const { return failure_.has_value(); }

    // True when the recording was finished whole.
    bool Close()
    {
        bool whole = recmux_writer_close(&writer_) == 0;
        if (sink_.file && std::fclose(sink_.file.release()) != 0) {
            sink_.error = errno;
            whole = false;
        }
        return whole && sink_.error == 0;
    }

    // Why the output failed; empty when the recorder did not say it did.
    std::string FailureReason() const
    {
        if (sink_.error != 0)
            return SystemReason(sink_.error);
        if (!failure_)
            return {};
        if (disk_full_)
            return SystemReason(ENOSPC);
        return FailureText(*failure_);
    }

private:
    bool OpenSinkFile(const std::string &shown_as)
    {
        sink_.file.reset(std::fopen(path_.c_str(), "wbx"));
        if (!sink_.file)
            ReportProblem(shown_as, SystemReason(errno));
        return sink_.file != nullptr;
    }

    // The disk is looked at while the failed write still holds its room.
    static int32_t RECMUX_STDCALL Note(void *user, int32_t category, int32_t value)
    {
        auto *self = static_cast<Recorder *>(user);
        if (category == RECMUX_MSG_OUTPUT_FAILED && !self->failure_) {
            self->failure_ = value;
            self->disk_full_ = DiskFull(self->path_);
        }
        return 0;
    }

    std::string path_;
    recmux_writer *writer_ = nullptr;
    CallbackSink sink_;
    std::optional<int32_t> failure_;  // a RECMUX_MSG_OUTPUT_* value
    bool disk_full_ = false;
};

struct Counts {
    uint64_t passed = 0;
    uint64_t accepted = 0;
    bool audio_left = false;           // sound after the end of the video, never passed
    std::optional<uint64_t> first_us;  // a capture's own times of the frames taken
    uint64_t last_us = 0;
};

// Hands the recorder every audio frame that starts before until_us, as a
// device would send it once that stretch of sound is complete.
class AudioFeed {
public:
    AudioFeed(recmux_writer *writer, AudioSource *audio, uint64_t start_us)
        : writer_(writer), audio_(audio), start_us_(start_us)
    {
        pending_ = audio_ && audio_->Next(frame_);
    }

    void Until(uint64_t until_us, Counts &counts)
    {
        while (pending_ && Pts() < until_us) {
            if (frame_.offset_us >= start_us_)
                recmux_writer_write_audio(writer_, frame_.bytes.data(),
                                          static_cast<uint32_t>(frame_.bytes.size()), Pts());
            pending_ = audio_->Next(frame_);
        }
        counts.audio_left = pending_;
    }

private:
    uint64_t Pts() const { return frame_.pts_us.value_or(kFirstPts + frame_.offset_us); }

    recmux_writer *writer_;
    AudioSource *audio_;
    uint64_t start_us_;
    AudioFrame frame_;
    bool pending_ = false;
};

uint64_t VideoPts(uint64_t frame, AVRational fps)
{
    return kFirstPts + static_cast<uint64_t>(av_rescale_q(static_cast<int64_t>(frame), av_inv_q(fps),
                                                          AVRational{1, 1000000}));
}

void CountAccepted(const AccessUnit &unit, Counts &counts)
{
    counts.accepted++;
    if (!unit.pts_us)
        return;
    counts.first_us = std::min(counts.first_us.value_or(*unit.pts_us), *unit.pts_us);
    counts.last_us = std::max(counts.last_us, *unit.pts_us);
}

// Audio that starts with a video frame goes in after it: the recorder drops
// audio until it has accepted the first key frame. A capture brings its own
// timestamps; the others are made from the frame rate. A signal or an output
// that failed for good ends the input early.
Counts Feed(const Recorder &recorder, FrameSource &source, AudioSource *audio,
            const RecordOptions &options)
{
    recmux_writer *writer = recorder.Writer();
    const AVRational fps = options.fps;
    Counts counts;
    AudioFeed audio_feed(writer, audio, options.audio_start_us);
    Progress progress("recording");
    uint64_t next_pts = VideoPts(0, fps);
    AccessUnit unit;
    while (recmux::platform::InterruptSignal() == 0 && !recorder.Failed() && source.Next(unit)) {
        const uint64_t pts = unit.pts_us.value_or(VideoPts(counts.passed, fps));
        audio_feed.Until(pts, counts);
        counts.passed++;
        if (recmux_writer_write_video(writer, unit.bytes.data(),
                                      static_cast<uint32_t>(unit.bytes.size()), pts,
                                      unit.key ? 1 : 0) == 0)
            CountAccepted(unit, counts);
        next_pts = std::max(next_pts, pts + VideoPts(1, fps) - VideoPts(0, fps));
        progress.Show(source.Fraction(),
                      std::to_string(counts.passed) + " frames (Ctrl-C finishes)");
    }
    if (counts.passed > 0)
        audio_feed.Until(next_pts, counts);
    return counts;
}

const char *AudioTypeName(int code)
{
    switch (code) {
    case RECMUX_AUDIO_G711_ALAW:
    case RECMUX_AUDIO_G711_ALAW_ALT: return "G.711 A-law";
    case RECMUX_AUDIO_G711_ULAW:
    case RECMUX_AUDIO_G711_ULAW_ALT: return "G.711 mu-law";
    case RECMUX_AUDIO_IMA_ADPCM:
    case RECMUX_AUDIO_IMA_ADPCM_WAVE: return "IMA ADPCM";
    default: return "G.726";
    }
}

void Announce(const RecordOptions &options, const AudioSource *audio)
{
    std::printf("recording %s (%s)\n", options.output.c_str(),
                options.callback     ? "fragmented MP4, through the write callback"
                : options.fragmented ? "fragmented MP4"
                                     : "plain MP4");
    if (audio)
        std::printf("sound: %s (type %d) at %d Hz, from %s\n", AudioTypeName(audio->Code()),
                    audio->Code(), audio->Rate(), audio->Describe().c_str());
}

// What the input gave that the recording does not hold, in passing.
void PrintLeftOut(const Counts &counts, bool stopped_early)
{
    if (counts.accepted > 0 && counts.accepted < counts.passed && !stopped_early)
        std::printf("%" PRIu64 " of %" PRIu64 " input frames left out: the recording starts at the "
                    "first key frame it can read\n",
                    counts.passed - counts.accepted, counts.passed);
    if (counts.audio_left && !stopped_early)
        std::printf("the sound goes on past the end of the video: that part is left out\n");
    if (counts.first_us)
        std::printf("taken from the capture's clock: %.2f s to %.2f s\n", *counts.first_us / 1e6,
                    counts.last_us / 1e6);
}

void PrintSummary(const RecordOutput &output, bool complete)
{
    const std::optional<Mp4Facts> facts = ReadMp4Facts(output.path);
    if (!facts)
        return;
    std::string text = Describe(*facts);
    if (complete && output.continued)
        text = Duration(std::max(0.0, facts->seconds - output.continued->seconds)) +
               " added, now " + text;
    else if (!complete)
        text = (output.Replaces() ? "stays as it was, " : "kept, ") + text;
    std::printf("%s: %s\n", output.path.c_str(), text.c_str());
}

// The one line on stderr that says why the recording is not whole, unless a
// source has said it already.
void ReportFailure(const RecordOutput &output, const std::string &output_failure, bool closed,
                   const Counts &counts, const std::string &input)
{
    if (!output_failure.empty())
        ReportProblem(output.path, output_failure);
    else if (!closed)
        ReportProblem(output.path, "the recording could not be finished");
    else if (counts.accepted == 0)
        ReportProblem(input, "no key frame the recorder could read: nothing recorded");
}

// Closes the recording, puts it in place and says what it holds; a stopping
// signal then ends the process.
int Finish(Recorder &recorder, const RecordOutput &output, const Counts &counts, bool input_failed,
           const std::string &input)
{
    const bool closed = recorder.Close();
    const bool complete = closed && counts.accepted > 0 && !input_failed;
    const bool published = FinishOutput(output, complete);
    const std::string output_failure = recorder.FailureReason();
    if (!complete && !input_failed)
        ReportFailure(output, output_failure, closed, counts, input);
    const int signal = recmux::platform::InterruptSignal();
    if (signal != 0)
        std::printf("stopped by %s\n", signal == SIGINT ? "Ctrl-C" : "SIGTERM");
    PrintLeftOut(counts, signal != 0 || !output_failure.empty());
    PrintSummary(output, complete && published);
    if (signal != 0)
        recmux::platform::EndByInterruptSignal();
    return complete && published ? 0 : 1;
}

}  // namespace

int Record(const RecordOptions &options, RecordOutput output, FrameSource &source,
           AudioSource *audio)
{
    Recorder recorder(output.writing);
    if (!recorder.Open(options.callback, output.path))
        return 1;
    if (!options.callback)
        NoteTakenBack(output);
    recmux::platform::CatchInterrupts(output.Abandoned());
    if (options.fragmented)
        recmux_writer_set_file_type(recorder.Writer(), RECMUX_FILE_FRAGMENTED);
    Announce(options, audio);
    if (audio)
        recmux_writer_init_audio(recorder.Writer(), audio->Code(), 1, audio->Rate(), 16);
    const Counts counts = Feed(recorder, source, audio, options);
    return Finish(recorder, output, counts, source.Failed() || (audio && audio->Failed()),
                  options.input);
}

}  // namespace recmux_tool
