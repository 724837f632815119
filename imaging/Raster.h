#pragma once

// Pixel storage shared by TBitmap, the canvas and the BMP codec. Internal to imaging/.

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/Graphics.h"

namespace vmk::detail {

// Rows top row first, each padded to 4 bytes (the layout Graphics.h documents).
struct Raster {
    int width = 0;
    int height = 0;
    TPixelFormat format = TPixelFormat::pf24bit;
    int stride = 0;
    std::vector<uint8_t> pixels;
    HPALETTE palette;  // always set for pf1bit, pf4bit and pf8bit
    // pf32bit only: the fourth byte is alpha, as the file read said, rather
    // than unused. Pixels we draw are then opaque, and the file we write says so.
    bool alpha = false;

    uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
    const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
};

bool IsPaletteFormat(TPixelFormat format);
// pfDevice is held as 24-bit.
TPixelFormat HeldFormat(TPixelFormat format);

// The one place where picture sizes are checked: widens to 64 bits, refuses
// negative sizes and anything beyond kMaxPixels, and gives the padded row length.
struct RasterSize {
    int stride;
    size_t bytes;
};
RasterSize CheckedRasterSize(int64_t width, int64_t height, int bitsPerPixel);

// Sizes raster (pixels zeroed) for the given format and size.
void AllocateRaster(Raster& raster, int width, int height, TPixelFormat format);

// Offers the pixel memory of a picture about to be replaced to the next raster
// made. A batch of camera pictures then reuses one buffer instead of faulting in
// tens of megabytes of fresh memory for every picture. At most one buffer is
// kept, and the next allocation takes it or frees it.
void RecyclePixels(std::vector<uint8_t>&& pixels);

HPALETTE StandardPalette(TPixelFormat format);
HPALETTE MakePalette(std::vector<TPaletteEntry> entries);

// The palette as colours, padded with black to 256 entries so that any index is safe.
std::array<TColor, 256> PaletteColors(const HPALETTE& palette);

// Nearest palette entry for a colour, with a small cache for the repeated colours
// of real pictures.
class PaletteMatcher {
public:
    explicit PaletteMatcher(const HPALETTE& palette);
    uint8_t Nearest(TColor color);

private:
    std::vector<TColor> colors_;
    std::array<uint32_t, 4096> cacheKey_{};
    std::array<uint8_t, 4096> cacheIndex_{};
};

// Row conversions between the held format and 0x00BBGGRR colours.
void RowToColors(const Raster& raster, int y, int x0, int count, TColor* out);
// skip may be null; a nonzero skip[i] leaves pixel x0 + i as it is. matcher is
// needed for palette formats only.
void ColorsToRow(Raster& raster, int y, int x0, int count, const TColor* colors, const uint8_t* skip,
                 PaletteMatcher* matcher);

TColor PixelColor(const Raster& raster, int x, int y);

// 5- and 6-bit channel values scaled to 8 bits, rounded.
inline uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v * 255 + 15) / 31); }
inline uint8_t Expand6(unsigned v) { return static_cast<uint8_t>((v * 255 + 31) / 63); }

}  // namespace vmk::detail
