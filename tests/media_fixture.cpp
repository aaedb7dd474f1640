#include "media_fixture.h"

#include <cstdio>
#include <memory>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "test_files.h"

namespace recmux::test {
namespace {

// The encoders that describe each stream are chatty; the tests want errors only.
const bool kQuietLog = (av_log_set_level(AV_LOG_ERROR), true);

struct ParserDeleter {
    void operator()(AVCodecParserContext *parser) const { av_parser_close(parser); }
};
struct ContextDeleter {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};

AVCodecID CodecId(const std::string &codec)
{
    if (codec == "hevc")
        return AV_CODEC_ID_HEVC;
    return codec == "mpeg4" ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264;
}

}  // namespace

bool MakeElementaryStream(const std::string &path, int frames, const std::string &options)
{
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25 -frames:v " +
        std::to_string(frames) + " -pix_fmt yuv420p " + options + " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

std::vector<AccessUnit> SplitAccessUnits(const std::string &path, const std::string &codec)
{
    const std::string stream = ReadAll(path);
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(CodecId(codec)));
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(nullptr));
    std::vector<AccessUnit> units;
    if (!parser || !context)
        return units;
    auto *data = reinterpret_cast<const uint8_t *>(stream.data());
    size_t left = stream.size();
    for (;;) {
        uint8_t *out = nullptr;
        int out_size = 0;
        const int used = av_parser_parse2(parser.get(), context.get(), &out, &out_size, data,
                                          static_cast<int>(left), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (out_size > 0)
            units.push_back({std::vector<uint8_t>(out, out + out_size),
                             parser->key_frame == 1 || parser->pict_type == AV_PICTURE_TYPE_I});
        if (left == 0 && out_size == 0)
            break;
        data += used;
        left -= static_cast<size_t>(used);
    }
    return units;
}

std::string RunCommand(const std::string &command)
{
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        return {};
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        output.append(buffer, n);
    return output;
}

std::string ProbeVideo(const std::string &path, const std::string &entry)
{
    std::string value = RunCommand("ffprobe -v error -count_frames -select_streams v:0 "
                                   "-show_entries stream=" + entry +
                                   " -of default=nw=1:nk=1 '" + path + "'");
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

std::string DecodeErrors(const std::string &path)
{
    return RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

std::vector<std::string> FrameMd5s(const std::string &path)
{
    std::istringstream lines(
        RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -map 0:v:0 -f framemd5 -"));
    std::vector<std::string> md5s;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        md5s.push_back(line.substr(line.rfind(',') + 1));
    }
    return md5s;
}

}  // namespace recmux::test
