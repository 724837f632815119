#pragma once

// The fuzzer's bytes as the stream a picture or store is read from.

#include <cstddef>
#include <cstdint>

#include "core/Streams.h"

namespace vmk::fuzzing {

inline void FillStream(TMemoryStream& stream, const uint8_t* data, size_t size) {
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
}

}  // namespace vmk::fuzzing
