#include "imaging/Exif.h"

#include <algorithm>
#include <cstring>

#include "imaging/Graphics.h"

namespace vmk {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
constexpr uint16_t kLongType = 4;
constexpr uint16_t kIfdType = 13;
constexpr size_t kExifHeader = 6;  // "Exif\0\0"
constexpr size_t kEntrySize = 12;

bool StartsWith(const uint8_t* data, size_t size, const char* prefix, size_t prefixSize) {
    return size >= prefixSize && std::memcmp(data, prefix, prefixSize) == 0;
}

bool IsExif(const uint8_t* data, size_t size) { return StartsWith(data, size, "Exif\0\0", kExifHeader); }

// A byte range of a TIFF block, [begin, end).
struct TRange {
    uint64_t begin = 0;
    uint64_t end = 0;
};

// The TIFF block of an APP1 EXIF payload. Every read is checked against the
// block by its caller through Fits; offsets are 64-bit so none wraps round.
class TTiffBlock {
public:
    TTiffBlock(uint8_t* data, size_t size) {
        if (data == nullptr || !IsExif(data, size) || size - kExifHeader < 8) return;
        tiff_ = data + kExifHeader;
        size_ = size - kExifHeader;
        if (tiff_[0] == 'I' && tiff_[1] == 'I')
            bigEndian_ = false;
        else if (tiff_[0] == 'M' && tiff_[1] == 'M')
            bigEndian_ = true;
        else
            return;
        valid_ = U16(2) == 42;
    }

    bool Valid() const { return valid_; }
    uint64_t Size() const { return size_; }
    uint8_t* Bytes() const { return tiff_; }
    bool Fits(uint64_t at, uint64_t length) const { return at <= size_ && length <= size_ - at; }

