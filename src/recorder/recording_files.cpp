#include "recorder/recording_files.h"

#include <memory>
#include <new>

#include "platform/regular_files.h"
#include "platform/text_codepage.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace recmux {
namespace {

template <typename To, typename From, typename Convert>
std::basic_string<To> ConvertText(const From *text, Convert convert)
{
    const size_t n = convert(text, nullptr, 0);
    if (n == 0)
        return {};
    std::unique_ptr<To[]> buffer(new (std::nothrow) To[n + 1]);
    if (!buffer)
        return {};
    convert(text, buffer.get(), n);
    buffer[n] = 0;
    return std::basic_string<To>(buffer.get());
}

}  // namespace

std::wstring Utf8ToWide(const char *text)
{
    return ConvertText<wchar_t>(text, [](const char *in, wchar_t *out, size_t capacity) {
        return platform::MultiByteToWide(platform::CodePage::Utf8, in, out, capacity);
    });
}

bool FileExists(const platform::FileOps &files, const char *path)
{
    if (!path || !*path)
        return false;
    if (files.exists_narrow(path))
        return true;
    const std::wstring wide = Utf8ToWide(path);
    return !wide.empty() && files.exists_wide(wide.c_str());
}

bool DeleteRecordingFile(const platform::FileOps &files, const char *path)
{
    return files.delete_narrow(path) || files.delete_wide(Utf8ToWide(path).c_str());
}

int32_t FinaliseRecording(const platform::FileOps &files, const char *working,
                          const char *final_path)
{
    try {
        // rename() replaces the target in one step, so an old recording under
        // the final name is never deleted before a move has succeeded. A name
        // that is not UTF-8 has no wide form: its bytes are renamed as given.
        const std::wstring wide_working = Utf8ToWide(working);
        const std::wstring wide_final = Utf8ToWide(final_path);
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
