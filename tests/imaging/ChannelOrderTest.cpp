// Red and blue swapped for the libraries: every row length around the
// sixteen-byte steps, copied and in place, nothing written past the row.

#include <gtest/gtest.h>

#include <vector>

#include "imaging/ChannelOrder.h"

namespace vmk::detail {
namespace {

TEST(SwapRedBlue, EveryRowLengthCopiedAndInPlaceStaysWithinTheRow) {
    for (const int bytes : {3, 4}) {
        for (size_t pixels = 0; pixels <= 40; ++pixels) {
            const size_t size = pixels * static_cast<size_t>(bytes);
            std::vector<uint8_t> from(size), expected(size);
            for (size_t i = 0; i < size; ++i) from[i] = static_cast<uint8_t>(i * 37 + 11);
            for (size_t p = 0; p < pixels; ++p) {
                const uint8_t* f = &from[p * bytes];
                uint8_t* e = &expected[p * bytes];
                e[0] = f[2];
                e[1] = f[1];
                e[2] = f[0];
                if (bytes == 4) e[3] = f[3];
            }
            // Guard bytes behind the row: a step that runs over changes them.
            std::vector<uint8_t> to(size + 16, 0xA5);
            SwapRedBlue(from.data(), to.data(), pixels, bytes);
            EXPECT_EQ(std::vector<uint8_t>(to.begin(), to.begin() + static_cast<ptrdiff_t>(size)), expected)
                << bytes << " bytes, " << pixels << " pixels";
            EXPECT_EQ(std::vector<uint8_t>(to.begin() + static_cast<ptrdiff_t>(size), to.end()),
                      std::vector<uint8_t>(16, 0xA5))
                << bytes << " bytes, " << pixels << " pixels";

            std::vector<uint8_t> same = from;
            SwapRedBlue(same.data(), same.data(), pixels, bytes);
            EXPECT_EQ(same, expected) << "in place: " << bytes << " bytes, " << pixels << " pixels";
        }
    }
}

}  // namespace
}  // namespace vmk::detail
