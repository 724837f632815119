// The TIFF reader (first page): any bytes load or fail with a picture error;
// what loads writes back.

#include <cstddef>
#include <cstdint>

#include "ForeignFuzzing.h"
#include "imaging/TiffImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vmk::TTIFFImage image;
    vmk::fuzzing::LoadAndWriteBack(image, data, size, true);
    return 0;
}
