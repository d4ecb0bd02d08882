#include "platform/text/Text.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace platform {
namespace {

constexpr const char* kAnsi = "CP932";
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Runs iconv over the whole input; an unconvertible or invalid input unit is
// replaced by `replacement` (written in the target encoding) when given, else
// the conversion fails.
bool Convert(const char* to, const char* from, const char* in, size_t inBytes, size_t unitBytes,
             std::string_view replacement, std::vector<char>& out) {
    iconv_t cd = iconv_open(to, from);
    // iconv_open fails with the handle (iconv_t)-1.
    if (reinterpret_cast<intptr_t>(cd) == -1) {
        return false;
    }
    out.assign(inBytes * 4 + 16, '\0');
    char* src = const_cast<char*>(in);
    size_t srcLeft = inBytes;
    char* dst = out.data();
    size_t dstLeft = out.size();
    bool ok = true;
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) {
            continue;
        }
        if ((errno == EILSEQ || errno == EINVAL) && !replacement.empty() &&
            dstLeft >= replacement.size() && srcLeft >= unitBytes) {
            std::memcpy(dst, replacement.data(), replacement.size());
            dst += replacement.size();
            dstLeft -= replacement.size();
            src += unitBytes;
            srcLeft -= unitBytes;
            continue;
        }
        ok = false;
        break;
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return ok;
}

template <typename Out>
int Deliver(const std::vector<char>& bytes, Out* dst, int dstLen) {
    const int units = static_cast<int>(bytes.size() / sizeof(Out));
    if (dstLen == 0) {
        return units;
    }
    if (dst == nullptr || units > dstLen) {
        return 0;
    }
    std::memcpy(dst, bytes.data(), static_cast<size_t>(units) * sizeof(Out));
    return units;
}

}  // namespace

size_t WideLength(const char16_t* text) {
    size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

int AnsiToWide(const char* src, int srcLen, char16_t* dst, int dstLen) {
    if (src == nullptr || dstLen < 0) {
        return 0;
    }
    const size_t len = srcLen < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    std::vector<char> out;
    if (!Convert(kUtf16, kAnsi, src, len, 1, {}, out)) {
        return 0;
    }
    return Deliver(out, dst, dstLen);
}

int WideToAnsi(const char16_t* src, int srcLen, char* dst, int dstLen) {
    if (src == nullptr || dstLen < 0) {
        return 0;
    }
    const size_t len = srcLen < 0 ? WideLength(src) + 1 : static_cast<size_t>(srcLen);
    std::vector<char> out;
    if (!Convert(kAnsi, kUtf16, reinterpret_cast<const char*>(src), len * 2, 2, "?", out)) {
        return 0;
    }
    return Deliver(out, dst, dstLen);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        }
        ++i;
        for (size_t k = 0; k < extra; ++k, ++i) {
            if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                cp = 0xFFFD;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp);
        }
    }
    return out;
}

}  // namespace platform
