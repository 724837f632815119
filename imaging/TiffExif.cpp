#include "imaging/TiffExif.h"

#include <algorithm>
#include <cstring>

namespace vmk {

namespace {

constexpr uint16_t kExifPointer = 34665;
constexpr uint16_t kGpsPointer = 34853;
// More entries than any real directory holds; a damaged count stops here.
constexpr uint16_t kMaxEntries = 1000;
// An EXIF block travels in one JPEG segment: no value of one can be larger.
// The bound also keeps a hostile file's entries, each pointing at the whole
// file, from being copied a thousand times.
constexpr uint64_t kMaxValueBytes = 65535;
// And all the values kept, of every directory together.
constexpr uint64_t kMaxTreeBytes = uint64_t{1} << 18;

// The first directory's entries an EXIF block carries: what describes the
// picture, not how its pixels are laid out.
constexpr uint16_t kDescriptive[] = {270, 271, 272, 274, 282, 283, 296, 305, 306, 315, 318, 319, 33432};

size_t TypeSize(uint16_t type) {
    switch (type) {
    case 1:  // BYTE
    case 2:  // ASCII
    case 6:  // SBYTE
    case 7:  // UNDEFINED
        return 1;
    case 3:  // SHORT
    case 8:  // SSHORT
        return 2;
    case 4:   // LONG
    case 9:   // SLONG
    case 11:  // FLOAT
    case 13:  // IFD
        return 4;
    case 5:   // RATIONAL
    case 10:  // SRATIONAL
    case 12:  // DOUBLE
        return 8;
    default: return 0;
    }
}

class TReader {
public:
    TReader(const uint8_t* data, size_t size, bool big) : data_(data), size_(size), big_(big) {}
    bool Has(uint64_t at, uint64_t count) const { return at <= size_ && count <= size_ - at; }
    uint32_t U16(size_t at) const { return big_ ? (data_[at] << 8) | data_[at + 1] : data_[at] | (data_[at + 1] << 8); }
    uint32_t U32(size_t at) const {
        return big_ ? (uint32_t{data_[at]} << 24) | (data_[at + 1] << 16) | (data_[at + 2] << 8) | data_[at + 3]
                    : data_[at] | (data_[at + 1] << 8) | (data_[at + 2] << 16) | (uint32_t{data_[at + 3]} << 24);
    }

    // The entries of the directory at offset that keep(tag) wants; those
    // whose values lie outside the bytes or are too long, or of unknown
    // types, are left out.
    template <typename Keep>
    std::vector<TExifEntry> Directory(uint32_t offset, Keep&& keep) const {
        std::vector<TExifEntry> entries;
        if (!Has(offset, 2)) return entries;
        const uint32_t count = std::min<uint32_t>(U16(offset), kMaxEntries);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = offset + 2 + size_t{i} * 12;
            if (!Has(at, 12)) break;
            TExifEntry e;
            e.Tag = static_cast<uint16_t>(U16(at));
            e.Type = static_cast<uint16_t>(U16(at + 2));
            e.Count = U32(at + 4);
            const uint64_t bytes = uint64_t{e.Count} * TypeSize(e.Type);
            if (bytes == 0 || bytes > kMaxValueBytes || bytes > budget_ || !keep(e.Tag)) continue;
            const uint64_t from = bytes <= 4 ? at + 8 : U32(at + 8);
            if (!Has(from, bytes)) continue;
            e.Value.assign(data_ + from, data_ + from + bytes);
            budget_ -= bytes;
            entries.push_back(std::move(e));
        }
        return entries;
    }

private:
    const uint8_t* data_;
    size_t size_;
    bool big_;
    mutable uint64_t budget_ = kMaxTreeBytes;
};

// Numbers written in a byte order.
struct TWriter {
    std::vector<uint8_t>& out;
    bool big;
    void U16(size_t at, uint32_t v) {
        out[at] = static_cast<uint8_t>(big ? v >> 8 : v);
        out[at + 1] = static_cast<uint8_t>(big ? v : v >> 8);
    }
    void U32(size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i));
    }
};

size_t DirectoryBytes(const std::vector<TExifEntry>& entries) {
    size_t bytes = 2 + entries.size() * 12 + 4;
    for (const TExifEntry& e : entries)
        if (e.Value.size() > 4) bytes += e.Value.size() + (e.Value.size() & 1);
    return bytes;
}

