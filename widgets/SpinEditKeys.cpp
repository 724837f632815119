#include "widgets/SpinEditKeys.h"

#include "widgets/Keys.h"

namespace vmk {

bool SpinEditKeyAllowed(uint16_t key) {
    switch (key) {
    case VK_BACK:
    case VK_UP:
    case VK_DOWN:
    case VK_DELETE: return true;
    default: break;
    }
    if (key >= 0x30 && key <= 0x39) return true;                  // '0'..'9'
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD0 + 9) return true;  // keypad digits
    return false;
}

}  // namespace vmk
