// vmk-script's key names, and the Qt keys they press mapping back to the same code.

#include <gtest/gtest.h>

#include <Qt>

#include "tools/KeyNames.h"
#include "widgets/Keys.h"

using namespace vmk;

TEST(KeyNames, KeyNamesAndQtKeysMapToVirtualKeys) {
    struct Case {
        const char* name;
        uint16_t vk;
    } names[] = {{"PageUp", 0x21}, {"PageDown", 0x22}, {"Home", 0x24},    {"End", 0x23},     {"Up", 0x26},
                 {"Down", 0x28},   {"Back", 0x08},     {"Delete", 0x2E},  {"A", 0x41},       {"z", 0x5A},
                 {"0", 0x30},      {"9", 0x39},        {"Numpad0", 0x60}, {"Numpad9", 0x69}, {"Shift", 0x10},
                 {"Ctrl", 0x11},   {"Minus", 0xBD},    {"0x21", 0x21},    {"33", 33}};
    for (const Case& c : names) {
        uint16_t vk = 0;
        ASSERT_TRUE(VirtualKeyFromName(c.name, vk)) << c.name;
        EXPECT_EQ(vk, c.vk) << c.name;
        TQtKeyStroke stroke;
        ASSERT_TRUE(QtKeyFromVirtualKey(vk, stroke)) << c.name;
        EXPECT_EQ(VirtualKeyFromQt(stroke.key, stroke.modifiers), vk) << c.name;
    }
    uint16_t vk = 0;
    EXPECT_FALSE(VirtualKeyFromName("Bogus", vk));
    EXPECT_FALSE(VirtualKeyFromName("0x10000", vk));
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Minus, Qt::KeypadModifier), VK_SUBTRACT);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_5, Qt::KeypadModifier), VK_NUMPAD0 + 5);
}
