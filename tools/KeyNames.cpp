#include "tools/KeyNames.h"

#include <cctype>
#include <cstdlib>

#include "widgets/Keys.h"

namespace vmk {

bool VirtualKeyFromName(const std::string& name, uint16_t& vk) {
    if (name.empty()) return false;
    if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(name.c_str() + 2, &end, 16);
        if (*end != '\0' || v > 0xFFFF) return false;
        vk = static_cast<uint16_t>(v);
        return true;
    }
    if (name.size() == 1) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) {
            vk = static_cast<uint16_t>(static_cast<unsigned char>(c));
            return true;
        }
        return false;
    }
    if (name.rfind("Numpad", 0) == 0 && name.size() == 7 && name[6] >= '0' && name[6] <= '9') {
        vk = static_cast<uint16_t>(VK_NUMPAD0 + (name[6] - '0'));
        return true;
    }
    struct Named {
        const char* name;
        uint16_t vk;
    };
    static constexpr Named kNames[] = {
        {"PageUp", VK_PRIOR},    {"PageDown", VK_NEXT}, {"Home", VK_HOME},     {"End", VK_END},
        {"Up", VK_UP},           {"Down", VK_DOWN},     {"Left", VK_LEFT},     {"Right", VK_RIGHT},
        {"Back", VK_BACK},       {"Delete", VK_DELETE}, {"Shift", VK_SHIFT},   {"Ctrl", VK_CONTROL},
        {"Minus", VK_OEM_MINUS}, {"Plus", VK_OEM_PLUS}, {"Return", VK_RETURN}, {"Enter", VK_RETURN},
        {"Space", VK_SPACE},     {"Tab", VK_TAB},       {"Escape", VK_ESCAPE}, {"Insert", VK_INSERT},
    };
    for (const Named& n : kNames)
        if (name == n.name) {
            vk = n.vk;
            return true;
        }
    bool digits = true;
    for (char c : name) digits = digits && c >= '0' && c <= '9';
    if (digits && name.size() <= 5) {
        const unsigned long v = std::strtoul(name.c_str(), nullptr, 10);
        if (v > 0xFFFF) return false;
        vk = static_cast<uint16_t>(v);
        return true;
    }
    return false;
}

}  // namespace vmk
