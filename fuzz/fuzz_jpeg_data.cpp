// JPEG pictures in their persisted form: a 4-byte little-endian length, then
// the file. Whatever follows the length's bytes picks the decode options.

#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "JpegFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vmk::TMemoryStream stream;
    vmk::fuzzing::FillStream(stream, data, size);
    vmk::TJPEGImage image;
    try {
        image.ReadData(stream);
        if (stream.GetPosition() < stream.GetSize()) {
            uint8_t bits = 0;
            stream.ReadBuffer(&bits, 1);
            vmk::fuzzing::ApplyOptions(image, bits);
        }
        vmk::fuzzing::DecodeAndEncode(image);
        // The persisted form must come back as it went in.
        vmk::TMemoryStream out;
        image.WriteData(out);
    } catch (const vmk::Exception&) {
    }
    return 0;
}
