// JPEG load and decode from a file's bytes. The last byte also picks the decode
// options (a real file ends in 0xD9, its end-of-image marker).

#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "JpegFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vmk::TMemoryStream stream;
    vmk::fuzzing::FillStream(stream, data, size);
    vmk::TJPEGImage image;
    try {
        if (size > 0) vmk::fuzzing::ApplyOptions(image, data[size - 1]);
        image.LoadFromStream(stream);
        vmk::fuzzing::DecodeAndEncode(image);
    } catch (const vmk::Exception&) {
    }
    return 0;
}
