// Text conversions between UTF-8 and wide characters, in the manner of the
// Windows conversion calls: lengths include the terminator, 0 means failure.
#pragma once

#include <cstddef>
#include <string>

namespace recmux::platform {

// Converts the terminated text into out (capacity in characters). With a null
// out, returns the length needed. Invalid input, or too small a buffer, gives 0.
size_t Utf8ToWideChars(const char *text, wchar_t *out, size_t capacity);
size_t WideToUtf8(const wchar_t *text, char *out, size_t capacity);
// Empty when the text is not UTF-8 or memory runs out.
std::wstring Utf8ToWide(const char *text);

// Equality of ASCII letters without regard to case; other bytes compare as they are.
int AsciiCaseCompare(const char *a, const char *b);

}  // namespace recmux::platform
