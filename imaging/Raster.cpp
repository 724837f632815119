#include "imaging/Raster.h"

#include <cstring>
#include <limits>
#include <mutex>
#include <string>

namespace vmk {

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pfDevice: return 0;
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    case TPixelFormat::pf32bit: return 32;
    }
    return 0;
}

namespace detail {

bool IsPaletteFormat(TPixelFormat format) {
    return format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit || format == TPixelFormat::pf8bit;
}

TPixelFormat HeldFormat(TPixelFormat format) {
    return format == TPixelFormat::pfDevice ? TPixelFormat::pf24bit : format;
}

RasterSize CheckedRasterSize(int64_t width, int64_t height, int bitsPerPixel) {
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Invalid bitmap size " + std::to_string(width) + " x " + std::to_string(height));
    // Both sides are at most 2^31, so the product fits in 64 bits.
    if (width * height > kMaxPixels || width > kMaxPixels || height > kMaxPixels)
        throw EInvalidGraphic("Bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                              " pixels is too large (the limit is " + std::to_string(kMaxPixels) + " pixels)");
    const int64_t stride = (width * bitsPerPixel + 31) / 32 * 4;
    const int64_t bytes = stride * height;
    if (stride > std::numeric_limits<int>::max() || bytes < 0) throw EInvalidGraphic("Bitmap rows are too long");
    return {static_cast<int>(stride), static_cast<size_t>(bytes)};
}

namespace {

constexpr size_t kRecycleFrom = size_t{1} << 20;  // smaller buffers are cheap to make anew

std::mutex spareLock;
std::vector<uint8_t> spare;

// The spare buffer when it fits bytes without wasting much; otherwise it is freed.
std::vector<uint8_t> TakeSpare(size_t bytes) {
    std::vector<uint8_t> taken;
    const std::lock_guard<std::mutex> hold(spareLock);
    if (spare.capacity() >= bytes && spare.capacity() <= bytes + bytes / 2) taken.swap(spare);
    std::vector<uint8_t>().swap(spare);
    return taken;
}

}  // namespace

void RecyclePixels(std::vector<uint8_t>&& pixels) {
    if (pixels.capacity() < kRecycleFrom) return;
    std::vector<uint8_t> old;
    {
        const std::lock_guard<std::mutex> hold(spareLock);
        old.swap(spare);
        spare.swap(pixels);
    }
    // old is freed here, outside the lock.
}

void AllocateRaster(Raster& raster, int width, int height, TPixelFormat format) {
    format = HeldFormat(format);
    const RasterSize size = CheckedRasterSize(width, height, BitsPerPixel(format));
    if (size.bytes >= kRecycleFrom && raster.pixels.capacity() < size.bytes) {
        std::vector<uint8_t> reused = TakeSpare(size.bytes);
        if (reused.capacity() > 0) raster.pixels.swap(reused);
    }
    raster.width = width;
    raster.height = height;
    raster.format = format;
    raster.alpha = false;
    raster.stride = size.stride;
    raster.pixels.assign(size.bytes, 0);
    if (IsPaletteFormat(format) && !raster.palette) raster.palette = StandardPalette(format);
}

HPALETTE MakePalette(std::vector<TPaletteEntry> entries) {
    auto pal = std::make_shared<TLogPalette>();
    pal->Entries = std::move(entries);
    return pal;
}

HPALETTE StandardPalette(TPixelFormat format) {
    std::vector<TPaletteEntry> e;
    auto add = [&e](int r, int g, int b) {
        e.push_back({static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b), 0});
    };
    switch (format) {
    case TPixelFormat::pf1bit:
        add(0, 0, 0);
        add(255, 255, 255);
        break;
    case TPixelFormat::pf4bit: {
        static const int vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                       {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
                                       {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                       {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (const auto& c : vga) add(c[0], c[1], c[2]);
        break;
    }
    default:
        // A 6 x 6 x 6 colour cube and a ramp of greys between its own.
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) add(r * 51, g * 51, b * 51);
        for (int i = 0; e.size() < 256; ++i) {
            const int v = 8 + i * 6;
            if (v % 51 == 0) continue;
            add(v, v, v);
        }
        break;
    }
    return MakePalette(std::move(e));
}

std::array<TColor, 256> PaletteColors(const HPALETTE& palette) {
    std::array<TColor, 256> out{};
    if (!palette) return out;
    const size_t n = std::min<size_t>(palette->Entries.size(), 256);
    for (size_t i = 0; i < n; ++i) {
        const TPaletteEntry& p = palette->Entries[i];
        out[i] = RGBColor(p.Red, p.Green, p.Blue);
    }
    return out;
}

PaletteMatcher::PaletteMatcher(const HPALETTE& palette) {
    if (palette) {
        const size_t n = std::min<size_t>(palette->Entries.size(), 256);
        for (size_t i = 0; i < n; ++i) {
            const TPaletteEntry& p = palette->Entries[i];
            colors_.push_back(RGBColor(p.Red, p.Green, p.Blue));
        }
    }
    // Key 0xFFFFFFFF never matches a colour (the high byte is masked off).
    cacheKey_.fill(0xFFFFFFFFu);
}

uint8_t PaletteMatcher::Nearest(TColor color) {
    color &= 0xFFFFFF;
    const size_t slot = (color ^ (color >> 12) ^ (color >> 7)) & 4095u;
    if (cacheKey_[slot] == color) return cacheIndex_[slot];
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (size_t i = 0; i < colors_.size(); ++i) {
        const int dr = int{GetRValue(color)} - int{GetRValue(colors_[i])};
        const int dg = int{GetGValue(color)} - int{GetGValue(colors_[i])};
        const int db = int{GetBValue(color)} - int{GetBValue(colors_[i])};
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
            if (d == 0) break;
        }
    }
    cacheKey_[slot] = color;
    cacheIndex_[slot] = static_cast<uint8_t>(best);
    return static_cast<uint8_t>(best);
}

void RowToColors(const Raster& raster, int y, int x0, int count, TColor* out) {
    const uint8_t* row = raster.Row(y);
    switch (raster.format) {
    case TPixelFormat::pf1bit: {
        const auto pal = PaletteColors(raster.palette);
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            out[i] = pal[(row[x >> 3] >> (7 - (x & 7))) & 1];
        }
        break;
    }
    case TPixelFormat::pf4bit: {
        const auto pal = PaletteColors(raster.palette);
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            const uint8_t b = row[x >> 1];
            out[i] = pal[(x & 1) ? (b & 0x0F) : (b >> 4)];
        }
        break;
    }
    case TPixelFormat::pf8bit: {
        const auto pal = PaletteColors(raster.palette);
        for (int i = 0; i < count; ++i) out[i] = pal[row[x0 + i]];
        break;
    }
    case TPixelFormat::pf15bit:
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 2 * (x0 + i);
            const unsigned v = p[0] | (unsigned{p[1]} << 8);
            out[i] = RGBColor(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
        }
        break;
    case TPixelFormat::pf16bit:
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 2 * (x0 + i);
            const unsigned v = p[0] | (unsigned{p[1]} << 8);
            out[i] = RGBColor(Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31));
        }
        break;
    case TPixelFormat::pf32bit:
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 4 * (x0 + i);
            out[i] = RGBColor(p[2], p[1], p[0]);
        }
        break;
    default:  // pf24bit
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 3 * (x0 + i);
            out[i] = RGBColor(p[2], p[1], p[0]);
        }
        break;
    }
}

