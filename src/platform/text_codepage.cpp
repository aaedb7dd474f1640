#include "platform/text_codepage.h"

#include <memory>
#include <new>

namespace recmux::platform {

int AsciiCaseCompare(const char *a, const char *b)
{
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (;; a++, b++) {
        const int d = lower(static_cast<unsigned char>(*a)) - lower(static_cast<unsigned char>(*b));
        if (d != 0 || *a == '\0')
            return d;
    }
}

std::wstring Utf8ToWide(const char *text)
{
    const size_t n = Utf8ToWideChars(text, nullptr, 0);
    if (n == 0)
        return {};
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[n + 1]);
    if (!buffer)
        return {};
    Utf8ToWideChars(text, buffer.get(), n);
    buffer[n] = 0;
    return std::wstring(buffer.get());
}

}  // namespace recmux::platform
