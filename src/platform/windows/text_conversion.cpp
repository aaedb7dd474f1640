#include "platform/text_codepage.h"

#include <windows.h>

#include <climits>

namespace recmux::platform {

// Strict both ways: a name that is not UTF-8 (or UTF-16) is never turned into another name.
size_t Utf8ToWideChars(const char *text, wchar_t *out, size_t capacity)
{
    if (!text || capacity > INT_MAX)
        return 0;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out,
                                      out ? static_cast<int>(capacity) : 0);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t WideToUtf8(const wchar_t *text, char *out, size_t capacity)
{
    if (!text || capacity > INT_MAX)
        return 0;
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out,
                                      out ? static_cast<int>(capacity) : 0, nullptr, nullptr);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace recmux::platform
