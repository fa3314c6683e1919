#include "rules/utf8.h"

#include <cstdint>

namespace quodrel::rules {

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t more = 0;
        std::uint32_t code = 0, least = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xc2 && c <= 0xdf) {
            more = 1, code = c & 0x1f, least = 0x80;
        } else if (c >= 0xe0 && c <= 0xef) {
            more = 2, code = c & 0x0f, least = 0x800;
        } else if (c >= 0xf0 && c <= 0xf4) {
            more = 3, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (i + more >= text.size())
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3f);
        }
        if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += more + 1;
    }
    return true;
}

} // namespace quodrel::rules