namespace {

// Calls put(x, colour) for each pixel not skipped; the format switch stays out of the loop.
template <class Put>
void EachPixel(int x0, int count, const TColor* colors, const uint8_t* skip, Put put) {
    if (!skip) {
        for (int i = 0; i < count; ++i) put(x0 + i, colors[i]);
        return;
    }
    for (int i = 0; i < count; ++i)
        if (!skip[i]) put(x0 + i, colors[i]);
}

}  // namespace

void ColorsToRow(Raster& raster, int y, int x0, int count, const TColor* colors, const uint8_t* skip,
                 PaletteMatcher* matcher) {
    uint8_t* row = raster.Row(y);
    switch (raster.format) {
    case TPixelFormat::pf1bit:
        EachPixel(x0, count, colors, skip, [&](int x, TColor c) {
            const unsigned bit = 0x80u >> (x & 7);
            if (matcher->Nearest(c))
                row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | bit);
            else
                row[x >> 3] = static_cast<uint8_t>(row[x >> 3] & ~bit);
        });
        break;
    case TPixelFormat::pf4bit:
        EachPixel(x0, count, colors, skip, [&](int x, TColor c) {
            const unsigned index = matcher->Nearest(c) & 0x0Fu;
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? static_cast<uint8_t>((b & 0xF0u) | index) : static_cast<uint8_t>((b & 0x0Fu) | (index << 4));
        });
        break;
    case TPixelFormat::pf8bit:
        EachPixel(x0, count, colors, skip, [&](int x, TColor c) { row[x] = matcher->Nearest(c); });
        break;
    case TPixelFormat::pf15bit:
        EachPixel(x0, count, colors, skip, [&](int x, TColor c) {
            const unsigned v = (unsigned{GetRValue(c)} >> 3 << 10) | (unsigned{GetGValue(c)} >> 3 << 5) |
                               (unsigned{GetBValue(c)} >> 3);
            row[2 * x] = static_cast<uint8_t>(v);
            row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        });
        break;
    case TPixelFormat::pf16bit:
        EachPixel(x0, count, colors, skip, [&](int x, TColor c) {
            const unsigned v = (unsigned{GetRValue(c)} >> 3 << 11) | (unsigned{GetGValue(c)} >> 2 << 5) |
                               (unsigned{GetBValue(c)} >> 3);
            row[2 * x] = static_cast<uint8_t>(v);
            row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        });
        break;
    case TPixelFormat::pf32bit:
        EachPixel(x0, count, colors, skip, [&](int x, TColor c) {
            uint8_t* p = row + 4 * x;
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
            p[3] = raster.alpha ? 255 : 0;
        });
        break;
    default:
        EachPixel(x0, count, colors, skip, [&](int x, TColor c) {
            uint8_t* p = row + 3 * x;
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        });
        break;
    }
}

TColor PixelColor(const Raster& raster, int x, int y) {
    if (x < 0 || y < 0 || x >= raster.width || y >= raster.height) return 0;
    TColor c = 0;
    if (IsPaletteFormat(raster.format)) {
        const uint8_t* row = raster.Row(y);
        unsigned index = 0;
        if (raster.format == TPixelFormat::pf1bit)
            index = (row[x >> 3] >> (7 - (x & 7))) & 1u;
        else if (raster.format == TPixelFormat::pf4bit)
            index = (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
        else
            index = row[x];
        if (!raster.palette || index >= raster.palette->Entries.size()) return 0;
        const TPaletteEntry& p = raster.palette->Entries[index];
        return RGBColor(p.Red, p.Green, p.Blue);
    }
    RowToColors(raster, y, x, 1, &c);
    return c;
}

}  // namespace detail
}  // namespace vmk
