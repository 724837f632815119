#pragma once

// What both JPEG fuzzers do with a picture once its bytes are in.

#include <cstdint>
#include <memory>

#include "imaging/Jpeg.h"

namespace vmk::fuzzing {

// Decoding a picture of many millions of pixels from a few bytes is legal and
// takes seconds; the size bound has its own tests, so the fuzzers skip those.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 18;

// Decode options from one byte, so the fuzzer also explores the option space.
inline void ApplyOptions(TJPEGImage& image, uint8_t bits) {
    image.SetGrayOnly((bits & 0x01) != 0);
    image.SetOutputDepth((bits & 0x02) != 0 ? TJPEGOutputDepth::Depth8 : TJPEGOutputDepth::Depth24);
    image.SetShowPasses((bits & 0x04) != 0);
    image.SetDecodeSpeed((bits & 0x08) != 0 ? TJPEGDecodeSpeed::FavourSpeed : TJPEGDecodeSpeed::FavourQuality);
    image.SetReduceBy(static_cast<TJPEGReduceBy>((bits >> 4) & 0x03));
    image.SetBlockSmoothing((bits & 0x40) == 0);
    if ((bits & 0x80) != 0) {
        auto palette = std::make_shared<TLogPalette>();
        for (int i = 0; i < 16; ++i) {
            const auto v = static_cast<uint8_t>(i * 17);
            palette->Entries.push_back(TPaletteEntry{v, static_cast<uint8_t>(255 - v), v, 0});
        }
        image.SetPalette(palette);
    }
}

// Decodes, reads every row, and encodes the result again.
inline void DecodeAndEncode(TJPEGImage& image) {
    if (static_cast<int64_t>(image.GetSharedData()->ImageWidth) * image.GetSharedData()->ImageHeight > kMaxFuzzPixels)
        return;
    TBitmap& bitmap = image.ToBitmap();
    const int width = bitmap.Width(), height = bitmap.Height();
    for (int y = 0; y < height; ++y) (void)bitmap.GetPixelColor(width - 1, y);
    if (width == 0 || height == 0 || static_cast<int64_t>(width) * height > (1 << 16)) return;
    TJPEGImage copy;
    copy.Assign(bitmap);
    copy.SetSaveQuality(static_cast<uint8_t>(height));
    TMemoryStream out;
    copy.SaveToStream(out);
}

}  // namespace vmk::fuzzing
