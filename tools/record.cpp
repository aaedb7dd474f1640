#include "record.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <recmux/recmux_writer.h>

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
    uint64_t bytes = 0;
};

int WriteToSink(void *opaque, uint8_t *buf, int buf_size)
{
    auto *sink = static_cast<CallbackSink *>(opaque);
    if (buf_size < 0)
        return -EINVAL;
    const size_t written = std::fwrite(buf, 1, static_cast<size_t>(buf_size), sink->file.get());
    sink->bytes += written;
    return written == static_cast<size_t>(buf_size) ? buf_size : -EIO;
}

struct Counts {
    uint64_t passed = 0;
    uint64_t accepted = 0;
    uint64_t audio_passed = 0;
    bool audio_left = false;  // frames after the end of the video, never passed
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
            if (frame_.offset_us >= start_us_) {
                recmux_writer_write_audio(writer_, frame_.bytes.data(),
                                          static_cast<uint32_t>(frame_.bytes.size()), Pts());
                counts.audio_passed++;
            }
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

uint64_t VideoPts(uint64_t frame, int fps)
{
    return kFirstPts + frame * 1'000'000 / static_cast<uint64_t>(fps);
}

// Audio that starts with a video frame goes in after it: the recorder drops
// audio until it has accepted the first key frame. A capture brings its own
// timestamps; the others are made from the frame rate.
Counts Feed(recmux_writer *writer, FrameSource &source, AudioSource *audio,
            const RecordOptions &options)
{
    const int fps = options.fps;
    Counts counts;
    AudioFeed audio_feed(writer, audio, options.audio_start_us);
    Progress progress("recording");
    uint64_t next_pts = VideoPts(0, fps);
    AccessUnit unit;
    while (source.Next(unit)) {
        const uint64_t pts = unit.pts_us.value_or(VideoPts(counts.passed, fps));
        audio_feed.Until(pts, counts);
        counts.passed++;
        if (recmux_writer_write_video(writer, unit.bytes.data(),
                                      static_cast<uint32_t>(unit.bytes.size()), pts,
                                      unit.key ? 1 : 0) == 0)
            counts.accepted++;
        next_pts = std::max(next_pts, pts + 1'000'000 / static_cast<uint64_t>(fps));
        progress.Show(source.Fraction(), std::to_string(counts.passed) + " frames");
    }
    if (counts.passed > 0)
        audio_feed.Until(next_pts, counts);
    return counts;
}

// Read before close, which destroys the recorder; frames still queued then
// are written by close and do not move the end pts shown here.
void PrintPts(recmux_writer *writer)
{
    uint64_t begin = 0;
    uint64_t end = 0;
    if (recmux_writer_get_begin_pts(writer, &begin) == 0)
        std::printf("begin pts: %" PRIu64 " us\n", begin);
    else
        std::printf("begin pts: none\n");
    if (recmux_writer_get_end_pts(writer, &end) == 0)
        std::printf("end pts before close: %" PRIu64 " us\n", end);
}

void PrintFile(const std::string &path)
{
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error)
        std::printf("no file was written\n");
    else
        std::printf("file: %s, %ju bytes\n", path.c_str(), size);
}

recmux_writer *OpenWriter(const RecordOptions &options, CallbackSink &sink)
{
    if (!options.callback) {
        std::error_code unknown;
        if (std::filesystem::exists(options.output, unknown))
            std::printf("%s exists: the recording continues it\n", options.output.c_str());
        return recmux_writer_open(options.output.c_str());
    }
    sink.file.reset(std::fopen(options.output.c_str(), "wb"));
    if (!sink.file)
        return nullptr;
    return recmux_writer_open_and_set_callback(&sink, WriteToSink);
}

}  // namespace

int Record(const RecordOptions &options, FrameSource &source, AudioSource *audio)
{
    CallbackSink sink;
    recmux_writer *writer = OpenWriter(options, sink);
    if (!writer) {
        std::fprintf(stderr, "recmux: cannot open a recorder on %s%s\n", options.output.c_str(),
                     options.callback ? "" : " (the name must end in .mp4)");
        return 1;
    }
    if (options.fragmented)
        recmux_writer_set_file_type(writer, 1);
    const bool fragmented = options.fragmented || options.callback;
    std::printf("recording %s MP4 %s %s\n", fragmented ? "fragmented" : "plain",
                options.callback ? "through the write callback into" : "into",
                options.output.c_str());
    if (audio) {
        recmux_writer_init_audio(writer, audio->Code(), 1, audio->Rate(), 16);
        std::printf("audio type %d at %d Hz from %s\n", audio->Code(), audio->Rate(),
                    audio->Describe().c_str());
    }
    const Counts counts = Feed(writer, source, audio, options);
    std::printf("frames passed: %" PRIu64 ", accepted: %" PRIu64 "\n", counts.passed,
                counts.accepted);
    if (audio)
        std::printf("audio frames passed: %" PRIu64 "%s\n", counts.audio_passed,
                    counts.audio_left ? " (the rest lies after the end of the video)" : "");
    PrintPts(writer);
    const bool closed = recmux_writer_close(&writer) == 0;
    if (!closed)
        std::fprintf(stderr, "recmux: closing the recorder failed\n");
    if (options.callback) {
        sink.file.reset();
        std::printf("write callback: %" PRIu64 " bytes\n", sink.bytes);
    }
    PrintFile(options.output);
    // The sources have said what went wrong with them.
    if (source.Failed() || (audio && audio->Failed()))
        return 1;
    if (closed && counts.accepted == 0)
        std::fprintf(stderr, "recmux: the recorder took no frame (no key frame it could read)\n");
    return closed && counts.accepted > 0 ? 0 : 1;
}

}  // namespace recmux_tool
