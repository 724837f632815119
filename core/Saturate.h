#pragma once

#include <cstdint>
#include <limits>

namespace vmk {

// a + b kept within int's range: a sum past either end stops at that end
// instead of wrapping, so a field at its limit stays there. Takes 64-bit
// operands so callers can pass a difference or a parsed number unchanged.
constexpr int SaturatingAdd(int64_t a, int64_t b) {
    constexpr int64_t lo = std::numeric_limits<int>::min();
    constexpr int64_t hi = std::numeric_limits<int>::max();
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? static_cast<int>(hi) : static_cast<int>(lo);
    if (sum < lo) return static_cast<int>(lo);
    if (sum > hi) return static_cast<int>(hi);
    return static_cast<int>(sum);
}

}  // namespace vmk