// Writes the directory at the end of out; values longer than 4 bytes follow it.
void WriteDirectory(TWriter& w, std::vector<TExifEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const TExifEntry& a, const TExifEntry& b) { return a.Tag < b.Tag; });
    const size_t at = w.out.size();
    w.out.resize(at + 2 + entries.size() * 12 + 4, 0);
    w.U16(at, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const TExifEntry& e = entries[i];
        const size_t field = at + 2 + i * 12;
        w.U16(field, e.Tag);
        w.U16(field + 2, e.Type);
        w.U32(field + 4, e.Count);
        if (e.Value.size() <= 4) {
            std::copy(e.Value.begin(), e.Value.end(), w.out.begin() + static_cast<ptrdiff_t>(field + 8));
            continue;
        }
        w.U32(field + 8, static_cast<uint32_t>(w.out.size()));
        w.out.insert(w.out.end(), e.Value.begin(), e.Value.end());
        if (w.out.size() & 1) w.out.push_back(0);  // values start on a word boundary
    }
}

TExifEntry Pointer(uint16_t tag, size_t offset, bool big) {
    TExifEntry e{tag, 4, 1, std::vector<uint8_t>(4)};
    TWriter w{e.Value, big};
    w.U32(0, static_cast<uint32_t>(offset));
    return e;
}

}  // namespace

uint32_t ExifEntryNumber(const TExifEntry& entry, bool bigEndian, size_t i) {
    const size_t size = TypeSize(entry.Type);
    if (size == 0 || size > 4 || (i + 1) * size > entry.Value.size()) return 0;
    const TReader r(entry.Value.data(), entry.Value.size(), bigEndian);
    return size == 1 ? entry.Value[i] : size == 2 ? r.U16(i * 2) : r.U32(i * 4);
}

TExifTree ReadExifTree(const uint8_t* data, size_t size) {
    TExifTree tree;
    if (data == nullptr || size < 8) return tree;
    if (std::memcmp(data, "II*\0", 4) == 0)
        tree.BigEndian = false;
    else if (std::memcmp(data, "MM\0*", 4) == 0)
        tree.BigEndian = true;
    else
        return tree;
    const TReader r(data, size, tree.BigEndian);
    const auto wanted = [](uint16_t tag) {
        return tag == kExifPointer || tag == kGpsPointer ||
               std::find(std::begin(kDescriptive), std::end(kDescriptive), tag) != std::end(kDescriptive);
    };
    // The sub-directories hold no pointers of their own that we follow
    // (40965: interoperability).
    const auto leaf = [](uint16_t tag) { return tag != kExifPointer && tag != kGpsPointer && tag != 40965; };
    for (TExifEntry& e : r.Directory(r.U32(4), wanted)) {
        if ((e.Tag == kExifPointer || e.Tag == kGpsPointer) && (e.Type == 4 || e.Type == 13) && e.Count == 1) {
            const uint32_t offset = ExifEntryNumber(e, tree.BigEndian);
            // A directory pointing back at the first one would be read as its own.
            if (offset == r.U32(4)) continue;
            (e.Tag == kExifPointer ? tree.Exif : tree.Gps) = r.Directory(offset, leaf);
            continue;
        }
        if (e.Tag != kExifPointer && e.Tag != kGpsPointer) tree.Main.push_back(std::move(e));
    }
    return tree;
}

std::vector<uint8_t> ExifBlockOf(const TExifTree& tree) {
    std::vector<uint8_t> out;
    if (tree.Empty()) return out;
    out.assign(8, 0);
    TWriter w{out, tree.BigEndian};
    std::memcpy(out.data(), tree.BigEndian ? "MM\0*" : "II*\0", 4);
    w.U32(4, 8);
    std::vector<TExifEntry> main = tree.Main;
    const size_t pointers = (tree.Exif.empty() ? 0 : 1) + (tree.Gps.empty() ? 0 : 1);
    size_t next = 8 + DirectoryBytes(main) + pointers * 12;
    if (!tree.Exif.empty()) {
        main.push_back(Pointer(kExifPointer, next, tree.BigEndian));
        next += DirectoryBytes(tree.Exif);
    }
    if (!tree.Gps.empty()) main.push_back(Pointer(kGpsPointer, next, tree.BigEndian));
    WriteDirectory(w, main);
    if (!tree.Exif.empty()) WriteDirectory(w, tree.Exif);
    if (!tree.Gps.empty()) WriteDirectory(w, tree.Gps);
    return out;
}

}  // namespace vmk
