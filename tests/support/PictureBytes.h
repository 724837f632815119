#pragma once

// Picture files written byte by byte, as cameras and other programs write
// them, independently of the code under test.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Exif.h"

namespace vmk::test {

inline void Put(std::vector<uint8_t>& b, uint32_t v, int bytes, bool bigEndian = false) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> 8 * (bigEndian ? bytes - 1 - i : i)));
}

// An APP1 EXIF payload: IFD0 with Make (its text after the directory) and
// Orientation, whose value lies at kOrientationAt.
constexpr size_t kOrientationAt = 36;
inline std::vector<uint8_t> ExifPayload(int orientation, bool bigEndian) {
    std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0, uint8_t(bigEndian ? 'M' : 'I'), uint8_t(bigEndian ? 'M' : 'I')};
    const uint32_t fields[][2] = {{42, 2},
                                  {8, 4},
                                  {2, 2},
                                  {0x010F, 2},
                                  {2, 2},
                                  {6, 4},
                                  {38, 4},
                                  {0x0112, 2},
                                  {3, 2},
                                  {1, 4},
                                  {uint32_t(orientation), 2},
                                  {0, 2},
                                  {0, 4}};
    for (const auto& f : fields) Put(b, f[0], static_cast<int>(f[1]), bigEndian);
    for (char c : std::string("Phone")) b.push_back(static_cast<uint8_t>(c));
    b.push_back(0);
    return b;
}

// An APP1 EXIF payload as a camera writes it: IFD0 (Make, Orientation of the
// given TIFF type, the Exif IFD's offset), the Exif IFD with the pixel
// dimensions (a SHORT and a LONG), then IFD1 for the JPEG thumbnail stored at
// the end. The thumbnail starts at kThumbnailAt of the TIFF block.
constexpr size_t kThumbnailAt = 128;
inline std::vector<uint8_t> CameraExif(uint32_t orientation, uint16_t orientationType, uint32_t pixelWidth,
                                       uint32_t pixelHeight, const std::vector<uint8_t>& thumbnail, bool bigEndian) {
    std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0, uint8_t(bigEndian ? 'M' : 'I'), uint8_t(bigEndian ? 'M' : 'I')};
    const auto put = [&](uint32_t v, int bytes) { Put(b, v, bytes, bigEndian); };
    // A value of one SHORT is left-justified in its four bytes.
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put(tag, 2);
        put(type, 2);
        put(count, 4);
        if (type == 3 && count == 1) {
            put(value, 2);
            put(0, 2);
        } else {
            put(value, 4);
        }
    };
    put(42, 2);
    put(8, 4);
    put(3, 2);  // IFD0 at 8
    entry(0x010F, 2, 6, 50);
    entry(0x0112, orientationType, 1, orientation);
    entry(0x8769, 4, 1, 56);
    put(86, 4);
    for (char c : std::string("Phone")) b.push_back(static_cast<uint8_t>(c));
    b.push_back(0);
    put(2, 2);  // the Exif IFD at 56
    entry(0xA002, 3, 1, pixelWidth);
    entry(0xA003, 4, 1, pixelHeight);
    put(0, 4);
    put(3, 2);  // IFD1 at 86
    entry(0x0103, 3, 1, 6);
    entry(0x0201, 4, 1, kThumbnailAt);
    entry(0x0202, 4, 1, static_cast<uint32_t>(thumbnail.size()));
    put(0, 4);
    b.insert(b.end(), thumbnail.begin(), thumbnail.end());
    return b;
}

// An APP13 "Photoshop 3.0" payload of 8BIM resources (id and data; no names).
inline std::vector<uint8_t> PhotoshopBlock(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& resources) {
    std::vector<uint8_t> b = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
    for (const auto& [id, data] : resources) {
        b.insert(b.end(), {'8', 'B', 'I', 'M'});
        Put(b, id, 2, true);
        Put(b, 0, 2);  // an empty name, padded to even
        Put(b, static_cast<uint32_t>(data.size()), 4, true);
        b.insert(b.end(), data.begin(), data.end());
        if (data.size() % 2 != 0) b.push_back(0);
    }
    return b;
}

// The JPEG file with the segments put right after its start-of-image marker.
inline std::vector<uint8_t> WithSegments(const std::vector<uint8_t>& jpeg, const TJPEGMarkers& segments) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    for (const TJPEGMarker& m : segments) {
        out.insert(out.end(), {0xFF, m.Code});
        Put(out, static_cast<uint32_t>(m.Data.size() + 2), 2, true);
        out.insert(out.end(), m.Data.begin(), m.Data.end());
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// A 32-bit BMP of 8 x 6: a version 5 header with an alpha mask, or a plain
// header with the fourth byte as it is.
inline std::vector<uint8_t> Bmp32(bool v5, const std::function<uint8_t(int x, int y)>& alpha) {
    std::vector<uint8_t> b = {'B', 'M'};
    const uint32_t info = v5 ? 124 : 40, pixels = 8 * 6 * 4;
    for (uint32_t v :
         {14 + info + pixels, 0u, 14 + info, info, 8u, 6u, 0x200001u, v5 ? 3u : 0u, pixels, 0u, 0u, 0u, 0u})
        Put(b, v, 4);
    if (v5) {
        for (uint32_t v : {0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u, 0x73524742u}) Put(b, v, 4);
        b.resize(b.size() + 64, 0);
    }
    for (int y = 5; y >= 0; --y)
        for (int x = 0; x < 8; ++x) b.insert(b.end(), {uint8_t(x * 30), uint8_t(y * 40), 200, alpha(x, y)});
    return b;
}

}  // namespace vmk::test
