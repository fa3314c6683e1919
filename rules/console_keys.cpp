#include "rules/console_keys.h"

namespace quodrel::rules {
namespace {

// Windows virtual-key codes.
constexpr unsigned kPageUp = 0x21; // then Page Down, End, Home, Left, Up, Right, Down
constexpr unsigned kDown = 0x28;
constexpr unsigned kInsert = 0x2d;
constexpr unsigned kDelete = 0x2e;
constexpr unsigned kF1 = 0x70;
constexpr unsigned kF24 = 0x87;

} // namespace

bool key_ends_wait(bool key_down, unsigned virtual_key, unsigned char character) {
    if (!key_down)
        return false;
    if (character != 0)
        return true; // letters, digits, Enter, Escape, Tab, Backspace, Ctrl+letter
    return (virtual_key >= kPageUp && virtual_key <= kDown) || virtual_key == kInsert ||
           virtual_key == kDelete || (virtual_key >= kF1 && virtual_key <= kF24);
}

} // namespace quodrel::rules
