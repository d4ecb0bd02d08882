// Text conversions: narrow text in the handset's ANSI code page (CP932,
// Shift-JIS) to and from UTF-16, and UTF-16 to and from UTF-8 for host paths.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Converts `srcLen` bytes of CP932 text (-1: up to and including the zero
// terminator) to UTF-16. With `dstLen` 0 it returns the number of UTF-16 units
// needed and writes nothing; otherwise it writes at most `dstLen` units and
// returns how many it wrote, or 0 when they do not fit or the text is invalid.
int AnsiToWide(const char* src, int srcLen, char16_t* dst, int dstLen);

// The reverse: UTF-16 (-1: zero-terminated, terminator included) to CP932
// bytes; the same two-step contract. Characters CP932 lacks become '?'.
int WideToAnsi(const char16_t* src, int srcLen, char* dst, int dstLen);

// Length of a zero-terminated UTF-16 string.
size_t WideLength(const char16_t* text);

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace platform
