#pragma once

// Windows virtual-key codes, which the key handlers test, and their mapping
// from and to Qt's keys.

#include <cstdint>
#include <string>

namespace vmk {

constexpr uint16_t VK_BACK = 0x08;
constexpr uint16_t VK_TAB = 0x09;
constexpr uint16_t VK_RETURN = 0x0D;
constexpr uint16_t VK_SHIFT = 0x10;
constexpr uint16_t VK_CONTROL = 0x11;
constexpr uint16_t VK_MENU = 0x12;
constexpr uint16_t VK_ESCAPE = 0x1B;
constexpr uint16_t VK_SPACE = 0x20;
constexpr uint16_t VK_PRIOR = 0x21;  // Page Up
constexpr uint16_t VK_NEXT = 0x22;   // Page Down
constexpr uint16_t VK_END = 0x23;
constexpr uint16_t VK_HOME = 0x24;
constexpr uint16_t VK_LEFT = 0x25;
constexpr uint16_t VK_UP = 0x26;
constexpr uint16_t VK_RIGHT = 0x27;
constexpr uint16_t VK_DOWN = 0x28;
constexpr uint16_t VK_INSERT = 0x2D;
constexpr uint16_t VK_DELETE = 0x2E;
// '0'..'9' are 0x30..0x39 and 'A'..'Z' 0x41..0x5A.
constexpr uint16_t VK_NUMPAD0 = 0x60;  // to VK_NUMPAD9 = 0x69
constexpr uint16_t VK_MULTIPLY = 0x6A;
constexpr uint16_t VK_ADD = 0x6B;
constexpr uint16_t VK_SUBTRACT = 0x6D;
constexpr uint16_t VK_DECIMAL = 0x6E;
constexpr uint16_t VK_DIVIDE = 0x6F;
constexpr uint16_t VK_F1 = 0x70;  // to VK_F24 = 0x87
constexpr uint16_t VK_OEM_PLUS = 0xBB;
constexpr uint16_t VK_OEM_COMMA = 0xBC;
constexpr uint16_t VK_OEM_MINUS = 0xBD;
constexpr uint16_t VK_OEM_PERIOD = 0xBE;

// The virtual-key code of a Qt key (Qt::Key) pressed with the given Qt keyboard
// modifiers (the keypad flag tells keypad digits apart); 0 when there is none.
uint16_t VirtualKeyFromQt(int qtKey, unsigned qtModifiers);

// A Qt key, its modifiers and its text for a virtual-key code, so that a key can
// be sent to a widget as the user would press it. The text is what the key types
// (empty for keys that type nothing). False when the code has no Qt key.
struct TQtKeyStroke {
    int key = 0;
    unsigned modifiers = 0;
    std::string text;
};
bool QtKeyFromVirtualKey(uint16_t vk, TQtKeyStroke& stroke);

}  // namespace vmk
