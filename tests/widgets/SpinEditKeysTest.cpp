// The spin-edit key filter: exactly the editing keys and the digits pass.

#include <gtest/gtest.h>

#include <set>

#include "widgets/Keys.h"
#include "widgets/SpinEditKeys.h"

namespace vmk {
namespace {

TEST(SpinEditKeyAllowed, PassesExactlyTheEditingKeysAndBothDigitBlocks) {
    std::set<uint16_t> allowed = {VK_BACK, VK_UP, VK_DOWN, VK_DELETE};
    for (uint16_t d = 0; d < 10; ++d) {
        allowed.insert(static_cast<uint16_t>('0' + d));
        allowed.insert(static_cast<uint16_t>(VK_NUMPAD0 + d));
    }
    for (uint32_t key = 0; key <= 0xFFFF; ++key) {
        const auto k = static_cast<uint16_t>(key);
        EXPECT_EQ(SpinEditKeyAllowed(k), allowed.count(k) == 1) << std::hex << key;
    }
}

TEST(SpinEditKeyAllowed, RefusesSignsPagingCaretAndModifierKeys) {
    for (uint16_t k :
         {VK_OEM_MINUS,  VK_SUBTRACT,   VK_OEM_PLUS,    VK_ADD,         VK_SPACE,       VK_PRIOR,      VK_NEXT,
          VK_HOME,       VK_END,        VK_LEFT,        VK_RIGHT,       VK_SHIFT,       VK_CONTROL,    VK_DECIMAL,
          uint16_t{'A'}, uint16_t{'Z'}, uint16_t{0x2F}, uint16_t{0x3A}, uint16_t{0x5F}, uint16_t{0x6A}})
        EXPECT_FALSE(SpinEditKeyAllowed(k)) << std::hex << k;
}

}  // namespace
}  // namespace vmk
