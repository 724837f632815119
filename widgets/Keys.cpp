#include "widgets/Keys.h"

#include <Qt>

namespace vmk {

namespace {

struct KeyPair {
    int qt;
    uint16_t vk;
};

// Keys whose code does not follow from a range.
// Laid out as a table by hand: keep it so.
// clang-format off
constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, VK_BACK},  {Qt::Key_Tab, VK_TAB},       {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN},   {Qt::Key_Enter, VK_RETURN},  {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL}, {Qt::Key_Alt, VK_MENU},      {Qt::Key_Escape, VK_ESCAPE},
    {Qt::Key_Space, VK_SPACE},     {Qt::Key_PageUp, VK_PRIOR},  {Qt::Key_PageDown, VK_NEXT},
    {Qt::Key_End, VK_END},         {Qt::Key_Home, VK_HOME},     {Qt::Key_Left, VK_LEFT},
    {Qt::Key_Up, VK_UP},           {Qt::Key_Right, VK_RIGHT},   {Qt::Key_Down, VK_DOWN},
    {Qt::Key_Insert, VK_INSERT},   {Qt::Key_Delete, VK_DELETE}, {Qt::Key_Plus, VK_OEM_PLUS},
    {Qt::Key_Equal, VK_OEM_PLUS},  {Qt::Key_Comma, VK_OEM_COMMA}, {Qt::Key_Minus, VK_OEM_MINUS},
    {Qt::Key_Underscore, VK_OEM_MINUS}, {Qt::Key_Period, VK_OEM_PERIOD}, {Qt::Key_Greater, VK_OEM_PERIOD},
    {Qt::Key_Less, VK_OEM_COMMA},  {Qt::Key_Semicolon, 0xBA},   {Qt::Key_Colon, 0xBA},
    {Qt::Key_Slash, 0xBF},         {Qt::Key_Question, 0xBF},    {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_AsciiTilde, 0xC0},    {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_Backslash, 0xDC},     {Qt::Key_Bar, 0xDC},         {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_BraceRight, 0xDD},    {Qt::Key_Apostrophe, 0xDE},  {Qt::Key_QuoteDbl, 0xDE},
};
// clang-format on

// Shifted digits on a US keyboard still press the digit key.
constexpr char kShiftedDigits[] = ")!@#$%^&*(";

}  // namespace

uint16_t VirtualKeyFromQt(int qtKey, unsigned qtModifiers) {
    const bool keypad = (qtModifiers & Qt::KeypadModifier) != 0;
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<uint16_t>((keypad ? VK_NUMPAD0 : 0x30) + (qtKey - Qt::Key_0));
    if (keypad) {
        switch (qtKey) {
        case Qt::Key_Plus: return VK_ADD;
        case Qt::Key_Minus: return VK_SUBTRACT;
        case Qt::Key_Asterisk: return VK_MULTIPLY;
        case Qt::Key_Slash: return VK_DIVIDE;
        case Qt::Key_Period: return VK_DECIMAL;
        default: break;
        }
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<uint16_t>(0x41 + (qtKey - Qt::Key_A));
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return static_cast<uint16_t>(VK_F1 + (qtKey - Qt::Key_F1));
    for (const KeyPair& k : kKeys)
        if (k.qt == qtKey) return k.vk;
    for (int d = 0; d < 10; ++d)
        if (qtKey == kShiftedDigits[d]) return static_cast<uint16_t>(0x30 + d);
    return 0;
}

bool QtKeyFromVirtualKey(uint16_t vk, TQtKeyStroke& stroke) {
    stroke = TQtKeyStroke{};
    if (vk >= 0x30 && vk <= 0x39) {
        stroke.key = Qt::Key_0 + (vk - 0x30);
        stroke.text = std::string(1, static_cast<char>('0' + (vk - 0x30)));
        return true;
    }
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) {
        stroke.key = Qt::Key_0 + (vk - VK_NUMPAD0);
        stroke.modifiers = Qt::KeypadModifier;
        stroke.text = std::string(1, static_cast<char>('0' + (vk - VK_NUMPAD0)));
        return true;
    }
    if (vk >= 0x41 && vk <= 0x5A) {
        stroke.key = Qt::Key_A + (vk - 0x41);
        stroke.text = std::string(1, static_cast<char>('a' + (vk - 0x41)));
        return true;
    }
    if (vk >= VK_F1 && vk <= VK_F1 + 23) {
        stroke.key = Qt::Key_F1 + (vk - VK_F1);
        return true;
    }
    // One key a line, as a table.
    // clang-format off
    switch (vk) {
    case VK_ADD: stroke.key = Qt::Key_Plus; stroke.modifiers = Qt::KeypadModifier; stroke.text = "+"; return true;
    case VK_SUBTRACT: stroke.key = Qt::Key_Minus; stroke.modifiers = Qt::KeypadModifier; stroke.text = "-"; return true;
    case VK_MULTIPLY: stroke.key = Qt::Key_Asterisk; stroke.modifiers = Qt::KeypadModifier; stroke.text = "*"; return true;
    case VK_DIVIDE: stroke.key = Qt::Key_Slash; stroke.modifiers = Qt::KeypadModifier; stroke.text = "/"; return true;
    case VK_DECIMAL: stroke.key = Qt::Key_Period; stroke.modifiers = Qt::KeypadModifier; stroke.text = "."; return true;
    case VK_OEM_PLUS: stroke.key = Qt::Key_Equal; stroke.text = "="; return true;
    case VK_OEM_MINUS: stroke.key = Qt::Key_Minus; stroke.text = "-"; return true;
    case VK_OEM_COMMA: stroke.key = Qt::Key_Comma; stroke.text = ","; return true;
    case VK_OEM_PERIOD: stroke.key = Qt::Key_Period; stroke.text = "."; return true;
    case VK_SPACE: stroke.key = Qt::Key_Space; stroke.text = " "; return true;
    case VK_SHIFT: stroke.key = Qt::Key_Shift; stroke.modifiers = Qt::ShiftModifier; return true;
    case VK_CONTROL: stroke.key = Qt::Key_Control; stroke.modifiers = Qt::ControlModifier; return true;
    default: break;
    }
    // clang-format on
    for (const KeyPair& k : kKeys)
        if (k.vk == vk) {
            stroke.key = k.qt;
            return true;
        }
    return false;
}

}  // namespace vmk
