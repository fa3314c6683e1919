#include "rules/utf8.h"

namespace quodrel::rules {

std::uint32_t decode_utf8(std::string_view text, std::size_t& at) {
    const auto c = static_cast<unsigned char>(text[at]);
    std::size_t more = 0;
    std::uint32_t code = 0, least = 0;
    if (c < 0x80) {
        ++at;
        return c;
    } else if (c >= 0xc2 && c <= 0xdf) {
        more = 1, code = c & 0x1f, least = 0x80;
    } else if (c >= 0xe0 && c <= 0xef) {
        more = 2, code = c & 0x0f, least = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
        more = 3, code = c & 0x07, least = 0x10000;
    } else {
        ++at;
        return kNotUtf8;
    }
    std::size_t k = 1;
    for (; k <= more && at + k < text.size(); ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xc0) != 0x80)
            break;
        code = code << 6 | (next & 0x3f);
    }
    if (k <= more) {
        at += k; // cut short: the start and what followed it as it should
        return kNotUtf8;
    }
    at += more + 1;
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return kNotUtf8;
    return code;
}

void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();)
        if (decode_utf8(text, at) == kNotUtf8)
            return false;
    return true;
}

} // namespace quodrel::rules
