// UTF-8, the encoding of every name in an archive and every path the program holds.
#pragma once

#include <string_view>

namespace quodrel::rules {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view text);

} // namespace quodrel::rules
