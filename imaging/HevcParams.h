#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vmk {

// The coded picture size an HEVC sequence parameter set declares: what the
// decoder allocates for, whatever the file's size boxes say.
struct THevcCodedSize {
    int64_t Width = 0;
    int64_t Height = 0;
};

// Reads the sizes of every sequence parameter set held in every 'hvcC'
// property of a HEIF file ('meta' > 'iprp' > 'ipco'); tiles of a grid each
// have their own. Throws std::runtime_error saying what is damaged when a
// box, a configuration record or a parameter set cannot be read.
std::vector<THevcCodedSize> HevcCodedSizes(const uint8_t* data, size_t size);

// The output sizes of every 'grid' item: the picture libheif allocates for
// the whole grid, whatever the grid's size box says. Throws std::runtime_error
// when the item boxes cannot be read.
std::vector<THevcCodedSize> HeifGridSizes(const uint8_t* data, size_t size);

// One configuration record (the payload of an 'hvcC' box).
std::vector<THevcCodedSize> HevcConfigCodedSizes(const uint8_t* record, size_t size);

// One sequence parameter set NAL unit, with its two header bytes.
THevcCodedSize HevcSpsCodedSize(const uint8_t* nal, size_t size);

// The largest frame each AV1 sequence header in a stream of OBUs allows
// (max_frame_width and max_frame_height): what the AV1 decoder may allocate
// for, whatever the file's size boxes say. The walk stops at the first frame.
// Throws std::runtime_error when an OBU or a sequence header cannot be read.
std::vector<THevcCodedSize> Av1SequenceSizes(const uint8_t* obus, size_t size);

// The same for an AVIF file: the configuration OBUs of every 'av1C' property
// and the start of every 'av01' item's data (which the decoder reads too).
std::vector<THevcCodedSize> Av1CodedSizes(const uint8_t* data, size_t size);

}  // namespace vmk
