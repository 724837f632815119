#pragma once

// One body for the fuzzers of the picture classes over codec libraries: any
// bytes either load into a picture whose every row can be read, or fail with
// a picture or stream error; what loads writes back (its corner, when large).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "imaging/ForeignImage.h"
#include "imaging/PngWrite.h"

namespace vmk::fuzzing {

// Larger pictures write back their top-left corner of this side: an encoder's
// cost grows with the picture (a lossless WebP of 256 x 256 takes tens of
// milliseconds under the sanitizers) and would set the pace, while the
// writer's own code (settings, metadata, alpha) runs alike for any size.
inline constexpr int kWriteBackSide = 64;

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
    const TPixelFormat format = bitmap.GetPixelFormat();
    const size_t bytes = format == TPixelFormat::pf32bit ? 4 : format == TPixelFormat::pf24bit ? 3 : 0;
    if (bytes == 0) return;  // the readers make 24- and 32-bit pictures only
    TBitmap corner;
    corner.SetPixelFormat(format);
    corner.SetSize(std::min(width, kWriteBackSide), std::min(height, kWriteBackSide));
    corner.SetAlphaChannel(bitmap.GetAlphaChannel());
    for (int y = 0; y < corner.Height(); ++y)
        std::memcpy(corner.GetScanline(y), bitmap.GetScanline(y), static_cast<size_t>(corner.Width()) * bytes);
    TMemoryStream out;
    if (!sameFormat) {
        WritePng(corner, image.GetMetadata(), out);
        return;
    }
    // A picture of the same class with the loaded one's metadata and settings.
    std::unique_ptr<TGraphic> copy = image.NewInstance();
    auto& writer = dynamic_cast<TForeignImage&>(*copy);
    writer.Assign(image);
    writer.Assign(corner);
    writer.SaveToStream(out);
}

}  // namespace vmk::fuzzing
