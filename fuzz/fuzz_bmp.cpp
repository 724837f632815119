// The BMP reader: any bytes either load into a bitmap whose every row can be
// read, or fail with a picture or stream error.

#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "imaging/Graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vmk::TMemoryStream stream;
    vmk::fuzzing::FillStream(stream, data, size);
    vmk::TBitmap bitmap;
    try {
        bitmap.LoadFromStream(stream);
    } catch (const vmk::Exception&) {
        return 0;
    }
    const int width = bitmap.Width(), height = bitmap.Height();
    if (width > 0)
        for (int y = 0; y < height; ++y) (void)bitmap.GetPixelColor(width - 1, y);
    // What was read must write back; small pictures only, to keep the pace up.
    if (static_cast<int64_t>(width) * height <= 1 << 16) {
        vmk::TMemoryStream out;
        bitmap.SaveToStream(out);
    }
    return 0;
}
