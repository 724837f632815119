#pragma once

// What the picture classes over other codec libraries share (WebP, TIFF,
// HEIF): loading probes the header, checks the size and decodes into a bitmap
// that is kept; saving encodes the bitmap held. The metadata a result keeps
// travels as named blobs.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/Exif.h"
#include "imaging/Graphics.h"

namespace vmk {

// The metadata a result carries from its source, each blob as its format's
// own chunk holds it.
struct TPictureMetadata {
    std::vector<uint8_t> Exif;  // a TIFF block ("II*\0" or "MM\0*"), no "Exif\0\0" before it
    std::vector<uint8_t> Icc;   // an ICC profile
    std::vector<uint8_t> Xmp;   // an XMP packet
    bool operator==(const TPictureMetadata&) const = default;
};

// The JPEG segments for a picture's metadata, and back: the composing steps
// hand metadata around as JPEG markers, whatever the formats.
TJPEGMarkers MarkersFromMetadata(const TPictureMetadata& metadata);
TPictureMetadata MetadataFromMarkers(const TJPEGMarkers& markers);

// The EXIF orientation of a TIFF block (1 to 8), 1 when there is none or it
// cannot be read safely; and the block with its orientation set to 1.
TOrientation ExifBlockOrientation(const std::vector<uint8_t>& exif);
void MarkExifBlockUpright(std::vector<uint8_t>& exif);

// An ICC profile an RGB result may carry: a well-formed header for RGB. A
// CMYK or gray source's profile would misdescribe the result's pixels.
bool IsRgbProfile(const std::vector<uint8_t>& icc);

// Refuses a picture before anything is allocated, with "<format> image too
// large to load: W x H pixels": beyond kMaxPixels, or when its raster
// (bytesPerPixel a pixel) plus codecBytes would pass kMaxPictureBytes.
void CheckPictureSize(const char* format, int64_t width, int64_t height, int bytesPerPixel = 4, int64_t codecBytes = 0);

// A bitmap sized for a decoder to write into: 24-bit blue, green, red, or
// 32-bit with alpha.
void PrepareBitmap(TBitmap& bitmap, int width, int height, bool alpha);

// The orientation an EXIF or TIFF number names; Normal for any other number.
TOrientation OrientationOf(unsigned number);

class TForeignImage : public TGraphic {
public:
    TForeignImage();
    ~TForeignImage() override;

    // A bitmap is taken as it is (its raster shared); another picture of this
    // class with its metadata and settings.
    void Assign(TGraphic& source) override;
    void AssignTo(TGraphic& destination) override;

    bool GetEmpty() const override;
    int GetWidth() const override;
    int GetHeight() const override;
    // Always refused: a loaded picture keeps its size.
    void SetWidth(int width) override;
    void SetHeight(int height) override;

    // Reads the whole stream, then decodes it; a failure leaves the picture as it was.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    void Draw(TCanvas& canvas, const TRect& rect) override;

    // The upright picture.
    TBitmap& GetBitmap() { return *bitmap_; }
    const TPictureMetadata& GetMetadata() const { return metadata_; }
    void SetMetadata(TPictureMetadata metadata) { metadata_ = std::move(metadata); }
    // 1 to 100; used by the lossy encoders.
    uint8_t GetQuality() const { return quality_; }
    void SetQuality(uint8_t value) { quality_ = value; }
    // The file loaded was lossless; a save is lossless when set.
    bool GetLossless() const { return lossless_; }
    void SetLossless(bool value) { lossless_ = value; }

protected:
    // Decodes one whole file into bitmap (upright) and metadata (EXIF marked
    // upright); true when the file was lossless. Throws on any failure.
    virtual bool Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) = 0;
    virtual void Encode(const TBitmap& bitmap, TStream& out) = 0;
    // Anything else a subclass keeps from its file.
    virtual void CopySettings(const TForeignImage& from);

private:
    std::shared_ptr<TBitmap> bitmap_;
    TPictureMetadata metadata_;
    uint8_t quality_ = 90;
    bool lossless_ = false;
};

}  // namespace vmk
