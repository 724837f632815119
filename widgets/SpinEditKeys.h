#pragma once

#include <cstdint>

namespace vmk {

// Whether a key may edit the text of a spin edit: Backspace, Delete, the Up and
// Down arrows and the digits of both the main keyboard and the keypad. Every
// other key (letters, signs, paging and caret keys, Shift, Ctrl) is refused, and
// the field is kept read-only while it is down.
bool SpinEditKeyAllowed(uint16_t key);

}  // namespace vmk
