#include "imaging/Exif.h"

#include <algorithm>
#include <cstring>

#include "imaging/Graphics.h"

namespace vmk {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
constexpr size_t kExifHeader = 6;  // "Exif\0\0"

bool StartsWith(const uint8_t* data, size_t size, const char* prefix, size_t prefixSize) {
    return size >= prefixSize && std::memcmp(data, prefix, prefixSize) == 0;
}

bool IsExif(const uint8_t* data, size_t size) { return StartsWith(data, size, "Exif\0\0", kExifHeader); }

// Where the orientation value of an APP1 EXIF payload lies, found through
// offsets that are each checked against the block; null when there is none.
// Only IFD0 is looked at: that is where the orientation of the main picture is.
uint8_t* FindOrientation(uint8_t* data, size_t size, bool& bigEndian) {
    if (data == nullptr || !IsExif(data, size)) return nullptr;
    uint8_t* tiff = data + kExifHeader;
    const size_t tiffSize = size - kExifHeader;
    if (tiffSize < 8) return nullptr;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        bigEndian = false;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        bigEndian = true;
    else
        return nullptr;
    const auto u16 = [&](size_t at) -> uint16_t {
        return bigEndian ? static_cast<uint16_t>(tiff[at] << 8 | tiff[at + 1])
                         : static_cast<uint16_t>(tiff[at] | tiff[at + 1] << 8);
    };
    const auto u32 = [&](size_t at) -> uint32_t {
        return bigEndian ? uint32_t{tiff[at]} << 24 | uint32_t{tiff[at + 1]} << 16 | uint32_t{tiff[at + 2]} << 8 |
                               tiff[at + 3]
                         : uint32_t{tiff[at + 3]} << 24 | uint32_t{tiff[at + 2]} << 16 | uint32_t{tiff[at + 1]} << 8 |
                               tiff[at];
    };
    if (u16(2) != 42) return nullptr;
    const uint64_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > tiffSize) return nullptr;
    const uint64_t count = u16(static_cast<size_t>(ifd));
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t entry = ifd + 2 + 12 * i;
        if (entry + 12 > tiffSize) return nullptr;  // the directory runs past the block
        const auto at = static_cast<size_t>(entry);
        if (u16(at) != kOrientationTag) continue;
        // A SHORT with a count of 1 sits in the entry itself, left-justified.
        if (u16(at + 2) != kShortType || u32(at + 4) != 1) return nullptr;
        return tiff + at + 8;
    }
    return nullptr;
}

int ReadShort(const uint8_t* p, bool bigEndian) { return bigEndian ? (p[0] << 8 | p[1]) : (p[0] | p[1] << 8); }

const TJPEGMarker* FirstExif(const TJPEGMarkers& markers) {
    for (const TJPEGMarker& m : markers)
        if (m.Code == 0xE1 && IsExif(m.Data.data(), m.Data.size())) return &m;
    return nullptr;
}

}  // namespace

bool IsKeptMarker(uint8_t code, const uint8_t* data, size_t size) {
    static const char xmp[] = "http://ns.adobe.com/xap/1.0/";
    static const char xmpExtension[] = "http://ns.adobe.com/xmp/extension/";
    static const char icc[] = "ICC_PROFILE";
    static const char iptc[] = "Photoshop 3.0";
    switch (code) {
    case 0xFE: return true;
    case 0xE1:  // the terminating zero of each name belongs to the signature
        return IsExif(data, size) || StartsWith(data, size, xmp, sizeof xmp) ||
               StartsWith(data, size, xmpExtension, sizeof xmpExtension);
    case 0xE2: return StartsWith(data, size, icc, sizeof icc);
    case 0xED: return StartsWith(data, size, iptc, sizeof iptc);
    default: return false;
    }
}

bool FewEnoughSegments(const uint8_t* jpeg, size_t size) {
    size_t count = 0;
    size_t at = 2;  // after the start-of-image marker
    while (at + 4 <= size && jpeg[at] == 0xFF) {
        const uint8_t code = jpeg[at + 1];
        if (code == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (code == 0xDA || code == 0xD9) break;               // the scan or the end: libjpeg saves nothing beyond
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD8)) {  // markers without a length
            at += 2;
            continue;
        }
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        if (length < 2) break;
        for (const uint8_t kept : kKeptMarkerCodes)
            if (code == kept && ++count > kMaxKeptSegments) return false;
        at += 2 + length;
    }
    return true;
}

