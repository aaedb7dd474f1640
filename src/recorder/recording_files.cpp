#include "recorder/recording_files.h"

#include "platform/regular_files.h"
#include "platform/text_codepage.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace recmux {
bool DeleteRecordingFile(const platform::FileOps &files, const char *path)
{
    return files.delete_narrow(path) || files.delete_wide(platform::Utf8ToWide(path).c_str());
}

int32_t FinaliseRecording(const platform::FileOps &files, const char *working,
                          const char *final_path)
{
    try {
        // rename() replaces the target in one step, so an old recording under
        // the final name is never deleted before a move has succeeded. A name
        // that is not UTF-8 has no wide form: its bytes are renamed as given.
        const std::wstring wide_working = platform::Utf8ToWide(working);
        const std::wstring wide_final = platform::Utf8ToWide(final_path);
        if (!wide_working.empty() && !wide_final.empty() &&
            files.rename_wide(wide_working.c_str(), wide_final.c_str()) == 0)
            return 0;
        const int result = files.rename_narrow(working, final_path);
        if (result == 0)
            return 0;
        if (files.move_keep_target(working, final_path))
            return 0;
        if (files.copy_replace(working, final_path) && files.delete_narrow(working))
            return 0;
        return result;
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

bool IsReadableMp4(const char *path)
{
    const platform::UniqueFd file(platform::OpenRegular(path));
    AVFormatContext *input = nullptr;
    if (!file ||
        avformat_open_input(&input, file.Path().c_str(), av_find_input_format("mp4"), nullptr) < 0)
        return false;
    avformat_close_input(&input);
    return true;
}

}  // namespace recmux
