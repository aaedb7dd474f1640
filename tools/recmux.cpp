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


extern "C" {
#include <libavutil/avutil.h>
}

#include <recmux/recmux_library.h>
#include <recmux/zk_voice.h>

#include "annexb_source.h"
#include "audio_source.h"
#include "capture_source.h"
#include "read_commands.h"
#include "record.h"
#include "test_pattern.h"
#include "test_tone.h"
#include "voice_command.h"

namespace {

using recmux_tool::VideoCodec;

constexpr const char *kGeneralUsage =
    "usage: recmux [-v] COMMAND ...    (-v: show the library's and FFmpeg's log)\n"
    "       recmux --version\n"
    "       recmux COMMAND --help      (one command's usage)\n"
    "exit status: 0 done, 1 failed (one line on stderr says why), 2 bad arguments\n";

constexpr const char *kRecordUsage =
    "recmux record [-i INPUT] [-o OUT.mp4] [--overwrite] [--fps N] [--fragmented]\n"
    "              [--codec h264|h265] [--seconds S] [--callback] [--audio FILE --audio-type CODE\n"
    "              [--audio-rate HZ] | --no-audio] [--audio-start S]\n"
    "  -i          an Annex B stream (.h264 .264 .hevc .h265 .265 .m4v, or any name with\n"
    "              --codec), or a capture in any container FFmpeg reads (MPEG-TS,\n"
    "              Matroska, MP4...) with H.264/H.265 video, recorded with its own timestamps\n"
    "              and its mono G.711 sound (other sound is left out, with a warning); a pipe\n"
    "              is recorded as it comes. Without -i a test pattern is encoded and recorded\n"
    "  -o          the recording, a name ending in .mp4 (default recmux-demo.mp4). When it\n"
    "              holds a recording already, the new frames follow its own\n"
    "  --overwrite  record afresh: an existing OUT.mp4 is replaced once the new recording is\n"
    "              complete, and stays if it fails\n"
    "  --fps       frame rate the timestamps are made for: 25, 12.5, 30000/1001 (default\n"
    "              25; not for a capture)\n"
    "  --codec     codec of an Annex B input (default: from its extension) or of the pattern\n"
    "  --seconds   length of the test pattern (default 10)\n"
    "  --callback  write through the recorder's write callback (always fragmented, always afresh)\n"
    "  --audio     a 16-bit mono PCM WAV, encoded here with the voice codec of CODE, or a\n"
    "              file of device audio frames of CODE (voice frames or headerless payload)\n"
    "  --audio-type  the recorder's audio type code: 0-11 or 16 (6 G.711 A-law, 7 mu-law)\n"
    "  --audio-rate  sample rate of device audio frames (default 8000; a WAV has its own)\n"
    "  --no-audio  the test pattern or capture without sound (the pattern's is a 1 kHz tone)\n"
    "  --audio-start  the sound comes only from S seconds on, as from a late microphone\n"
    "  Ctrl-C or SIGTERM finishes the recording, which is kept whole, and recmux then ends by\n"
    "  that signal (exit status 130 or 143). A second one stops at once: what reached the\n"
    "  disk is taken back by the next record into the same file (with --overwrite, the new\n"
    "  recording is dropped and the old one stays).\n";

constexpr const char *kInfoUsage =
    "recmux info [--json] IN.mp4\n"
    "  frame rate, duration, streams and packet counts of an MP4 (--json: one JSON object)\n";

constexpr const char *kExtractUsage =
    "recmux extract IN.mp4 [-o OUT]\n"
    "  the video of an MP4 as an elementary stream (Annex B for H.264 and H.265). OUT ends\n"
    "  in an extension of the video's codec: .h264 .264 (H.264), .hevc .h265 .265 (H.265),\n"
    "  .m4v (MPEG-4); another codec's is refused. Without -o: IN with .h264, .hevc or .m4v\n"
    "  in place of its extension. A file already at OUT is replaced.\n";

constexpr const char *kVoiceUsage =
    "recmux voice encode IN.wav OUT --codec ID [--samples N]\n"
    "recmux voice decode IN OUT.wav --codec ID [--rate HZ]\n"
    "recmux voice transcode IN OUT --mode MODE\n"
    "  between 16-bit mono WAV and files of voice frames (4-byte header and payload, back\n"
    "  to back, as the library writes them). ID: 1 A-law, 2 mu-law, 65/66 the same with\n"
    "  swapped bytes; 4-7 G.726 16/24/32/40 kbit/s, 36-39 the same packed from the top\n"
    "  bit; 3, 35, 67 IMA ADPCM (block header, WAVE block, none); 68 2-bit adaptive.\n"
    "  --samples per frame (default 320, 321 for 35); --rate of the WAV (default 8000).\n"
    "  MODE: 97 (65 -> 1), 98 (66 -> 2), 99 (67 -> 3), 100 (68 -> 4)\n";

struct Arguments {
    recmux_tool::RecordOptions record;
    std::string input;
    std::optional<VideoCodec> codec;
    double seconds = 10;
    bool seconds_given = false;
    bool fps_given = false;
    std::string audio;
    std::optional<int> audio_type;
    std::optional<int> audio_rate;
    bool no_audio = false;
};

int Usage(const std::string &problem)
{
    std::fprintf(stderr, "recmux: %s (recmux --help shows the usage)\n", problem.c_str());
    return 2;
}

bool ParseNumber(const char *text, double low, double high, double &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// A whole or decimal number, or a fraction of two whole ones (30000/1001).
bool ParseRate(const char *text, AVRational &rate)
{
    const char *slash = std::strchr(text, '/');
    double value = 0, num = 0, den = 0;
    if (!slash) {
        if (!ParseNumber(text, 1, 1000, value))
            return false;
        rate = av_d2q(value, 1001);
    } else {
        const std::string numerator(text, slash);
        if (!ParseNumber(numerator.c_str(), 1, 1e6, num) || !ParseNumber(slash + 1, 1, 1e6, den) ||
            num != std::floor(num) || den != std::floor(den) || num / den < 1 || num / den > 1000)
            return false;
        rate = AVRational{static_cast<int>(num), static_cast<int>(den)};
    }
    return true;
}

// An input that is not an Annex B stream by its name or by --codec is read as a container.
bool IsCapture(const Arguments &args)
{
    return !args.input.empty() && !args.codec && !recmux_tool::CodecFromExtension(args.input);
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
        if (flag == "--overwrite") {
            args.record.overwrite = true;
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
            if (!ParseRate(value, args.record.fps))
                return "--fps takes a rate from 1 to 1000: 25, 12.5 or 30000/1001";
            args.fps_given = true;
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
    if (args.record.output.size() <= 4 || !recmux_tool::EndsWith(args.record.output, ".mp4"))
        return "-o takes a name ending in .mp4: " + args.record.output;
    if (!args.input.empty() && args.seconds_given)
        return "--seconds applies to the test pattern only";
    if (args.audio.empty() && (args.audio_type || args.audio_rate))
        return "--audio-type and --audio-rate describe an --audio file";
    if (!args.audio.empty() && !args.audio_type)
        return "--audio needs --audio-type";
    if (!args.audio.empty() && args.no_audio)
        return "--audio and --no-audio exclude each other";
    if (IsCapture(args) && args.fps_given)
        return "--fps does not apply to a capture: it has its own timestamps";
    if (args.no_audio && args.record.audio_start_us > 0)
        return "--audio-start and --no-audio exclude each other";
    return {};
}

std::unique_ptr<recmux_tool::FrameSource> OpenSource(const Arguments &args)
{
    if (!args.input.empty())
        return recmux_tool::OpenAnnexBFile(
            args.input, args.codec.value_or(*recmux_tool::CodecFromExtension(args.input)));
    const int frames = static_cast<int>(std::lround(args.seconds * av_q2d(args.record.fps)));
    const VideoCodec codec = args.codec.value_or(VideoCodec::H264);
    std::printf("test pattern: %dx%d, %d frames at %g fps, %s\n", recmux_tool::kPatternWidth,
                recmux_tool::kPatternHeight, frames, av_q2d(args.record.fps),
                codec == VideoCodec::H264 ? "libx264" : "libx265");
    return recmux_tool::OpenTestPattern(codec, args.record.fps, std::max(frames, 1));
}

// A capture brings its G.711 audio, the test pattern its tone, unless told
// otherwise; an Annex B input brings none.
bool OpenSources(const Arguments &args, std::unique_ptr<recmux_tool::FrameSource> &video,
                 std::unique_ptr<recmux_tool::AudioSource> &audio)
{
    if (IsCapture(args)) {
        recmux_tool::Capture capture =
            recmux_tool::OpenCapture(args.input, !args.no_audio && args.audio.empty());
        video = std::move(capture.video);
        audio = std::move(capture.audio);
    } else {
        video = OpenSource(args);
        if (args.input.empty() && !args.no_audio && args.audio.empty())
            audio = recmux_tool::OpenTestTone(args.seconds);
    }
    if (!video)
        return false;
    if (args.audio.empty())
        return true;
    audio = recmux_tool::OpenAudioFile(args.audio, *args.audio_type, args.audio_rate);
    return audio != nullptr;
}

int RecordCommand(int argc, char **argv)
{
    Arguments args;
    const std::string problem = Parse(argc, argv, args);
    if (!problem.empty())
        return Usage(problem);
    // The output first: a pipe as input may keep its sources waiting.
    std::optional<recmux_tool::RecordOutput> output =
        recmux_tool::PrepareOutput(args.record.output, args.record.overwrite, args.record.callback);
    std::unique_ptr<recmux_tool::FrameSource> source;
    std::unique_ptr<recmux_tool::AudioSource> audio;
    if (!output || !OpenSources(args, source, audio))
        return 1;
    if (!args.input.empty())
        args.record.input = args.input;
    return recmux_tool::Record(args.record, std::move(*output), *source, audio.get());
}

int InfoCommand(int argc, char **argv)
{
    const bool json = argc == 4 && std::strcmp(argv[2], "--json") == 0;
    if (argc != 3 && !json)
        return Usage("info takes one MP4 file, after --json if given");
    return recmux_tool::Info(argv[argc - 1], json);
}

// extract IN [-o OUT], in either order.
int ExtractCommand(int argc, char **argv)
{
    std::string input, output;
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc && output.empty())
            output = argv[++i];
        else if (input.empty() && argv[i][0] != '-')
            input = argv[i];
        else
            return Usage("extract takes an MP4 file and perhaps -o OUTPUT");
    }
    if (input.empty())
        return Usage("extract takes an MP4 file and perhaps -o OUTPUT");
    if (!output.empty() && !recmux_tool::CodecFromExtension(output))
        return Usage("the output of extract ends in .h264, .264, .hevc, .h265, .265 or .m4v");
    return recmux_tool::Extract(input, output);
}

int Version()
{
    char voice[ZK_VOICE_VERSION_BYTES];
    ZK_VOICE_GetVersion(voice);
    std::printf("recmux %s\nlibrecmux %s\nvoice codec %s\nFFmpeg %s\n", RECMUX_TOOL_VERSION,
                recmux_version(), voice, av_version_info());
    return 0;
}

bool AsksForHelp(int argc, char **argv)
{
    for (int i = 2; i < argc; i++)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

struct CommandUsage {
    const char *command;
    const char *usage;
};

constexpr CommandUsage kCommandUsages[] = {{"record", kRecordUsage},
                                           {"info", kInfoUsage},
                                           {"extract", kExtractUsage},
                                           {"voice", kVoiceUsage}};

int Help(const std::string &command)
{
    for (const CommandUsage &entry : kCommandUsages)
        if (command == entry.command) {
            std::fputs(entry.usage, stdout);
            return 0;
        }
    std::fputs(kGeneralUsage, stdout);
    for (const CommandUsage &entry : kCommandUsages)
        std::printf("\n%s", entry.usage);
    return 0;
}

void PrintLibraryLine(void *, int32_t, const char *line)
{
    std::fprintf(stderr, "librecmux: %s", line);
}

// The logs would bury the one line that says what went wrong; -v shows them.
void SetLogs(bool verbose)
{
    recmux_set_ffmpeg_log_level(verbose ? RECMUX_LOG_INFO : RECMUX_LOG_QUIET);
    recmux_set_log_callback(PrintLibraryLine, nullptr,
                            verbose ? RECMUX_LOG_INFO : RECMUX_LOG_QUIET);
}

}  // namespace

int main(int argc, char **argv)
{
    const bool verbose = argc >= 2 && std::strcmp(argv[1], "-v") == 0;
    SetLogs(verbose);
    if (verbose) {
        argc--;
        argv++;
    }
    const std::string command = argc >= 2 ? argv[1] : "";
    if ((argc == 2 && (command == "-h" || command == "--help")) || AsksForHelp(argc, argv))
        return Help(command);
    if (argc == 2 && command == "--version")
        return Version();
    if (command == "info")
        return InfoCommand(argc, argv);
    if (command == "extract")
        return ExtractCommand(argc, argv);
    if (command == "voice")
        return recmux_tool::VoiceCommand(argc - 2, argv + 2);
    if (command == "record")
        return RecordCommand(argc, argv);
    return Usage("the commands are record, info, extract and voice");
}
