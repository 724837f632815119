#pragma once

// Picture files written byte by byte, as other programs write them: EXIF
// blocks, JPEG segments, 32-bit BMP headers. Independent of the code under test.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Exif.h"

namespace vmk::test {

inline void Put(std::vector<uint8_t>& b, uint32_t v, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> 8 * (bigEndian ? bytes - 1 - i : i)));
}

// An APP1 EXIF payload as cameras write it: IFD0 with Make (its text after the
// directory) and Orientation.
inline std::vector<uint8_t> ExifPayload(int orientation, bool bigEndian) {
    std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0};
    b.push_back(bigEndian ? 'M' : 'I');
    b.push_back(b.back());
    Put(b, 42, 2, bigEndian);
    Put(b, 8, 4, bigEndian);
    Put(b, 2, 2, bigEndian);
    for (uint32_t v : {0x010Fu, 2u, 6u, 38u}) Put(b, v, v == 0x010F || v == 2 ? 2 : 4, bigEndian);
    for (uint32_t v : {0x0112u, 3u, 1u}) Put(b, v, v == 1 ? 4 : 2, bigEndian);
    Put(b, static_cast<uint32_t>(orientation), 2, bigEndian);
    Put(b, 0, 2, bigEndian);
    Put(b, 0, 4, bigEndian);  // no next directory
    for (char c : std::string("Phone")) b.push_back(static_cast<uint8_t>(c));
    b.push_back(0);
    return b;
}

inline TJPEGMarker Segment(uint8_t code, const std::string& text, size_t filler = 0) {
    TJPEGMarker m{code, std::vector<uint8_t>(text.begin(), text.end())};
    for (size_t i = 0; i < filler; ++i) m.Data.push_back(static_cast<uint8_t>(i * 7));
    return m;
}

// The file with the segments put right after its start-of-image marker.
inline std::vector<uint8_t> WithSegments(const std::vector<uint8_t>& jpeg, const TJPEGMarkers& segments) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    for (const TJPEGMarker& m : segments) {
        out.push_back(0xFF);
        out.push_back(m.Code);
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
    for (uint32_t v : {14 + info + pixels, 0u, 14 + info, info, 8u, 6u}) Put(b, v, 4, false);
    Put(b, 1, 2, false);
    Put(b, 32, 2, false);
    for (uint32_t v : {v5 ? 3u : 0u, pixels, 2835u, 2835u, 0u, 0u}) Put(b, v, 4, false);
    if (v5) {
        for (uint32_t v : {0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u, 0x73524742u}) Put(b, v, 4, false);
        b.resize(b.size() + 48 + 16, 0);
    }
    for (int y = 5; y >= 0; --y)
        for (int x = 0; x < 8; ++x)
            for (uint8_t v : {uint8_t(x * 30), uint8_t(y * 40), uint8_t(200), alpha(x, y)}) b.push_back(v);
    return b;
}

}  // namespace vmk::test
