#pragma once

// Joins text pieces in one string: command lines built in loops, without a
// temporary string for every "+".

#include <string>

namespace vmk::test {

template <class... Parts>
std::string Cat(const Parts&... parts) {
    std::string text;
    ((text += parts), ...);
    return text;
}

}  // namespace vmk::test
