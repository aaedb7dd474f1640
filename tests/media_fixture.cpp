#include "media_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
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

std::map<std::string, std::string> &Made()
{
    static std::map<std::string, std::string> made;
    return made;
}

// The arguments are part of the file's name: a fixture whose recipe changed is made anew.
std::string Recipe(const std::string &args)
{
    uint64_t hash = 0xcbf29ce484222325;
    for (const char c : args)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

std::string FixtureFolder()
{
    static const TempDir own;
    const char *shared = std::getenv("RECMUX_FIXTURES");
    if (!shared || !*shared)
        return own.Path("");
    std::error_code ignored;
    std::filesystem::create_directories(shared, ignored);
    return std::string(shared) + "/";
}

// Made under a name of its own and renamed: tests in other processes may make the same one.
bool Make(const std::string &path, const std::string &args)
{
    const std::filesystem::path target(path);
    const std::string part =
        (target.parent_path() / ("part-" + std::to_string(std::random_device()()) + "-")).string() +
        target.filename().string();
    RunCommand("ffmpeg -nostdin -loglevel error -y " + args + " '" + part + "' && mv '" + part + "' '" + path + "'");
    return Exists(path);
}

}  // namespace

std::string Fixture(const std::string &name, const std::string &args)
{
    std::map<std::string, std::string> &made = Made();
    if (!made.contains(name)) {
        const std::string path = FixtureFolder() + Recipe(args) + "-" + name;
        made[name] = Exists(path) || Make(path, args) ? path : std::string();
    }
    return made[name];
}

std::string EncodedPath(const std::string &name, int frames, const std::string &options)
{
    return Fixture(name, "-f lavfi -i testsrc2=size=640x360:rate=25 -frames:v " + std::to_string(frames) +
                             " -pix_fmt yuv420p " + options);
}

const Units &Encoded(const std::string &name, int frames, const std::string &options)
{
    static std::map<std::string, Units> made;
    if (!made.contains(name))
        made[name] = SplitAccessUnits(EncodedPath(name, frames, options));
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

#ifdef _WIN32
namespace {

// One argument of a command line, as Windows programs split theirs. Its names
// are read as the library reads them: UTF-8 when they are, else ANSI.
std::wstring Quoted(const std::string &argument)
{
    UINT page = CP_UTF8;
    int length = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, argument.c_str(), -1, nullptr, 0);
    if (length == 0) {
        page = CP_ACP;
        length = MultiByteToWideChar(page, 0, argument.c_str(), -1, nullptr, 0);
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(page, 0, argument.c_str(), -1, wide.data(), length);
    wide.pop_back();
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : wide) {
        if (c == L'"')
            quoted.append(backslashes + 1, L'\\');
        backslashes = c == L'\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    return quoted.append(backslashes, L'\\') + L"\"";
}

}  // namespace

// Under Wine a Windows program may start a Linux one, but learns neither its
// output nor its end: the shell leaves both in files beside the test's own,
// which are Linux's /tmp (RECMUX_TEST_TMP) as well.
std::string RunCommand(const std::string &command)
{
    static const TempDir dir;
    static int count = 0;
    const std::string base = dir.Path("command-" + std::to_string(count++));
    std::wstring line = L"/bin/sh -c " + Quoted("(" + command + ") > '" + base + ".out'; echo $? > '" + base +
                                                ".part'; mv '" + base + ".part' '" + base + ".status'");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
        return {};
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    for (int waited = 0; !Exists(base + ".status"); waited++) {
        if (waited == 18000)
            return {};
        Sleep(10);
    }
    return ReadAll(base + ".out");
}
#else
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
#endif

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
