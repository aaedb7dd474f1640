#include "record_output.h"


#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "file_problems.h"
#include "platform/regular_files.h"
#include "platform/system_checks.h"

namespace recmux_tool {
namespace {

bool Exists(const std::string &path)
{
    std::error_code unknown;
    return std::filesystem::exists(std::filesystem::symlink_status(path, unknown));
}

// NAME.new-PID.mp4 beside NAME.mp4: the library continues a recording it
// finds under its name, so the new one needs a name no file has, itself or
// as the working file the library would take back.
std::string SiblingOf(const std::string &path)
{
    const std::string stem = path.substr(0, path.size() - 4),
                      extension = path.substr(path.size() - 4);
    const std::string base = stem + ".new-" + std::to_string(recmux::platform::ProcessId());
    std::string sibling = base + extension;
    for (int n = 2; Exists(sibling) || Exists(sibling + ".tmp"); n++)
        sibling = base + "-" + std::to_string(n) + extension;
    return sibling;
}

// The recording at path that new frames can follow; nothing after saying why
// they cannot.
std::optional<Mp4Facts> Continuable(const std::string &path, bool callback)
{
    if (callback) {
        ReportProblem(path,
                      "exists, and --callback always records afresh (--overwrite replaces it)");
        return std::nullopt;
    }
    std::optional<Mp4Facts> facts = IsRecording(path) ? ReadMp4Facts(path) : std::nullopt;
    if (!facts)
        ReportProblem(path, "exists and is not a recording (--overwrite replaces it)");
    return facts;
}

}  // namespace

std::vector<std::string> RecordOutput::Abandoned() const
{
    if (!Replaces())
        return {};
    return {writing, writing + ".tmp"};
}

std::optional<RecordOutput> PrepareOutput(const std::string &path, bool overwrite, bool callback)
{
    if (const std::string reason = UnwritableReason(path); !reason.empty()) {
        ReportProblem(path, reason);
        return std::nullopt;
    }
    if (recmux::platform::HeldByRecorder((path + ".tmp").c_str())) {
        ReportProblem(path, "another recording is being made into it");
        return std::nullopt;
    }
    RecordOutput output{path, path, std::nullopt};
    // The library would take back a working file left by a recording cut off.
    if (overwrite && (Exists(path) || Exists(path + ".tmp"))) {
        output.writing = SiblingOf(path);
        std::printf("%s is replaced once the new recording is complete\n", path.c_str());
        return output;
    }
    if (!Exists(path))
        return output;
    output.continued = Continuable(path, callback);
    if (!output.continued)
        return std::nullopt;
    std::printf(
        "%s holds a recording of %s: the new frames continue it (--overwrite records afresh)\n",
        path.c_str(), Duration(output.continued->seconds).c_str());
    return output;
}

void NoteTakenBack(RecordOutput &output)
{
    if (output.continued || output.Replaces() || !Exists(output.path))
        return;
    output.continued = ReadMp4Facts(output.path);
    if (output.continued)
        std::printf(
            "%s.tmp, left by a recording that was cut off, holds %s: the new frames continue it\n",
            output.path.c_str(), Duration(output.continued->seconds).c_str());
}

bool FinishOutput(const RecordOutput &output, bool complete)
{
    if (!output.Replaces())
        return true;
    std::error_code ignored;
    if (!complete) {
        std::filesystem::remove(output.writing, ignored);
        return true;
    }
    if (std::rename(output.writing.c_str(), output.path.c_str()) == 0)
        return true;
    ReportProblem(output.path, "not replaced: " + SystemReason(errno) + "; the new recording is " +
                                   output.writing);
    return false;
}

}  // namespace recmux_tool
