#pragma once

// PNG results over libspng's encoder: 8-bit RGB, or RGBA when the picture
// holds alpha; EXIF as eXIf, an RGB profile as iCCP, XMP as iTXt.

#include "core/Streams.h"
#include "imaging/ForeignImage.h"

namespace vmk {

// The zlib level of every PNG we write: see PngWrite.cpp for why.
inline constexpr int kPngCompressionLevel = 2;

void WritePng(const TBitmap& bitmap, const TPictureMetadata& metadata, TStream& out);

}  // namespace vmk
