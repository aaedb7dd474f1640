#include "platform/text_codepage.h"

// Linux paths are bytes: the conversions are UTF-8 to UTF-32 and back.

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

}  // namespace

size_t Utf8ToWideChars(const char *text, wchar_t *out, size_t capacity)
{
    if (!text)
        return 0;
    auto p = reinterpret_cast<const unsigned char *>(text);
    size_t n = 0;
    for (;;) {
        const bool end = *p == '\0';
        const char32_t cp = end ? 0 : DecodeUtf8(p);
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

size_t WideToUtf8(const wchar_t *text, char *out, size_t capacity)
{
    if (!text)
        return 0;
    size_t n = 0;
    for (;; text++) {
        char bytes[4];
        const size_t len = *text ? EncodeUtf8(static_cast<char32_t>(*text), bytes) : 1;
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

}  // namespace recmux::platform
