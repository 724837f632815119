#pragma once

// PNG reading over libspng: every colour type, bit depth and interlace method
// becomes 32-bit BGRA rows, with the metadata chunks kept as they were.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Streams.h"
#include "imaging/Graphics.h"

namespace vmk {

class EPNG : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

namespace png {

// What a PNG file holds besides its pixels.
struct PngInfo {
    int Width = 0;
    int Height = 0;
    // An alpha channel or a tRNS chunk: some pixels may be see-through.
    bool HasAlpha = false;
    // Raw chunk data, empty when the file has none.
    std::vector<uint8_t> Exif;  // eXIf: a TIFF-structured EXIF block
    std::vector<uint8_t> Icc;   // iCCP, decompressed
    std::string IccName;        // iCCP's profile name
    std::string Xmp;            // the iTXt chunk "XML:com.adobe.xmp"
};

// Decodes a whole PNG held in memory into bitmap: pf32bit, blue, green, red,
// alpha bytes, its alpha flag set when HasAlpha (otherwise every fourth byte is
// 255). 16-bit samples are rounded to the nearest 8-bit value; gamma chunks are
// not applied. The size is checked against the memory bound before anything is
// allocated. Any failure throws EPNG saying what is wrong; bitmap is then left
// as it was.
PngInfo DecodePng(const uint8_t* data, size_t size, TBitmap& bitmap);

// Reads the stream from its position to its end and decodes it.
PngInfo ReadPng(TStream& stream, TBitmap& bitmap);

// Whether bytes start with the PNG signature.
bool IsPng(const uint8_t* data, size_t size);

}  // namespace png
}  // namespace vmk
