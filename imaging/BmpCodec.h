#pragma once

// Windows BMP reading and writing for TBitmap.

#include "core/Streams.h"
#include "imaging/Raster.h"

namespace vmk::bmp {

// Reads one BMP file from the stream's current position into raster. Every
// header version (OS/2 1.x and 2.x, Windows 3 to 5), 1, 2, 4, 8, 16, 24 and 32
// bits, RLE4, RLE8 and bit fields. A file that cannot be read safely is refused
// with EInvalidGraphic saying why; raster is then left as it was.
void ReadBmp(TStream& stream, detail::Raster& raster);

// Writes raster bottom-up with a 40-byte header in its own pixel format: palette
// formats with their palette, pf15bit as plain 16-bit, pf16bit with 5-6-5 bit fields,
// pf32bit with alpha under a version 5 header with an alpha mask, without alpha
// with its unused fourth byte 0.
void WriteBmp(TStream& stream, const detail::Raster& raster);

}  // namespace vmk::bmp