    uint16_t U16(uint64_t at) const {
        const uint8_t* p = tiff_ + at;
        return bigEndian_ ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    uint32_t U32(uint64_t at) const {
        const uint8_t* p = tiff_ + at;
        return bigEndian_ ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                          : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
    void Put(uint64_t at, uint32_t value, int bytes) const {
        for (int i = 0; i < bytes; ++i)
            tiff_[at + static_cast<uint64_t>(i)] = static_cast<uint8_t>(value >> 8 * (bigEndian_ ? bytes - 1 - i : i));
    }

    // The number of entries of the directory at offset, or nothing when the
    // directory and its next-directory offset do not lie within the block.
    std::optional<uint64_t> Entries(uint64_t ifd) const {
        if (ifd < 8 || !Fits(ifd, 2)) return std::nullopt;
        const uint64_t count = U16(ifd);
        if (!Fits(ifd + 2, count * kEntrySize + 4)) return std::nullopt;
        return count;
    }
    static uint64_t Entry(uint64_t ifd, uint64_t i) { return ifd + 2 + i * kEntrySize; }

    // The value of a one-value SHORT or LONG entry (also a LONG-sized directory
    // offset); nothing for any other form.
    std::optional<uint32_t> Number(uint64_t entry) const {
        const uint16_t type = U16(entry + 2);
        if (U32(entry + 4) != 1) return std::nullopt;
        if (type == kShortType) return U16(entry + 8);
        if (type == kLongType || type == kIfdType) return U32(entry + 8);
        return std::nullopt;
    }
    // Writes a one-value SHORT or LONG entry's value, as Number read it.
    void SetNumber(uint64_t entry, uint32_t value) const {
        if (U16(entry + 2) == kShortType)
            Put(entry + 8, value, 2);
        else
            Put(entry + 8, value, 4);
    }

    // Where an entry's values lie outside the entry itself, if they do.
    std::optional<TRange> OutOfLine(uint64_t entry) const {
        static constexpr uint8_t kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        const uint16_t type = U16(entry + 2);
        if (type >= std::size(kTypeSize) || kTypeSize[type] == 0) return std::nullopt;
        const uint64_t length = uint64_t{U32(entry + 4)} * kTypeSize[type];
        if (length <= 4) return std::nullopt;
        const uint64_t at = U32(entry + 8);
        return TRange{at, at + length};
    }

private:
    uint8_t* tiff_ = nullptr;
    uint64_t size_ = 0;
    bool bigEndian_ = false;
    bool valid_ = false;
};

// The entry of a tag in a directory already checked by Entries.
std::optional<uint64_t> FindTag(const TTiffBlock& tiff, uint64_t ifd, uint64_t count, uint16_t tag) {
    for (uint64_t i = 0; i < count; ++i)
        if (tiff.U16(TTiffBlock::Entry(ifd, i)) == tag) return TTiffBlock::Entry(ifd, i);
    return std::nullopt;
}

// The first directory of the block, checked; nothing when damaged.
std::optional<uint64_t> FirstDirectory(const TTiffBlock& tiff) {
    if (!tiff.Valid()) return std::nullopt;
    const uint64_t ifd = tiff.U32(4);
    if (!tiff.Entries(ifd)) return std::nullopt;
    return ifd;
}

// The orientation entry of the main picture (in IFD0) when its value is one
// the pixels are turned by.
std::optional<uint64_t> OrientationEntry(const TTiffBlock& tiff) {
    const std::optional<uint64_t> ifd = FirstDirectory(tiff);
    if (!ifd) return std::nullopt;
    const std::optional<uint64_t> entry = FindTag(tiff, *ifd, *tiff.Entries(*ifd), kOrientationTag);
    if (!entry) return std::nullopt;
    const uint16_t type = tiff.U16(*entry + 2);
    if (type != kShortType && type != kLongType) return std::nullopt;
    const std::optional<uint32_t> value = tiff.Number(*entry);
    if (!value || *value < 1 || *value > 8) return std::nullopt;
    return entry;
}

const TJPEGMarker* FirstExif(const TJPEGMarkers& markers) {
    for (const TJPEGMarker& m : markers)
        if (m.Code == 0xE1 && IsExif(m.Data.data(), m.Data.size())) return &m;
    return nullptr;
}

// Calls segment(code, payload, size) for each marker segment before the first
// scan, in file order, while it returns true. Stops at anything that is not a
// well-formed whole segment.
template <typename Segment>
void ForEachSegment(const uint8_t* jpeg, size_t size, Segment segment) {
    size_t at = 2;  // after the start-of-image marker
    while (at + 4 <= size && jpeg[at] == 0xFF) {
        const uint8_t code = jpeg[at + 1];
        if (code == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (code == 0xDA || code == 0xD9) break;               // the scan or the end: libjpeg saves nothing beyond
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD8)) {  // markers without a length
            at += 2;
            continue;
        }
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        // A segment cut short by the end of the file ends the walk, as it ends libjpeg's reading.
        if (length < 2 || length > size - (at + 2)) break;
        if (!segment(code, jpeg + at + 4, length - 2)) break;
        at += 2 + length;
    }
}

}  // namespace

bool IsKeptMarker(uint8_t code, const uint8_t* data, size_t size) {
    static const char xmp[] = "http://ns.adobe.com/xap/1.0/";
    static const char xmpExtension[] = "http://ns.adobe.com/xmp/extension/";
    static const char icc[] = "ICC_PROFILE";
    static const char iptc[] = "Photoshop 3.0";
    switch (code) {
    case 0xFE: return true;
    case 0xE1:  // the terminating zero of each name belongs to the signature
        return IsExif(data, size) || StartsWith(data, size, xmp, sizeof xmp) ||
               StartsWith(data, size, xmpExtension, sizeof xmpExtension);
    case 0xE2: return StartsWith(data, size, icc, sizeof icc);
    case 0xED: return StartsWith(data, size, iptc, sizeof iptc);
    default: return false;
    }
}

bool FewEnoughSegments(const uint8_t* jpeg, size_t size) {
    size_t count = 0;
    ForEachSegment(jpeg, size, [&](uint8_t code, const uint8_t*, size_t) {
        for (const uint8_t kept : kKeptMarkerCodes)
            if (code == kept) ++count;
        return count <= kMaxKeptSegments;
    });
    return count <= kMaxKeptSegments;
}

std::optional<TOrientation> ExifOrientationOf(const uint8_t* data, size_t size) {
    // Only read through the pointer; the block serves the writers too.
    const TTiffBlock tiff(const_cast<uint8_t*>(data), size);
    const std::optional<uint64_t> entry = OrientationEntry(tiff);
    if (!entry) return std::nullopt;
    return static_cast<TOrientation>(*tiff.Number(*entry));
}

TOrientation ExifOrientation(const TJPEGMarkers& markers) {
    const TJPEGMarker* exif = FirstExif(markers);
    if (exif == nullptr) return TOrientation::Normal;
    return ExifOrientationOf(exif->Data.data(), exif->Data.size()).value_or(TOrientation::Normal);
}

TOrientation FileOrientation(const uint8_t* jpeg, size_t size) {
    TOrientation orientation = TOrientation::Normal;
    ForEachSegment(jpeg, size, [&](uint8_t code, const uint8_t* data, size_t length) {
        if (code != 0xE1 || !IsExif(data, length)) return true;
        orientation = ExifOrientationOf(data, length).value_or(TOrientation::Normal);
        return false;
    });
    return orientation;
}

void MarkUpright(TJPEGMarkers& markers) {
    for (TJPEGMarker& m : markers) {
        if (m.Code != 0xE1 || !IsExif(m.Data.data(), m.Data.size())) continue;
        // The same segment the orientation was read from, and only a value we
        // turned the pixels by: a damaged one stays as the file had it.
        const TTiffBlock tiff(m.Data.data(), m.Data.size());
        if (const std::optional<uint64_t> entry = OrientationEntry(tiff)) tiff.SetNumber(*entry, 1);
        return;
    }
}

bool FitExifToResult(std::vector<uint8_t>& payload, int width, int height) {
    const TTiffBlock tiff(payload.data(), payload.size());
    const std::optional<uint64_t> ifd0 = FirstDirectory(tiff);
    // Without a readable first directory nobody can vouch for what the block holds.
    if (!ifd0) return false;
    if (const std::optional<uint64_t> entry = OrientationEntry(tiff)) tiff.SetNumber(*entry, 1);

    // The bytes the main picture's directories use: IFD0, the Exif, GPS and
    // interoperability directories, and their values stored outside them.
    std::vector<TRange> used = {{0, 8}};
    const auto useDirectory = [&](uint64_t ifd, uint64_t count, std::vector<TRange>& into) {
        into.push_back({ifd, TTiffBlock::Entry(ifd, count) + 4});
        for (uint64_t i = 0; i < count; ++i)
            if (const std::optional<TRange> values = tiff.OutOfLine(TTiffBlock::Entry(ifd, i))) into.push_back(*values);
    };
    const auto subDirectory = [&](uint64_t ifd, uint64_t count, uint16_t tag) -> std::optional<uint64_t> {
        const std::optional<uint64_t> entry = FindTag(tiff, ifd, count, tag);
        if (!entry) return std::nullopt;
        const std::optional<uint32_t> at = tiff.Number(*entry);
        // A directory may not point back into the one that names it.
        if (!at || *at == ifd || !tiff.Entries(*at)) return std::nullopt;
        return *at;
    };
    const uint64_t count0 = *tiff.Entries(*ifd0);
    useDirectory(*ifd0, count0, used);
    if (const std::optional<uint64_t> exif = subDirectory(*ifd0, count0, 0x8769)) {
        const uint64_t count = *tiff.Entries(*exif);
        useDirectory(*exif, count, used);
        // The pixel dimensions, where the block has them as one SHORT or LONG.
        for (const auto& [tag, value] : {std::pair{uint16_t{0xA002}, width}, std::pair{uint16_t{0xA003}, height}}) {
            const std::optional<uint64_t> entry = FindTag(tiff, *exif, count, tag);
            if (entry && tiff.Number(*entry) && tiff.U16(*entry + 2) != kIfdType &&
                (tiff.U16(*entry + 2) == kLongType || value <= 0xFFFF))
                tiff.SetNumber(*entry, static_cast<uint32_t>(value));
        }
        if (const std::optional<uint64_t> interop = subDirectory(*exif, count, 0xA005))
            useDirectory(*interop, *tiff.Entries(*interop), used);
    }
    if (const std::optional<uint64_t> gps = subDirectory(*ifd0, count0, 0x8825))
        useDirectory(*gps, *tiff.Entries(*gps), used);

    // The chain after IFD0 (IFD1, the thumbnail's, and any beyond) goes: its
    // directories, their values and the pictures they point at.
    const uint64_t next = TTiffBlock::Entry(*ifd0, count0);
    uint64_t ifd = tiff.U32(next);
    tiff.Put(next, 0, 4);
    std::vector<TRange> dropped;
    for (int n = 0; n < 8 && ifd != 0 && ifd < tiff.Size(); ++n) {
        const std::optional<uint64_t> count = tiff.Entries(ifd);
        // A damaged directory may still hold a picture someone could find.
        if (!count) return false;
        useDirectory(ifd, *count, dropped);
        // A JPEG thumbnail, or the strips of an uncompressed one.
        for (const auto& [offsets, lengths] : {std::pair<uint16_t, uint16_t>{0x0201, 0x0202}, {0x0111, 0x0117}}) {
            const std::optional<uint64_t> at = FindTag(tiff, ifd, *count, offsets);
            const std::optional<uint64_t> length = FindTag(tiff, ifd, *count, lengths);
            if (!at || !length) continue;
            const uint16_t atType = tiff.U16(*at + 2), lengthType = tiff.U16(*length + 2);
            const uint64_t strips = tiff.U32(*at + 4);
            if (tiff.U32(*length + 4) != strips || strips > tiff.Size()) continue;
            const auto valueAt = [&](uint64_t entry, uint16_t type, uint64_t i) -> std::optional<uint32_t> {
                const uint64_t size = type == kShortType ? 2 : 4;
                const uint64_t base = strips * size <= 4 ? entry + 8 : tiff.U32(entry + 8);
                if ((type != kShortType && type != kLongType) || !tiff.Fits(base + i * size, size)) return std::nullopt;
                return size == 2 ? tiff.U16(base + i * size) : tiff.U32(base + i * size);
            };
            for (uint64_t i = 0; i < strips; ++i) {
                const std::optional<uint32_t> from = valueAt(*at, atType, i), bytes = valueAt(*length, lengthType, i);
                if (from && bytes) dropped.push_back({*from, uint64_t{*from} + *bytes});
            }
        }
        ifd = tiff.U32(TTiffBlock::Entry(ifd, *count));
    }
    if (dropped.empty()) return true;

    // Cleared where the main picture does not use the same bytes too (a
    // hostile block may point both at one place), then cut off the end. Each
    // byte's cover is counted from where ranges start and end, so that many
    // overlapping ranges cost no more than one.
    const uint64_t size = tiff.Size();
    std::vector<int32_t> usedBy(size + 1, 0), droppedBy(size + 1, 0);
    uint64_t keepEnd = 8;
    const auto mark = [&](const std::vector<TRange>& ranges, std::vector<int32_t>& cover) {
        for (const TRange& r : ranges) {
            const uint64_t end = std::min(r.end, size);
            if (r.begin >= end) continue;
            ++cover[r.begin];
            --cover[end];
        }
    };
    mark(used, usedBy);
    mark(dropped, droppedBy);
    for (const TRange& u : used) keepEnd = std::max(keepEnd, std::min(u.end, size));
    uint64_t cutFrom = size;
    int32_t inUse = 0, inDropped = 0;
    for (uint64_t at = 0; at < size; ++at) {
        inUse += usedBy[at];
        inDropped += droppedBy[at];
        if (inDropped > 0 && inUse == 0) {
            tiff.Bytes()[at] = 0;
            cutFrom = std::min(cutFrom, at);
        }
    }
    cutFrom = std::max(cutFrom, keepEnd);
    uint64_t kept = size;
    while (kept > cutFrom && tiff.Bytes()[kept - 1] == 0) --kept;
    payload.resize(kExifHeader + static_cast<size_t>(kept));
    return true;
}

void OrientUpright(TBitmap& bitmap, TOrientation orientation) {
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    if (orientation < TOrientation::MirrorH || orientation > TOrientation::Rotate270 || w == 0 || h == 0) return;
    const TPixelFormat format = bitmap.GetPixelFormat();
    if (format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit && format != TPixelFormat::pf32bit)
        throw EInvalidGraphicOperation("Only 8-, 24- and 32-bit pictures can be turned upright");
    const bool swaps = IsTurned(orientation);
    const int outW = swaps ? h : w;
    const int outH = swaps ? w : h;
    // The stored pixel that lands at (0, y) of the upright picture, and how far
    // the stored position moves for each step to the right.
    const auto sourceOf = [&](int y, int& sx, int& sy, int& dx, int& dy) {
        // One orientation a line, as a table.
        // clang-format off
        switch (orientation) {
        case TOrientation::MirrorH: sx = w - 1; sy = y; dx = -1; dy = 0; break;
        case TOrientation::Rotate180: sx = w - 1; sy = h - 1 - y; dx = -1; dy = 0; break;
        case TOrientation::MirrorV: sx = 0; sy = h - 1 - y; dx = 1; dy = 0; break;
        case TOrientation::Transpose: sx = y; sy = 0; dx = 0; dy = 1; break;
        case TOrientation::Rotate90: sx = y; sy = h - 1; dx = 0; dy = -1; break;
        case TOrientation::Transverse: sx = w - 1 - y; sy = h - 1; dx = 0; dy = -1; break;
        default: sx = w - 1 - y; sy = 0; dx = 0; dy = 1; break;  // Rotate270
        }
        // clang-format on
    };

    TBitmap upright;
    upright.SetPixelFormat(format);
    if (HPALETTE palette = bitmap.GetPalette()) upright.SetPalette(palette);
    upright.SetSize(outW, outH);
    upright.SetAlphaChannel(bitmap.GetAlphaChannel());
    const ptrdiff_t bytes = format == TPixelFormat::pf32bit ? 4 : format == TPixelFormat::pf24bit ? 3 : 1;
    const TBitmap& from = bitmap;
    const uint8_t* const first = from.GetScanline(0);
    const ptrdiff_t stride = h > 1 ? from.GetScanline(1) - first : 0;
    // In tiles: a quarter turn reads the stored picture down its columns, and
    // the rows of a tile then share the cache lines they read.
    constexpr int kTile = 64;
    for (int y0 = 0; y0 < outH; y0 += kTile)
        for (int x0 = 0; x0 < outW; x0 += kTile)
            for (int y = y0; y < std::min(y0 + kTile, outH); ++y) {
                int sx = 0, sy = 0, dx = 0, dy = 0;
                sourceOf(y, sx, sy, dx, dy);
                const ptrdiff_t step = dy * stride + dx * bytes;
                const uint8_t* p = first + sy * stride + sx * bytes + x0 * step;
                uint8_t* row = upright.GetScanline(y) + x0 * bytes;
                const int count = std::min(kTile, outW - x0);
                if (bytes == 4) {
                    for (int x = 0; x < count; ++x, p += step, row += 4) std::memcpy(row, p, 4);
                } else if (bytes == 3) {
                    for (int x = 0; x < count; ++x, p += step, row += 3) {
                        row[0] = p[0];
                        row[1] = p[1];
                        row[2] = p[2];
                    }
                } else {
                    for (int x = 0; x < count; ++x, p += step) row[x] = *p;
                }
            }
    bitmap.Assign(upright);
}

}  // namespace vmk
