#pragma once

// WebP pictures over libwebp: lossy, lossless and alpha; an animation gives
// its first frame. EXIF, ICC and XMP travel in the file's own chunks.

#include <string>

#include "imaging/ForeignImage.h"

namespace vmk {

class TWebPImage : public TForeignImage {
public:
    std::unique_ptr<TGraphic> NewInstance() const override { return std::make_unique<TWebPImage>(); }
    const char* ClassName() const override { return "TWebPImage"; }

protected:
    bool Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) override;
    // Lossless when GetLossless(), else lossy at GetQuality(); alpha when the
    // bitmap holds it.
    void Encode(const TBitmap& bitmap, TStream& out) override;
};

// Whether the WebP file at path holds a lossless picture (its first image
// chunk is VP8L), read from its chunk headers alone; false when it cannot tell.
bool WebPFileIsLossless(const std::string& path);

}  // namespace vmk
