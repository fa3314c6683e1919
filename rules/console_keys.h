// Which console key events end a key wait. Pure, so that it can be checked on any
// host; the Windows console reports keys by these virtual-key codes.
#pragma once

namespace quodrel::rules {

// Whether a key event ends the wait: the press (not the release) of a key that
// produces a character, or of a cursor, navigation or function key. Modifier and
// lock keys alone, the Windows and menu keys and everything else do not.
bool key_ends_wait(bool key_down, unsigned virtual_key, unsigned char character);

} // namespace quodrel::rules
