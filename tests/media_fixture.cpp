#include "media_fixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

extern "C" {
#include <libavutil/log.h>
}

#include "annexb_source.h"
#include "test_files.h"

namespace recmux::test {
namespace {

// The encoders that describe each stream are chatty; the tests want errors only.
const bool kQuietLog = (av_log_set_level(AV_LOG_ERROR), true);
}  // namespace

bool MakeElementaryStream(const std::string &path, int frames, const std::string &options)
{
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25 -frames:v " +
        std::to_string(frames) + " -pix_fmt yuv420p " + options + " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

std::vector<AccessUnit> SplitAccessUnits(const std::string &path)
{
    std::vector<AccessUnit> units;
    const auto codec = recmux_tool::CodecFromExtension(path);
    auto source = codec ? recmux_tool::OpenAnnexBFile(path, *codec) : nullptr;
    for (AccessUnit unit; source && source->Next(unit);)
        units.push_back(std::move(unit));
    return units;
}

void KillSelf()
{
    raise(SIGKILL);
    std::abort();
}

bool DiesBySigkill(const std::function<void()> &work)
{
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        work();
        std::_Exit(0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
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
