#pragma once

// EXIF between TIFF files and EXIF blocks. A TIFF file keeps its EXIF in its
// own first directory (camera, date, orientation...) and in the EXIF and GPS
// directories that one points to; an EXIF block (a JPEG APP1, PNG eXIf, WebP
// EXIF chunk) is a small TIFF structure of the same directories. Every byte
// read here is untrusted: entries that point outside their bytes are left out.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vmk {

// One directory entry, its value as the bytes it holds in its byte order.
struct TExifEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    std::vector<uint8_t> Value;
};

// The EXIF a picture carries: the first directory's descriptive entries, and
// the EXIF and GPS directories.
struct TExifTree {
    bool BigEndian = false;
    std::vector<TExifEntry> Main, Exif, Gps;
    bool Empty() const { return Main.empty() && Exif.empty() && Gps.empty(); }
};

// The EXIF of a TIFF file or of an EXIF block (both start "II*\0" or "MM\0*"):
// of the first directory only the entries that describe the picture rather
// than its layout (those an EXIF block may hold, Orientation among them).
// Empty when the bytes are not a TIFF structure.
TExifTree ReadExifTree(const uint8_t* data, size_t size);

// An EXIF block holding tree; empty when the tree is empty.
std::vector<uint8_t> ExifBlockOf(const TExifTree& tree);

// Numbers of an entry in its byte order (value index i); 0 past its end.
uint32_t ExifEntryNumber(const TExifEntry& entry, bool bigEndian, size_t i = 0);

}  // namespace vmk
