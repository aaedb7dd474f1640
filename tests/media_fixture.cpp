#include "media_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
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

std::string FixturePath(const std::string &name)
{
    static const TempDir dir;
    return dir.Path(name);
}

std::string Fixture(const std::string &name, const std::string &args)
{
    static std::map<std::string, bool> made;
    const std::string path = FixturePath(name);
    if (!made.contains(name))
        made[name] = std::system(("ffmpeg -nostdin -loglevel error -y " + args + " '" + path + "'")
                                     .c_str()) == 0;
    return made[name] ? path : std::string();
}

const Units &Encoded(const std::string &name, int frames, const std::string &options)
{
    static std::map<std::string, Units> made;
    if (!made.contains(name))
        made[name] = SplitAccessUnits(Fixture(name, "-f lavfi -i testsrc2=size=640x360:rate=25 -frames:v " +
                                                        std::to_string(frames) + " -pix_fmt yuv420p " + options));
    return made[name];
}

Units SplitAccessUnits(const std::string &path)
{
    Units units;
    const auto codec = recmux_tool::CodecFromExtension(path);
    auto source = codec ? recmux_tool::OpenAnnexBFile(path, *codec) : nullptr;
    for (AccessUnit unit; source && source->Next(unit);)
        units.push_back(std::move(unit));
    return units;
}

int InChild(const std::function<int()> &work)
{
    const pid_t child = fork();
    if (child == 0)
        std::_Exit(work());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return INT_MIN;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
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

std::vector<std::string> Lines(const std::string &command)
{
    std::istringstream output(RunCommand(command));
    std::vector<std::string> lines;
    for (std::string line; std::getline(output, line);) {
        // A packet with side data ends in a comma and is followed by an empty line.
        while (!line.empty() && (line.back() == ',' || line.back() == '\r'))
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::string Probe(const std::string &path, const std::string &entry, const std::string &stream)
{
    const auto lines = Lines("ffprobe -v error -count_frames -select_streams " + stream +
                             " -show_entries stream=" + entry + " -of default=nw=1:nk=1 '" + path + "'");
    std::string values;
    for (const std::string &line : lines)
        values += (values.empty() ? "" : ",") + line;
    return values;
}

std::string DecodeErrors(const std::string &path)
{
    return RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

std::vector<std::string> FrameMd5s(const std::string &path)
{
    std::vector<std::string> md5s;
    for (const std::string &line :
         Lines("ffmpeg -nostdin -v error -i '" + path + "' -map 0:v:0 -f framemd5 -")) {
        if (line[0] != '#')
            md5s.push_back(line.substr(line.rfind(',') + 1));
    }
    return md5s;
}

std::vector<std::string> Packets(const std::string &path, const std::string &streams, const std::string &entry)
{
    return Lines("ffprobe -v error -select_streams " + streams + " -show_entries packet=" + entry +
                 " -of csv=p=0 '" + path + "'");
}

int AppendTo(void *opaque, uint8_t *bytes, int size)
{
    static_cast<std::string *>(opaque)->append(reinterpret_cast<char *>(bytes), static_cast<size_t>(size));
    return size;
}

}  // namespace recmux::test
