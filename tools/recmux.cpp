// recmux: the library's command-line front end.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "annexb_source.h"
#include "audio_source.h"
#include "read_commands.h"
#include "record.h"
#include "test_pattern.h"
#include "test_tone.h"

namespace {

using recmux_tool::VideoCodec;

constexpr const char *kUsage =
    "usage: recmux record [-i in.h264|in.264|in.hevc|in.265|in.m4v] [-o out.mp4] [--fps N]\n"
    "                     [--fragmented] [--codec h264|h265] [--seconds S] [--callback]\n"
    "                     [--audio FILE --audio-type CODE [--audio-rate HZ] | --no-audio]\n"
    "                     [--audio-start S]\n"
    "  -i          Annex B input; without it a test pattern is encoded and recorded\n"
    "  -o          output (default recmux-demo.mp4); an existing recording is continued\n"
    "  --fps       frame rate the timestamps are made for (default 25)\n"
    "  --codec     codec of the input (default: from its extension) or of the test pattern\n"
    "  --seconds   length of the test pattern (default 10)\n"
    "  --callback  write through the recorder's write callback (always fragmented)\n"
    "  --audio     a 16-bit mono PCM WAV, encoded here with the voice codec of CODE, or a\n"
    "              file of device audio frames of CODE (voice frames or headerless payload)\n"
    "  --audio-type  the recorder's audio type code: 0-11 or 16 (6 G.711 A-law, 7 mu-law)\n"
    "  --audio-rate  sample rate of device audio frames (default 8000; a WAV has its own)\n"
    "  --no-audio  the test pattern without its test tone (1 kHz, G.711 A-law)\n"
    "  --audio-start  the sound comes only from S seconds on, as from a late microphone\n"
    "       recmux info in.mp4\n"
    "  frame rate, duration, streams and packet count of an MP4\n"
    "       recmux extract in.mp4 -o out.h264|out.264|out.hevc|out.h265|out.265|out.m4v\n"
    "  the video of an MP4 as an elementary stream (Annex B for H.264 and H.265)\n";

struct Arguments {
    recmux_tool::RecordOptions record;
    std::string input;
    std::optional<VideoCodec> codec;
    double seconds = 10;
    bool seconds_given = false;
    std::string audio;
    std::optional<int> audio_type;
    std::optional<int> audio_rate;
    bool no_audio = false;
};

int Usage(const char *problem)
{
    std::fprintf(stderr, "recmux: %s\n%s", problem, kUsage);
    return 2;
}

bool ParseNumber(const char *text, double low, double high, double &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// Empty when the arguments are fine, otherwise what is wrong with them.
std::string Parse(int argc, char **argv, Arguments &args)
{
    for (int i = 2; i < argc; i++) {
        const std::string flag = argv[i];
        if (flag == "--fragmented") {
            args.record.fragmented = true;
            continue;
        }
        if (flag == "--callback") {
            args.record.callback = true;
            continue;
        }
        if (flag == "--no-audio") {
            args.no_audio = true;
            continue;
        }
        if (i + 1 == argc)
            return "unknown option or missing value: " + flag;
        const char *value = argv[++i];
        double number = 0;
        if (flag == "-i") {
            args.input = value;
        } else if (flag == "-o") {
            args.record.output = value;
        } else if (flag == "--fps") {
            if (!ParseNumber(value, 1, 1000, number) || number != std::floor(number))
                return "--fps takes a whole number from 1 to 1000";
            args.record.fps = static_cast<int>(number);
        } else if (flag == "--seconds") {
            if (!ParseNumber(value, 0.001, 3600, number))
                return "--seconds takes a number above 0, at most 3600";
            args.seconds = number;
            args.seconds_given = true;
        } else if (flag == "--audio") {
            args.audio = value;
        } else if (flag == "--audio-type") {
            if (!ParseNumber(value, 0, 16, number) || number != std::floor(number) ||
                !recmux_tool::VoiceCodecFor(static_cast<int>(number)))
                return "--audio-type takes a code from 0 to 11, or 16";
            args.audio_type = static_cast<int>(number);
        } else if (flag == "--audio-rate") {
            if (!ParseNumber(value, 1000, 96000, number) || number != std::floor(number))
                return "--audio-rate takes a whole number of Hz from 1000 to 96000";
            args.audio_rate = static_cast<int>(number);
        } else if (flag == "--audio-start") {
            if (!ParseNumber(value, 0, 3600, number))
                return "--audio-start takes a number of seconds from 0 to 3600";
            args.record.audio_start_us = static_cast<uint64_t>(std::llround(number * 1e6));
        } else if (flag == "--codec") {
            if (std::strcmp(value, "h264") == 0)
                args.codec = VideoCodec::H264;
            else if (std::strcmp(value, "h265") == 0)
                args.codec = VideoCodec::H265;
            else
                return "--codec takes h264 or h265";
        } else {
            return "unknown option: " + flag;
        }
    }
    if (!args.input.empty() && args.seconds_given)
        return "--seconds applies to the test pattern only";
    if (args.audio.empty() && (args.audio_type || args.audio_rate))
        return "--audio-type and --audio-rate describe an --audio file";
    if (!args.audio.empty() && !args.audio_type)
        return "--audio needs --audio-type";
    if (!args.audio.empty() && args.no_audio)
        return "--audio and --no-audio exclude each other";
    if (args.no_audio && args.record.audio_start_us > 0)
        return "--audio-start and --no-audio exclude each other";
    if (!args.input.empty() && !args.codec && !recmux_tool::CodecFromExtension(args.input))
        return "cannot tell the codec of " + args.input + " from its name; give --codec";
    return {};
}

std::unique_ptr<recmux_tool::FrameSource> OpenSource(const Arguments &args)
{
    if (!args.input.empty())
        return recmux_tool::OpenAnnexBFile(
            args.input, args.codec.value_or(*recmux_tool::CodecFromExtension(args.input)));
    const int frames = static_cast<int>(std::lround(args.seconds * args.record.fps));
    const VideoCodec codec = args.codec.value_or(VideoCodec::H264);
    std::printf("test pattern: %dx%d, %d frames at %d fps, %s\n", recmux_tool::kPatternWidth,
                recmux_tool::kPatternHeight, frames, args.record.fps,
                codec == VideoCodec::H264 ? "libx264" : "libx265");
    return recmux_tool::OpenTestPattern(codec, args.record.fps, std::max(frames, 1));
}

// The test pattern brings its tone unless told not to; an input file brings none.
bool OpenAudio(const Arguments &args, std::unique_ptr<recmux_tool::AudioSource> &audio)
{
    if (!args.audio.empty())
        audio = recmux_tool::OpenAudioFile(args.audio, *args.audio_type, args.audio_rate);
    else if (args.input.empty() && !args.no_audio)
        audio = recmux_tool::OpenTestTone(args.seconds);
    else
        return true;
    return audio != nullptr;
}

int ReadCommand(int argc, char **argv)
{
    if (std::strcmp(argv[1], "info") == 0) {
        if (argc != 3)
            return Usage("info takes one MP4 file");
        return recmux_tool::Info(argv[2]);
    }
    if (argc != 5 || std::strcmp(argv[3], "-o") != 0)
        return Usage("extract takes an MP4 file and -o OUTPUT");
    if (!recmux_tool::CodecFromExtension(argv[4]))
        return Usage("the output of extract ends in .h264, .264, .hevc, .h265, .265 or .m4v");
    return recmux_tool::Extract(argv[2], argv[4]);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc >= 2 && (std::strcmp(argv[1], "info") == 0 || std::strcmp(argv[1], "extract") == 0))
        return ReadCommand(argc, argv);
    if (argc < 2 || std::strcmp(argv[1], "record") != 0)
        return Usage("the commands are record, info and extract");
    Arguments args;
    const std::string problem = Parse(argc, argv, args);
    if (!problem.empty())
        return Usage(problem.c_str());
    std::unique_ptr<recmux_tool::FrameSource> source = OpenSource(args);
    std::unique_ptr<recmux_tool::AudioSource> audio;
    if (!source || !OpenAudio(args, audio))
        return 1;
    return recmux_tool::Record(args.record, *source, audio.get());
}
