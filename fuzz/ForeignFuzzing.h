#pragma once

// One body for the fuzzers of the picture classes over codec libraries: any
// bytes either load into a picture whose every row can be read, or fail with
// a picture or stream error; what loads writes back.

#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "imaging/ForeignImage.h"
#include "imaging/PngWrite.h"

namespace vmk::fuzzing {

inline void LoadAndWriteBack(TForeignImage& image, const uint8_t* data, size_t size, bool sameFormat) {
    TMemoryStream stream;
    FillStream(stream, data, size);
    try {
        image.LoadFromStream(stream);
    } catch (const Exception&) {
        return;
    }
    TBitmap& bitmap = image.GetBitmap();
    const int width = bitmap.Width(), height = bitmap.Height();
    for (int y = 0; y < height; ++y) (void)bitmap.GetPixelColor(width - 1, y);
    // Small pictures only, to keep the pace up.
    if (static_cast<int64_t>(width) * height > 1 << 16) return;
    TMemoryStream out;
    if (sameFormat)
        image.SaveToStream(out);
    else
        WritePng(bitmap, image.GetMetadata(), out);
}

}  // namespace vmk::fuzzing
