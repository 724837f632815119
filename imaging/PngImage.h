#pragma once

// PNG pictures: read by the libspng decoder of PngCodec, written by PngWrite.
// The eXIf orientation is applied; EXIF, ICC and XMP travel with the picture.

#include "imaging/ForeignImage.h"

namespace vmk {

class TPNGImage : public TForeignImage {
public:
    std::unique_ptr<TGraphic> NewInstance() const override { return std::make_unique<TPNGImage>(); }
    const char* ClassName() const override { return "TPNGImage"; }

protected:
    bool Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) override;
    void Encode(const TBitmap& bitmap, TStream& out) override;
};

}  // namespace vmk
