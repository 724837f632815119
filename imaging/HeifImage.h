#pragma once

// HEIF pictures over libheif: HEIC (HEVC) and AVIF (AV1). The primary image,
// with its rotation, mirroring and crop applied. EXIF, XMP and ICC travel as
// the file's metadata items and colour profile.

#include "imaging/ForeignImage.h"

namespace vmk {

enum class THEIFCompression { Hevc, Av1 };

class THEIFImage : public TForeignImage {
public:
    explicit THEIFImage(THEIFCompression compression = THEIFCompression::Hevc) : compression_(compression) {}
    std::unique_ptr<TGraphic> NewInstance() const override { return std::make_unique<THEIFImage>(compression_); }
    const char* ClassName() const override { return "THEIFImage"; }

    // What a save writes: HEIC or AVIF. Loading sets it from the file.
    THEIFCompression GetCompression() const { return compression_; }
    void SetCompression(THEIFCompression value) { compression_ = value; }

protected:
    bool Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) override;
    void Encode(const TBitmap& bitmap, TStream& out) override;
    void CopySettings(const TForeignImage& from) override;

private:
    THEIFCompression compression_;
};

}  // namespace vmk
