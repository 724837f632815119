#pragma once

// What both JPEG fuzzers do with a picture once its bytes are in.

#include <cstdint>
#include <memory>
#include <string>

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

// A dot on each band, where the whole picture gets the same dot.
inline void MarkBand(TBitmap& band, int top) { band.GetCanvas().SetPixel(top % band.Width(), 0, RGBColor(255, 0, 0)); }

// How the band path ended: not taken, done with these bytes, or failed so.
struct BandedResult {
    bool taken = false;
    std::string failure;
    TMemoryStream bytes;
};

// The band path on a picture not yet decoded, marking each band.
inline void EncodeInBands(TJPEGImage& image, BandedResult& result) {
    TJPEGImage writer;
    writer.SetSaveQuality(75);
    try {
        result.taken = writer.TranscodeInBands(image, result.bytes, MarkBand);
    } catch (const Exception& e) {
        result.taken = true;
        result.failure = e.Message();
    }
}

// The band path must end as the whole picture does: the same failure, or the
// same bytes for the same marks. A difference stops the fuzzer.
inline void CheckAgainstWhole(const BandedResult& banded, TBitmap* whole, const std::string& wholeFailure) {
    if (!banded.taken) return;
    if (whole == nullptr) {
        if (banded.failure != wholeFailure) __builtin_trap();
        return;
    }
    if (!banded.failure.empty()) __builtin_trap();
    TBitmap marked;
    marked.Assign(*whole);
    for (int top = 0; top < marked.Height(); top += 16)
        marked.GetCanvas().SetPixel(top % marked.Width(), top, RGBColor(255, 0, 0));
    TJPEGImage writer;
    writer.Assign(marked);
    writer.SetSaveQuality(75);
    TMemoryStream out;
    writer.SaveToStream(out);
    if (out.Bytes() != banded.bytes.Bytes()) __builtin_trap();
}

// Encodes in bands, decodes whole, reads every row, checks the two paths agree,
// and encodes the result again.
inline void DecodeAndEncode(TJPEGImage& image) {
    if (static_cast<int64_t>(image.GetSharedData()->ImageWidth) * image.GetSharedData()->ImageHeight > kMaxFuzzPixels)
        return;
    BandedResult banded;
    EncodeInBands(image, banded);
    TBitmap* decoded = nullptr;
    try {
        decoded = &image.ToBitmap();
    } catch (const Exception& e) {
        CheckAgainstWhole(banded, nullptr, e.Message());
        throw;
    }
    TBitmap& bitmap = *decoded;
    const int width = bitmap.Width(), height = bitmap.Height();
    for (int y = 0; y < height; ++y) (void)bitmap.GetPixelColor(width - 1, y);
    CheckAgainstWhole(banded, &bitmap, "");
    if (width == 0 || height == 0 || static_cast<int64_t>(width) * height > (1 << 16)) return;
    TJPEGImage copy;
    copy.Assign(bitmap);
    copy.SetSaveQuality(static_cast<uint8_t>(height));
    TMemoryStream out;
    copy.SaveToStream(out);
}

}  // namespace vmk::fuzzing
