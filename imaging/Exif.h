#pragma once

// What a JPEG file says about itself besides its pixels: the metadata markers
// a result keeps from its source, and the EXIF orientation that tells which
// way up a camera held the picture. Every byte here comes from the file and is
// untrusted: an offset that points outside its block reads as "no orientation".

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vmk {

class TBitmap;

// One marker segment as libjpeg saves it: the marker code (0xE1 for APP1,
// 0xFE for COM) and its payload without the length field.
struct TJPEGMarker {
    uint8_t Code = 0;
    std::vector<uint8_t> Data;
    bool operator==(const TJPEGMarker&) const = default;
};
using TJPEGMarkers = std::vector<TJPEGMarker>;

// Marker codes whose segments may hold something we keep (comments, APP1 EXIF
// and XMP, APP2 ICC profiles, APP13 IPTC).
inline constexpr uint8_t kKeptMarkerCodes[] = {0xFE, 0xE1, 0xE2, 0xED};

// True for a segment a re-encoded result keeps: EXIF, XMP (also extended XMP),
// ICC profile chunks, IPTC and comments. Anything else describes the old
// encoding (JFIF, Adobe, multi-picture offsets) or is unknown to us.
bool IsKeptMarker(uint8_t code, const uint8_t* data, size_t size);

// At most this many segments of the kept kinds are saved from one file.
inline constexpr size_t kMaxKeptSegments = 1024;

// False when a JPEG file holds more than kMaxKeptSegments segments of the kept
// marker codes before its first scan. Saving costs memory per segment, so a
// file of thousands of empty comments would cost far more than its size;
// such a file keeps no metadata at all (its orientation is read all the same,
// by FileOrientation).
bool FewEnoughSegments(const uint8_t* jpeg, size_t size);

// How the stored pixels are to be turned to stand upright, as EXIF numbers it.
enum class TOrientation : uint8_t {
    Normal = 1,
    MirrorH,
    Rotate180,
    MirrorV,
    Transpose,  // mirrored across the diagonal from the top left
    Rotate90,   // a quarter turn clockwise
    Transverse,
    Rotate270
};

// True for the orientations that swap width and height.
constexpr bool IsTurned(TOrientation o) { return o >= TOrientation::Transpose; }

// The orientation of the first EXIF segment among markers, or Normal when
// there is none or it cannot be read safely.
TOrientation ExifOrientation(const TJPEGMarkers& markers);
// The same for one APP1 payload ("Exif\0\0" and a TIFF block); nothing when
// absent or damaged. A SHORT is the standard; a LONG, as some writers store
// it, is read alike.
std::optional<TOrientation> ExifOrientationOf(const uint8_t* data, size_t size);
// The same for a whole JPEG file, straight from its bytes: for a file whose
// segments are too many to save.
TOrientation FileOrientation(const uint8_t* jpeg, size_t size);

// Sets the orientation value of the first EXIF segment to 1 when it holds a
// valid one (2 to 8); every other byte stays as it was.
void MarkUpright(TJPEGMarkers& markers);

// Makes an APP1 EXIF payload describe a result of width x height upright
// pixels: a valid orientation becomes 1, the pixel dimensions (where the
// block has them) become the result's, and the thumbnail directories go with
// the bytes only they used (an unstamped copy must not ride along). False when
// the block cannot be walked safely: it is then not to be kept at all.
bool FitExifToResult(std::vector<uint8_t>& payload, int width, int height);

// Turns a decoded picture (8, 24 or 32 bits, its alpha kept) stored in the given orientation
// upright.
void OrientUpright(TBitmap& bitmap, TOrientation orientation);

}  // namespace vmk
