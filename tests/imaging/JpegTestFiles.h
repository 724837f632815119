#pragma once

// JPEG files made on the spot with libjpeg, so every variant the tests need is
// known exactly: what was written and what must come back.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "core/Streams.h"
#include "imaging/Graphics.h"

namespace vmk::testing {

enum class Layout { Baseline, Progressive, Arithmetic };

struct JpegRecipe {
    int width = 64;
    int height = 48;
    Layout layout = Layout::Baseline;
    bool gray = false;
    bool cmyk = false;           // written with an Adobe marker, inks inverted as Photoshop does
    bool ycck = false;           // with cmyk: stored as YCCK
    bool twoComponents = false;  // a colour space nobody can show
    int hSampling = 2;           // luma sampling: 2x2 is 4:2:0, 2x1 4:2:2, 1x1 4:4:4
    int vSampling = 2;
    int restartRows = 0;  // restart interval in MCU rows
    int quality = 95;
};

// Red left half, blue right half, a green band across the bottom quarter:
// flat areas that survive compression within a few levels.
inline TColor PatternColor(int x, int y, int width, int height) {
    if (y >= height * 3 / 4) return RGBColor(0, 200, 0);
    return x < width / 2 ? RGBColor(220, 20, 20) : RGBColor(20, 20, 220);
}

inline std::vector<uint8_t> MakeJpeg(const JpegRecipe& recipe) {
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    c.mem->max_memory_to_use = 0;  // whatever JPEGMEM says
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = static_cast<JDIMENSION>(recipe.width);
    c.image_height = static_cast<JDIMENSION>(recipe.height);
    c.input_components = recipe.twoComponents ? 2 : recipe.gray ? 1 : recipe.cmyk ? 4 : 3;
    c.in_color_space = recipe.twoComponents ? JCS_UNKNOWN
                       : recipe.gray        ? JCS_GRAYSCALE
                       : recipe.cmyk        ? JCS_CMYK
                                            : JCS_RGB;
    jpeg_set_defaults(&c);
    if (recipe.cmyk && recipe.ycck) jpeg_set_colorspace(&c, JCS_YCCK);
    jpeg_set_quality(&c, recipe.quality, TRUE);
    if (!recipe.gray && !recipe.cmyk && !recipe.twoComponents) {
        c.comp_info[0].h_samp_factor = recipe.hSampling;
        c.comp_info[0].v_samp_factor = recipe.vSampling;
    }
    if (recipe.layout == Layout::Progressive) jpeg_simple_progression(&c);
    if (recipe.layout == Layout::Arithmetic) c.arith_code = TRUE;
    c.restart_in_rows = recipe.restartRows;
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(recipe.width * c.input_components));
    while (c.next_scanline < c.image_height) {
        const int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < recipe.width; ++x) {
            const TColor colour = PatternColor(x, y, recipe.width, recipe.height);
            const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
            JSAMPLE* p = row.data() + x * c.input_components;
            if (recipe.twoComponents) {
                p[0] = static_cast<JSAMPLE>(r);
                p[1] = static_cast<JSAMPLE>(g);
            } else if (recipe.gray) {
                p[0] = static_cast<JSAMPLE>((r * 77 + g * 150 + b * 29) >> 8);
            } else if (recipe.cmyk) {
                // Inverted inks: 255 = none. k full "none", c/m/y = the colour itself.
                p[0] = static_cast<JSAMPLE>(r);
                p[1] = static_cast<JSAMPLE>(g);
                p[2] = static_cast<JSAMPLE>(b);
                p[3] = 255;
            } else {
                p[0] = static_cast<JSAMPLE>(r);
                p[1] = static_cast<JSAMPLE>(g);
                p[2] = static_cast<JSAMPLE>(b);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return bytes;
}

// A progressive file whose last scan comes scanCount - (its own scans) more
// times before the end marker, so it holds scanCount scans in all. The decoder
// takes a repeated scan with a warning only, as it would from a hostile file: a
// few kilobytes that ask for a pass over the picture per scan.
inline std::vector<uint8_t> MakeManyScanJpeg(int scanCount, int width = 16, int height = 16) {
    const std::vector<uint8_t> bytes = MakeJpeg({.width = width, .height = height, .layout = Layout::Progressive});
    // Walk the segments to the scans: each SOS header, then entropy-coded data
    // up to the next marker that is neither a stuffed 0xFF nor a restart.
    size_t at = 2, lastScan = 0;
    int scans = 0;
    while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
        const uint8_t code = bytes[at + 1];
        if (code == 0xD9) break;
        const size_t length = (size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        size_t next = at + 2 + length;
        if (code == 0xDA) {
            lastScan = at;
            ++scans;
            while (next + 1 < bytes.size() &&
                   !(bytes[next] == 0xFF && bytes[next + 1] != 0 && (bytes[next + 1] < 0xD0 || bytes[next + 1] > 0xD7)))
                ++next;
        }
        at = next;
    }
    if (lastScan == 0 || at + 2 != bytes.size()) std::abort();  // MakeJpeg's own layout changed
    std::vector<uint8_t> result(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    for (int i = scans; i < scanCount; ++i)
        result.insert(result.end(), bytes.begin() + static_cast<std::ptrdiff_t>(lastScan),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at));
    result.push_back(0xFF);
    result.push_back(0xD9);
    return result;
}

inline void FillStream(TMemoryStream& stream, const std::vector<uint8_t>& bytes) {
    stream.Clear();
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
}

// A 24-bit bitmap holding PatternColor.
inline void MakePatternBitmap(TBitmap& bitmap, int width, int height) {
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < width; ++x) {
            const TColor colour = PatternColor(x, y, width, height);
            row[x * 3] = GetBValue(colour);
            row[x * 3 + 1] = GetGValue(colour);
            row[x * 3 + 2] = GetRValue(colour);
        }
    }
}

inline bool Near(TColor a, TColor b, int tolerance) {
    auto close = [&](int u, int v) { return std::abs(u - v) <= tolerance; };
    return close(GetRValue(a), GetRValue(b)) && close(GetGValue(a), GetGValue(b)) && close(GetBValue(a), GetBValue(b));
}

}  // namespace vmk::testing
