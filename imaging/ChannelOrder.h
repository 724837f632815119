#pragma once

// Red and blue swapped: our bitmaps hold blue first (BGR, BGRA), most
// libraries want red first. Internal to imaging/.

#include <cstddef>
#include <cstdint>

namespace vmk::detail {

// Copies pixels of three bytes (bytesPerPixel 3) or four, the fourth kept as
// it is, with the first and third bytes of each swapped. from and to may be
// the same row; otherwise they must not overlap.
void SwapRedBlue(const uint8_t* from, uint8_t* to, size_t pixels, int bytesPerPixel);

}  // namespace vmk::detail
