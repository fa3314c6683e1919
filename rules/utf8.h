// UTF-8, the encoding of every name in an archive and every path the program holds,
// and UTF-16, which Windows' wide calls take: pure, so that any host tests them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quodrel::rules {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view text);

// What decode_utf8 gives for bytes that start no well-formed character.
constexpr std::uint32_t kNotUtf8 = 0xffffffffu;

// The code point of the character at text[at], moving `at` past it; kNotUtf8 for a
// byte that starts no well-formed character, moving past the longest start of one.
std::uint32_t decode_utf8(std::string_view text, std::size_t& at);

void append_utf8(std::string& out, std::uint32_t code);

// UTF-8 to UTF-16 in code units of `Char` (char16_t; wchar_t on Windows); what is not
// UTF-8 becomes U+FFFD, as Windows' own conversion makes it.
template <class Char> std::basic_string<Char> to_utf16(std::string_view utf8) {
    std::basic_string<Char> out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        std::uint32_t code = decode_utf8(utf8, at);
        if (code == kNotUtf8)
            code = 0xfffd;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<Char>(0xd800 + (code >> 10));
            out += static_cast<Char>(0xdc00 + (code & 0x3ff));
        } else {
            out += static_cast<Char>(code);
        }
    }
    return out;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
template <class Char> std::string to_utf8(const Char* utf16, std::size_t size) {
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        std::uint32_t code = static_cast<std::uint16_t>(utf16[i]);
        if (code >= 0xd800 && code < 0xdc00 && i + 1 < size) {
            const std::uint32_t low = static_cast<std::uint16_t>(utf16[i + 1]);
            if (low >= 0xdc00 && low < 0xe000) {
                code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                ++i;
            }
        }
        if (code >= 0xd800 && code < 0xe000)
            code = 0xfffd;
        append_utf8(out, code);
    }
    return out;
}

template <class Char> std::string to_utf8(const std::basic_string<Char>& utf16) {
    return to_utf8(utf16.data(), utf16.size());
}

} // namespace quodrel::rules
