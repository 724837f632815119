#pragma once

// The key names of vmk-script's `key` command.

#include <cstdint>
#include <string>

namespace vmk {

// A key name as vmk-script writes it (PageUp, Back, A, 7, Numpad7, Minus...) or a
// number (0x21, 33) as a virtual-key code; false when unknown.
bool VirtualKeyFromName(const std::string& name, uint16_t& vk);

}  // namespace vmk
