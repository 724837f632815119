// The HEIF reader: any bytes load or fail with a picture error; what loads
// writes back as PNG (the HEVC and AV1 encoders are far too slow for fuzzing).

#include <cstddef>
#include <cstdint>

#include "ForeignFuzzing.h"
#include "imaging/HeifImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vmk::THEIFImage image;
    vmk::fuzzing::LoadAndWriteBack(image, data, size, false);
    return 0;
}
