#include "imaging/PngImage.h"

#include "imaging/PngCodec.h"
#include "imaging/PngWrite.h"

namespace vmk {

bool TPNGImage::Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) {
    png::PngInfo info = png::DecodePng(data, size, bitmap);
    metadata.Exif = std::move(info.Exif);
    metadata.Icc = std::move(info.Icc);
    metadata.Xmp.assign(info.Xmp.begin(), info.Xmp.end());
    OrientUpright(bitmap, ExifBlockOrientation(metadata.Exif));
    MarkExifBlockUpright(metadata.Exif);
    if (!IsRgbProfile(metadata.Icc)) metadata.Icc.clear();
    return true;
}

void TPNGImage::Encode(const TBitmap& bitmap, TStream& out) { WritePng(bitmap, GetMetadata(), out); }

}  // namespace vmk
