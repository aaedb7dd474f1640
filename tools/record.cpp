#include "record.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "recmux_writer.h"

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
        while (pending_ && kFirstPts + frame_.offset_us < until_us) {
            if (frame_.offset_us >= start_us_) {
                recmux_writer_write_audio(writer_, frame_.bytes.data(),
                                          static_cast<uint32_t>(frame_.bytes.size()),
                                          kFirstPts + frame_.offset_us);
                counts.audio_passed++;
            }
            pending_ = audio_->Next(frame_);
        }
        counts.audio_left = pending_;
    }

private:
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
// audio until it has accepted the first key frame.
Counts Feed(recmux_writer *writer, FrameSource &source, AudioSource *audio,
           const RecordOptions &options)
{
    const int fps = options.fps;
    Counts counts;
    AudioFeed audio_feed(writer, audio, options.audio_start_us);
    AccessUnit unit;
    while (source.Next(unit)) {
        const uint64_t pts = VideoPts(counts.passed, fps);
        audio_feed.Until(pts, counts);
        counts.passed++;
        if (recmux_writer_write_video(writer, unit.bytes.data(),
                                      static_cast<uint32_t>(unit.bytes.size()), pts,
                                      unit.key ? 1 : 0) == 0)
            counts.accepted++;
    }
    if (counts.passed > 0)
        audio_feed.Until(VideoPts(counts.passed, fps), counts);
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
        if (std::filesystem::exists(options.output))
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
    const bool audio_failed = audio && audio->Failed();
    return closed && counts.accepted > 0 && !source.Failed() && !audio_failed ? 0 : 1;
}

}  // namespace recmux_tool
