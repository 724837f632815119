#pragma once

// TIFF pictures over libtiff: the first page, any layout libtiff's RGBA
// reader knows (8- and 16-bit gray, RGB, RGBA, palette, CMYK, YCbCr; strips
// or tiles; every compression built in). Written as 8-bit RGB or RGBA with
// Deflate and the horizontal predictor. ICC and XMP travel as tags.

#include "imaging/ForeignImage.h"

namespace vmk {

class TTIFFImage : public TForeignImage {
public:
    std::unique_ptr<TGraphic> NewInstance() const override { return std::make_unique<TTIFFImage>(); }
    const char* ClassName() const override { return "TTIFFImage"; }

protected:
    bool Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) override;
    void Encode(const TBitmap& bitmap, TStream& out) override;
};

// libtiff speaks only through the handlers of each file; this silences its
// process-wide ones too, so that nothing is ever printed.
void SilenceTiffLibrary();

}  // namespace vmk
