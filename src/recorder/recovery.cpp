#include "recorder/recovery.h"

#include <filesystem>

#include "platform/library_log.h"
#include "platform/text_codepage.h"
#include "reader/CMP4Reader.h"
#include "recorder/recording_files.h"

namespace recmux {
namespace {

// Past this many, the working file stays where it is and the open fails.
constexpr int kRecoveredNames = 999;

// cam.mp4 gives cam.recovered.mp4, then cam.recovered-2.mp4, ...
std::string RecoveredName(const std::string &final_path, int n)
{
    const size_t dot = final_path.size() >= 4 ? final_path.size() - 4 : final_path.size();
    const bool mp4 = platform::AsciiCaseCompare(final_path.c_str() + dot, ".mp4") == 0;
    const std::string stem = mp4 ? final_path.substr(0, dot) : final_path;
    const std::string extension = mp4 ? final_path.substr(dot) : ".mp4";
    std::string name = stem + ".recovered";
    if (n > 1) {
        name += '-';
        name += std::to_string(n);
    }
    return name + extension;
}

// Empty, or read back without a video packet: what a recording leaves before its first frame.
bool HoldsNothing(const char *path)
{
    std::error_code error;
    return std::filesystem::file_size(path, error) == 0 || IsReadableMp4(path);
}

}  // namespace

bool HoldsRecordedVideo(const char *path)
{
    CMP4Reader reader;
    if (!reader.Open(path))
        return false;
    for (;;) {
        int32_t size = 0, media_type = -1, key = 0;
        switch (reader.ReadNext(nullptr, 0, size, media_type, key)) {
        case CMP4Reader::ReadStatus::End:
            return false;
        case CMP4Reader::ReadStatus::Skipped:
            break;
        case CMP4Reader::ReadStatus::Packet:
            if (media_type == 0)
                return true;
            break;
        case CMP4Reader::ReadStatus::TooSmall:
            if (media_type == 0)
                return true;
            // Sound ahead of the video: consumed without being copied.
            reader.ReadFrame(nullptr, &size, nullptr, &media_type, &key);
            break;
        }
    }
}

// Moves that never replace: neither the survivor nor a file it meets is lost.
bool MoveAside(const platform::FileOps &files, const std::string &from,
               const std::string &final_path)
{
    for (int n = 1; n <= kRecoveredNames; n++) {
        const std::string aside = RecoveredName(final_path, n);
        if (files.move_keep_target(from.c_str(), aside.c_str())) {
            files.sync_folder(final_path.c_str());
            platform::Log(platform::kLogWarning, "%s: kept as %s\n", from.c_str(), aside.c_str());
            return true;
        }
    }
    return false;
}

bool ClearWorkingName(const platform::FileOps &files, const std::string &working,
                      const std::string &final_path)
{
    if (HoldsRecordedVideo(working.c_str())) {
        if (!files.move_keep_target(working.c_str(), final_path.c_str()))
            return MoveAside(files, working, final_path);
        files.sync_folder(final_path.c_str());
        platform::Log(platform::kLogWarning, "%s: left by a crash, recovered as %s\n",
                      working.c_str(), final_path.c_str());
        return true;
    }
    if (HoldsNothing(working.c_str())) {
        DeleteRecordingFile(files, working.c_str());
        return true;
    }
    return MoveAside(files, working, final_path);
}

}  // namespace recmux
