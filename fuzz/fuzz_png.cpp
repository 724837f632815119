// The PNG reader: any bytes either decode into a 32-bit bitmap of the size the
// header gave, every row readable, or fail with a picture or stream error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzInput.h"
#include "imaging/PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vmk::TMemoryStream stream;
    vmk::fuzzing::FillStream(stream, data, size);
    vmk::TBitmap bitmap;
    vmk::png::PngInfo info;
    try {
        info = vmk::png::ReadPng(stream, bitmap);
    } catch (const vmk::Exception&) {
        return 0;
    }
    if (bitmap.Width() != info.Width || bitmap.Height() != info.Height ||
        bitmap.GetPixelFormat() != vmk::TPixelFormat::pf32bit || bitmap.GetAlphaChannel() != info.HasAlpha)
        std::abort();
    for (int y = 0; y < bitmap.Height(); ++y) (void)bitmap.GetPixelColor(bitmap.Width() - 1, y);
    return 0;
}
