// Wide-character paths of the W exports (wchar_t is UTF-32 on Linux) to the UTF-8 the file system takes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelvik {

// Converts the null-terminated text into out (size bytes, null-terminated). false, with out holding an
// empty string, for a null text or out, a code point that is not a Unicode scalar value (a surrogate,
// or above U+10FFFF), or a result that does not fit with its terminator.
inline bool WideToUtf8(const wchar_t* text, char* out, size_t size) {
    if (out == nullptr || size == 0) return false;
    out[0] = '\0';
    if (text == nullptr) return false;
    size_t used = 0;
    for (; *text != L'\0'; ++text) {
        const auto c = static_cast<uint32_t>(*text);
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return out[0] = '\0', false;
        const size_t n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (used + n >= size) return out[0] = '\0', false;
        if (n == 1) {
            out[used++] = static_cast<char>(c);
            continue;
        }
        // Lead byte: n high bits set, then the top bits of c; continuation bytes carry 6 bits each.
        out[used++] = static_cast<char>((0xF00u >> n) | (c >> (6 * (n - 1))));
        for (size_t k = n - 1; k-- > 0;) out[used++] = static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    out[used] = '\0';
    return true;
}

}  // namespace zelvik
