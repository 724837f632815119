// The segments a result carries, made from hostile ones. The bytes are read as
// segments (a code, a 16-bit length, the payload); the first two bytes give
// the result's size. Also the walk over a whole file's segments.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/Metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vmk::FileOrientation(data, size);
    vmk::FewEnoughSegments(data, size);
    if (size < 2) return 0;
    const int width = data[0] * 300, height = data[1] * 300;
    vmk::TJPEGMarkers markers;
    for (size_t at = 2; at + 3 <= size;) {
        const size_t length = std::min(size_t{data[at + 1]} << 8 | data[at + 2], size - at - 3);
        // Mostly the codes we keep, so that the payloads reach their readers.
        static constexpr uint8_t kCodes[] = {0xE1, 0xE2, 0xED, 0xFE};
        markers.push_back({kCodes[data[at] % 4], std::vector<uint8_t>(data + at + 3, data + at + 3 + length)});
        at += 3 + length;
    }
    for (const bool gray : {false, true}) {
        const vmk::TJPEGMarkers result = vmk::ResultMarkers(markers, width, height, gray);
        if (result.size() > markers.size()) std::abort();
        // What a result says of its orientation is upright, or nothing at all.
        if (vmk::ExifOrientation(result) != vmk::TOrientation::Normal) std::abort();
        for (const vmk::TJPEGMarker& m : result)
            if (m.Data.size() > 65533) std::abort();  // still fits a segment
    }
    return 0;
}
