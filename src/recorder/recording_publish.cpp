// The name of a file recording: claimed at open, kept while recording, and
// given to the finished file at close, or a name beside it where that would
// replace what is not ours.
#include "recorder/CMP4Writer.h"
#include "recorder/fragmented_file.h"
#include "recorder/plain_copy.h"
#include "recorder/recording_files.h"
#include "recorder/recovery.h"

namespace recmux {
namespace {

// A sync per fragment (five a second) would cost every camera more than it saves.
constexpr auto kSyncInterval = std::chrono::seconds(1);

}  // namespace

bool CMP4Writer::ClaimName(const char *path)
{
    platform::UniqueFd survivor;
    switch (platform::LockExisting(workingPath_.c_str(), survivor)) {
    case platform::LockStatus::Busy:  // a live recorder's: nothing of it is touched
    case platform::LockStatus::Failed:
        return false;
    case platform::LockStatus::Locked:
        if (!ClearWorkingName(files_, workingPath_, finalPath_))
            return false;
        break;
    case platform::LockStatus::Absent:
        break;
    }
    workingFd_ = platform::CreateLocked(workingPath_.c_str(), workingFile_);
    if (!workingFd_)
        return false;
    finalAtOpen_ = platform::IdentityOf(path);
    return true;
}

// The finished working file takes the form asked for. A plain copy that
// cannot be made leaves it fragmented, as readable and as whole. Only a file
// that stays fragmented gets its durations and index: a plain copy makes its own.
void CMP4Writer::FinishWorkingFile()
{
    if (!platform::IsSameFile(workingPath_.c_str(), workingFile_))
        return;
    if (fileType_ != 1 && MakePlain(workingFd_.Path()))
        return;
    FinishFragmentedFile(workingPath_.c_str());
    if (fileType_ != 1)
        MarkOutputFailed(RECMUX_MSG_OUTPUT_FINISH);
}

// Continued in place, the recording is under its name already. A plain one is
// copied into the working file, which then replaces it like any recording;
// else it gets its durations and index back, and reaches the disk.
void CMP4Writer::FinishInPlace()
{
    workingHoldsRecording_ = false;
    if (!sink_ || !sink_->Fragmented())
        return;
    if (!platform::IsSameFile(finalPath_.c_str(), *finalAtOpen_)) {
        MarkOutputFailed(RECMUX_MSG_OUTPUT_NAME_TAKEN);
        return;
    }
    const bool plain = fileType_ != 1 && videoFrameCount_ > 0;
    workingHoldsRecording_ = plain && MakePlain(continuedFd_.Path());
    if (workingHoldsRecording_)
        return;
    FinishFragmentedFile(finalPath_.c_str());
    if (!files_.sync_file(continuedFd_.Get()))
        MarkOutputFailed(RECMUX_MSG_OUTPUT_WRITE);
    if (plain)
        MarkOutputFailed(RECMUX_MSG_OUTPUT_FINISH);
}

// The plain copy replaces the working file in one rename, under a lock of its
// own: a crash on the way leaves the one or the other, whole and synced.
bool CMP4Writer::MakePlain(const std::string &source)
{
    std::string name;
    platform::FileIdentity identity;
    platform::UniqueFd plain = platform::CreatePrivate(workingPath_.c_str(), name, identity);
    if (!plain)
        return false;
    if (!WritePlainCopy(source.c_str(), plain.Path().c_str(), soundEnd_) || !files_.sync_file(plain.Get())) {
        DeleteRecordingFile(files_, name.c_str());
        return false;
    }
    platform::LetGoBeforeReplace(workingFd_);
    if (FinaliseRecording(files_, name.c_str(), workingPath_.c_str()) != 0) {
        DeleteRecordingFile(files_, name.c_str());
        return false;
    }
    plain.MovedTo(workingPath_);
    workingFd_ = std::move(plain);
    workingFile_ = identity;
    return true;
}

// Only a working file without a single frame is deleted: footage that does
// not read back, or whose name now holds what close may not replace, is kept.
void CMP4Writer::FinaliseFile()
{
    // Whatever has taken the working name since is not ours to publish or delete.
    if (!platform::IsSameFile(workingPath_.c_str(), workingFile_)) {
        if (videoFrameCount_ > 0 && workingHoldsRecording_)
            MarkOutputFailed(RECMUX_MSG_OUTPUT_WRITE);
        return;
    }
    if (videoFrameCount_ == 0 || !workingHoldsRecording_) {
        DeleteRecordingFile(files_, workingPath_.c_str());
        return;
    }
    if (!files_.sync_file(workingFd_.Get()))
        MarkOutputFailed(RECMUX_MSG_OUTPUT_WRITE);
    if (!IsReadableMp4(workingPath_.c_str()))
        return KeepAside(RECMUX_MSG_OUTPUT_FINISH);
    if (FinalFileReplaced())
        return KeepAside(RECMUX_MSG_OUTPUT_NAME_TAKEN);
    platform::LetGoBeforeReplace(continuedFd_);
    if (FinaliseRecording(files_, workingPath_.c_str(), finalPath_.c_str()) != 0)
        return MarkOutputFailed(RECMUX_MSG_OUTPUT_FINISH);
    files_.sync_folder(finalPath_.c_str());
}

// With no name to go to, the file stays under the working name: the next open recovers it.
void CMP4Writer::KeepAside(int32_t reason)
{
    MoveAside(files_, workingPath_, finalPath_);
    MarkOutputFailed(reason);
}

bool CMP4Writer::FinalFileReplaced() const
{
    // A name emptied meanwhile is taken: nothing there is lost.
    const std::optional<platform::FileIdentity> now = platform::IdentityOf(finalPath_.c_str());
    return now && now != finalAtOpen_;
}

// What the file holds survives a power cut, up to a second of it.
void CMP4Writer::SyncWhenDue()
{
    if (!workingFd_ || !headerWritten_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ < kSyncInterval)
        return;
    lastSync_ = now;
    if (!files_.sync_file(continuedFd_ ? continuedFd_.Get() : workingFd_.Get()))
        MarkOutputFailed(RECMUX_MSG_OUTPUT_WRITE);
}

// Frames written to a file that lost its name could never be published.
void CMP4Writer::CheckWorkingFile()
{
    if (headerWritten_ && !platform::kWrittenFilesCanLoseTheirNames)
        return;
    if (workingFd_ && !platform::IsSameFile(workingPath_.c_str(), workingFile_))
        MarkOutputFailed(RECMUX_MSG_OUTPUT_WRITE);
}

}  // namespace recmux