int ExifOrientationOf(const uint8_t* data, size_t size) {
    bool bigEndian = false;
    // Only read through the pointer; FindOrientation serves the patcher too.
    const uint8_t* value = FindOrientation(const_cast<uint8_t*>(data), size, bigEndian);
    if (value == nullptr) return 0;
    const int orientation = ReadShort(value, bigEndian);
    return orientation >= 1 && orientation <= 8 ? orientation : 0;
}

int ExifOrientation(const TJPEGMarkers& markers) {
    const TJPEGMarker* exif = FirstExif(markers);
    if (exif == nullptr) return 1;
    const int orientation = ExifOrientationOf(exif->Data.data(), exif->Data.size());
    return orientation == 0 ? 1 : orientation;
}

void MarkUpright(TJPEGMarkers& markers) {
    for (TJPEGMarker& m : markers) {
        if (m.Code != 0xE1 || !IsExif(m.Data.data(), m.Data.size())) continue;
        // The same segment the orientation was read from, and only a value we
        // turned the pixels by: a damaged one stays as the file had it.
        bool bigEndian = false;
        uint8_t* value = FindOrientation(m.Data.data(), m.Data.size(), bigEndian);
        if (value == nullptr) return;
        const int orientation = ReadShort(value, bigEndian);
        if (orientation < 2 || orientation > 8) return;
        value[0] = bigEndian ? 0 : 1;
        value[1] = bigEndian ? 1 : 0;
        return;
    }
}

void OrientUpright(TBitmap& bitmap, int orientation) {
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    if (orientation < 2 || orientation > 8 || w == 0 || h == 0) return;
    const TPixelFormat format = bitmap.GetPixelFormat();
    if (format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit)
        throw EInvalidGraphicOperation("Only 8- and 24-bit pictures can be turned upright");
    const bool swaps = orientation >= 5;
    const int outW = swaps ? h : w;
    const int outH = swaps ? w : h;
    // The stored pixel that lands at (0, y) of the upright picture, and how far
    // the stored position moves for each step to the right.
    const auto sourceOf = [&](int y, int& sx, int& sy, int& dx, int& dy) {
        // One orientation a line, as a table.
        // clang-format off
        switch (orientation) {
        case 2: sx = w - 1; sy = y; dx = -1; dy = 0; break;
        case 3: sx = w - 1; sy = h - 1 - y; dx = -1; dy = 0; break;
        case 4: sx = 0; sy = h - 1 - y; dx = 1; dy = 0; break;
        case 5: sx = y; sy = 0; dx = 0; dy = 1; break;
        case 6: sx = y; sy = h - 1; dx = 0; dy = -1; break;
        case 7: sx = w - 1 - y; sy = h - 1; dx = 0; dy = -1; break;
        default: sx = w - 1 - y; sy = 0; dx = 0; dy = 1; break;  // 8
        }
        // clang-format on
    };

    TBitmap upright;
    upright.SetPixelFormat(format);
    if (HPALETTE palette = bitmap.GetPalette()) upright.SetPalette(palette);
    upright.SetSize(outW, outH);
    const ptrdiff_t bytes = format == TPixelFormat::pf24bit ? 3 : 1;
    const TBitmap& from = bitmap;
    const uint8_t* const first = from.GetScanline(0);
    const ptrdiff_t stride = h > 1 ? from.GetScanline(1) - first : 0;
    // In tiles: a quarter turn reads the stored picture down its columns, and
    // the rows of a tile then share the cache lines they read.
    constexpr int kTile = 64;
    for (int y0 = 0; y0 < outH; y0 += kTile)
        for (int x0 = 0; x0 < outW; x0 += kTile)
            for (int y = y0; y < std::min(y0 + kTile, outH); ++y) {
                int sx = 0, sy = 0, dx = 0, dy = 0;
                sourceOf(y, sx, sy, dx, dy);
                const ptrdiff_t step = dy * stride + dx * bytes;
                const uint8_t* p = first + sy * stride + sx * bytes + x0 * step;
                uint8_t* row = upright.GetScanline(y) + x0 * bytes;
                const int count = std::min(kTile, outW - x0);
                if (bytes == 3) {
                    for (int x = 0; x < count; ++x, p += step, row += 3) {
                        row[0] = p[0];
                        row[1] = p[1];
                        row[2] = p[2];
                    }
                } else {
                    for (int x = 0; x < count; ++x, p += step) row[x] = *p;
                }
            }
    bitmap.Assign(upright);
}

}  // namespace vmk
