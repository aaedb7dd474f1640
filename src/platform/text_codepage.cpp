#include "platform/text_codepage.h"

#include <climits>
#include <cwchar>
#include <memory>
#include <new>

namespace recmux::platform {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Strict decoding: overlong forms, surrogates and truncated sequences are
// refused, so that a path is never silently turned into another path.
char32_t DecodeUtf8(const unsigned char *&p)
{
    const unsigned char lead = *p++;
    if (lead < 0x80)
        return lead;
    int extra;
    char32_t cp;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        return kInvalid;
    }
    for (int i = 0; i < extra; i++) {
        if ((*p & 0xC0) != 0x80)
            return kInvalid;
        cp = (cp << 6) | (*p++ & 0x3F);
    }
    static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return kInvalid;
    return cp;
}

size_t EncodeUtf8(char32_t cp, char *out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            return 0;
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp > 0x10FFFF)
        return 0;
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Reads one character of the narrow text; kInvalid on a bad sequence.
char32_t DecodeNarrow(CodePage page, const char *&text, std::mbstate_t &state)
{
    if (page == CodePage::Utf8) {
        auto p = reinterpret_cast<const unsigned char *>(text);
        const char32_t cp = DecodeUtf8(p);
        text = reinterpret_cast<const char *>(p);
        return cp;
    }
    wchar_t wc;
    const size_t used = std::mbrtowc(&wc, text, MB_LEN_MAX, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2))
        return kInvalid;
    text += used == 0 ? 1 : used;
    return static_cast<char32_t>(wc);
}

size_t EncodeNarrow(CodePage page, char32_t cp, char *out, std::mbstate_t &state)
{
    if (page == CodePage::Utf8)
        return EncodeUtf8(cp, out);
    const size_t n = std::wcrtomb(out, static_cast<wchar_t>(cp), &state);
    return n == static_cast<size_t>(-1) ? 0 : n;
}

}  // namespace

size_t MultiByteToWide(CodePage page, const char *text, wchar_t *out, size_t capacity)
{
    if (!text)
        return 0;
    std::mbstate_t state{};
    size_t n = 0;
    for (;;) {
        const bool end = *text == '\0';
        const char32_t cp = end ? 0 : DecodeNarrow(page, text, state);
        if (cp == kInvalid)
            return 0;
        if (out) {
            if (n == capacity)
                return 0;
            out[n] = static_cast<wchar_t>(cp);
        }
        n++;
        if (end)
            return n;
    }
}

size_t WideToMultiByte(CodePage page, const wchar_t *text, char *out, size_t capacity)
{
    if (!text)
        return 0;
    std::mbstate_t state{};
    size_t n = 0;
    for (;; text++) {
        char bytes[MB_LEN_MAX > 4 ? MB_LEN_MAX : 4];
        const size_t len = *text ? EncodeNarrow(page, static_cast<char32_t>(*text), bytes, state) : 1;
        if (len == 0)
            return 0;
        if (!*text)
            bytes[0] = '\0';
        if (out) {
            if (capacity - n < len)
                return 0;
            for (size_t i = 0; i < len; i++)
                out[n + i] = bytes[i];
        }
        n += len;
        if (!*text)
            return n;
    }
}

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
    const size_t n = MultiByteToWide(CodePage::Utf8, text, nullptr, 0);
    if (n == 0)
        return {};
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[n + 1]);
    if (!buffer)
        return {};
    MultiByteToWide(CodePage::Utf8, text, buffer.get(), n);
    buffer[n] = 0;
    return std::wstring(buffer.get());
}

}  // namespace recmux::platform
