#include "imaging/HevcParams.h"

#include <algorithm>
#include <stdexcept>

namespace vmk {

namespace {

[[noreturn]] void Fail(const std::string& why) { throw std::runtime_error(why); }

uint64_t BigEndian(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
    return value;
}

// Reads bits of an RBSP, failing at its end instead of reading past it.
class TBitReader {
public:
    explicit TBitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= bytes_.size() * 8) Fail("sequence parameter set cut short");
            value = (value << 1) | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1U);
            ++position_;
        }
        return value;
    }

    void Skip(size_t count) {
        if (count > bytes_.size() * 8 - position_) Fail("sequence parameter set cut short");
        position_ += count;
    }

    // Exp-Golomb ue(v); 32 leading zeros or more cannot be a valid value.
    uint64_t Ue() {
        int zeros = 0;
        while (Bits(1) == 0)
            if (++zeros > 31) Fail("sequence parameter set has an invalid code");
        return ((uint64_t{1} << zeros) - 1) + Bits(zeros);
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
};

// Calls visit(type, payload, payloadSize) for each box of [data, data+size).
// At the top level a damaged box ends the walk (what follows is not read by
// libheif either); inside 'meta' it is refused.
template <typename Visit>
void ForEachBox(const uint8_t* data, size_t size, Visit&& visit, bool lenient = false) {
    size_t at = 0;
    while (at < size) {
        if (lenient && size - at < 8) return;
        if (size - at < 8) Fail("box header cut short");
        uint64_t boxSize = BigEndian(data + at, 4);
        const std::string type(reinterpret_cast<const char*>(data + at + 4), 4);
        size_t header = 8;
        if (boxSize == 1) {
            if (lenient && size - at < 16) return;
            if (size - at < 16) Fail("box header cut short");
            boxSize = BigEndian(data + at + 8, 8);
            header = 16;
        } else if (boxSize == 0) {
            boxSize = size - at;
        }
        if (lenient && (boxSize < header || boxSize > size - at)) return;
        if (boxSize < header || boxSize > size - at) Fail("box '" + type + "' runs past its container");
        visit(type, data + at + header, static_cast<size_t>(boxSize) - header);
        at += static_cast<size_t>(boxSize);
    }
}

// Big-endian fields of a box payload, failing at its end.
class TByteReader {
public:
    TByteReader(const uint8_t* data, size_t size, const char* box) : data_(data), size_(size), box_(box) {}
    uint64_t Read(size_t bytes) {
        if (bytes > size_ - at_) Fail(std::string("box '") + box_ + "' cut short");
        const uint64_t value = BigEndian(data_ + at_, static_cast<int>(bytes));
        at_ += bytes;
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    const char* box_;
    size_t at_ = 0;
};

// Calls visit(type, payload, payloadSize) for each box inside the file's 'meta'.
template <typename Visit>
void ForEachMetaBox(const uint8_t* data, size_t size, Visit&& visit) {
    ForEachBox(
        data, size,
        [&](const std::string& type, const uint8_t* meta, size_t metaSize) {
            if (type != "meta") return;
            if (metaSize < 4) Fail("box 'meta' cut short");
            ForEachBox(meta + 4, metaSize - 4, visit);
        },
        true);
}

}  // namespace

std::vector<THevcCodedSize> HeifGridSizes(const uint8_t* data, size_t size) {
    // Items that declare an output canvas of their own: grids and overlays,
    // with the bytes that come before the canvas size in their description.
    std::vector<std::pair<uint64_t, size_t>> grids;
    const uint8_t* idat = nullptr;
    size_t idatSize = 0;
    const uint8_t* iloc = nullptr;
    size_t ilocSize = 0;
    ForEachMetaBox(data, size, [&](const std::string& type, const uint8_t* payload, size_t payloadSize) {
        if (type == "idat") {
            idat = payload;
            idatSize = payloadSize;
        } else if (type == "iloc") {
            iloc = payload;
            ilocSize = payloadSize;
        } else if (type == "iinf") {
            TByteReader header(payload, payloadSize, "iinf");
            const size_t skip = header.Read(1) == 0 ? 6 : 8;
            if (skip > payloadSize) Fail("box 'iinf' cut short");
            ForEachBox(payload + skip, payloadSize - skip, [&](const std::string& t, const uint8_t* infe, size_t n) {
                if (t != "infe") return;
                TByteReader entry(infe, n, "infe");
                const uint64_t version = entry.Read(1);
                if (version < 2) return;  // no item types before version 2
                entry.Read(3);
                const uint64_t id = entry.Read(version == 2 ? 2 : 4);
                entry.Read(2);
                const uint64_t itemType = entry.Read(4);
                if (itemType == 0x67726964) grids.emplace_back(id, 2);  // 'grid': rows and columns
                if (itemType == 0x696F766C) grids.emplace_back(id, 8);  // 'iovl': four fill values
            });
        }
    });
    std::vector<THevcCodedSize> sizes;
    if (grids.empty()) return sizes;
    if (iloc == nullptr) Fail("no item locations");
    TByteReader r(iloc, ilocSize, "iloc");
    const uint64_t version = r.Read(1);
    r.Read(3);
    const uint64_t sizes1 = r.Read(1), sizes2 = r.Read(1);
    const size_t offsetSize = sizes1 >> 4, lengthSize = sizes1 & 15, baseSize = sizes2 >> 4;
    const size_t indexSize = version == 1 || version == 2 ? sizes2 & 15 : 0;
    const uint64_t count = r.Read(version < 2 ? 2 : 4);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t id = r.Read(version < 2 ? 2 : 4);
        const uint64_t method = version == 1 || version == 2 ? r.Read(2) & 15 : 0;
        r.Read(2);
        const uint64_t base = r.Read(baseSize);
        const uint64_t extents = r.Read(2);
        uint64_t offset = 0;
        uint64_t length = 0;
        for (uint64_t e = 0; e < extents; ++e) {
            r.Read(indexSize);
            const uint64_t o = r.Read(offsetSize), l = r.Read(lengthSize);
            if (e == 0) offset = o, length = l;
        }
        const auto item = std::find_if(grids.begin(), grids.end(), [&](const auto& g) { return g.first == id; });
        if (item == grids.end()) continue;
        // The grid's description: its first 12 bytes at most, in the file or in 'idat'.
        const uint8_t* from = method == 1 ? idat : method == 0 ? data : nullptr;
        const size_t within = method == 1 ? idatSize : size;
        if (from == nullptr) Fail("grid description not found");
        if (base > within || offset > within - base) Fail("grid description outside the file");
        const size_t start = static_cast<size_t>(base + offset);
        const size_t available = within - start;
        TByteReader grid(from + start, length == 0 ? available : std::min<uint64_t>(length, available), "grid");
        grid.Read(1);
        const uint64_t flags = grid.Read(1);
        grid.Read(item->second);
        const size_t field = (flags & 1) != 0 ? 4 : 2;
        THevcCodedSize output;
        output.Width = static_cast<int64_t>(grid.Read(field));
        output.Height = static_cast<int64_t>(grid.Read(field));
        sizes.push_back(output);
    }
    return sizes;
}

THevcCodedSize HevcSpsCodedSize(const uint8_t* nal, size_t size) {
    if (size < 2) Fail("sequence parameter set cut short");
    // The RBSP: the payload without its emulation-prevention bytes (00 00 03).
    std::vector<uint8_t> rbsp;
    rbsp.reserve(size);
    int zeros = 0;
    for (size_t i = 2; i < size; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }
    TBitReader bits(rbsp);
    bits.Skip(4);  // sps_video_parameter_set_id
    const uint32_t maxSubLayersMinus1 = bits.Bits(3);
    bits.Skip(1);  // sps_temporal_id_nesting_flag
    // profile_tier_level: the general profile (88 bits) and level (8 bits).
    bits.Skip(88 + 8);
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = bits.Bits(1) != 0;
        levelPresent[i] = bits.Bits(1) != 0;
    }
    if (maxSubLayersMinus1 > 0) bits.Skip(2 * (8 - maxSubLayersMinus1));
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i]) bits.Skip(88);
        if (levelPresent[i]) bits.Skip(8);
    }
    bits.Ue();  // sps_seq_parameter_set_id
    const uint64_t chromaFormat = bits.Ue();
    if (chromaFormat > 3) Fail("sequence parameter set has an invalid chroma format");
    if (chromaFormat == 3) bits.Skip(1);  // separate_colour_plane_flag
    THevcCodedSize coded;
    coded.Width = static_cast<int64_t>(bits.Ue());
    coded.Height = static_cast<int64_t>(bits.Ue());
    if (coded.Width == 0 || coded.Height == 0) Fail("sequence parameter set declares an empty picture");
    return coded;
}

std::vector<THevcCodedSize> HevcConfigCodedSizes(const uint8_t* record, size_t size) {
    constexpr size_t kHeader = 22;
    constexpr int kSpsType = 33;
    if (size < kHeader + 1) Fail("decoder configuration cut short");
    std::vector<THevcCodedSize> sizes;
    const size_t arrays = record[kHeader];
    size_t at = kHeader + 1;
    for (size_t a = 0; a < arrays; ++a) {
        if (size - at < 3) Fail("decoder configuration cut short");
        const int arrayType = record[at] & 0x3F;
        const size_t count = BigEndian(record + at + 1, 2);
        at += 3;
        for (size_t n = 0; n < count; ++n) {
            if (size - at < 2) Fail("decoder configuration cut short");
            const size_t length = BigEndian(record + at, 2);
            at += 2;
            if (length > size - at) Fail("decoder configuration cut short");
            const uint8_t* nal = record + at;
            at += length;
            // The NAL header names the unit; the array's type is only a hint.
            if (length >= 1 && ((nal[0] >> 1) & 0x3F) == kSpsType)
                sizes.push_back(HevcSpsCodedSize(nal, length));
            else if (length < 1 && arrayType == kSpsType)
                Fail("empty sequence parameter set");
        }
    }
    return sizes;
}

std::vector<THevcCodedSize> HevcCodedSizes(const uint8_t* data, size_t size) {
    std::vector<THevcCodedSize> sizes;
    ForEachBox(
        data, size,
        [&](const std::string& type, const uint8_t* meta, size_t metaSize) {
            if (type != "meta") return;
            if (metaSize < 4) Fail("box 'meta' cut short");
            ForEachBox(meta + 4, metaSize - 4, [&](const std::string& t, const uint8_t* iprp, size_t iprpSize) {
                if (t != "iprp") return;
                ForEachBox(iprp, iprpSize, [&](const std::string& u, const uint8_t* ipco, size_t ipcoSize) {
                    if (u != "ipco") return;
                    ForEachBox(ipco, ipcoSize, [&](const std::string& v, const uint8_t* record, size_t recordSize) {
                        if (v != "hvcC") return;
                        const auto found = HevcConfigCodedSizes(record, recordSize);
                        sizes.insert(sizes.end(), found.begin(), found.end());
                    });
                });
            });
        },
        true);
    return sizes;
}

}  // namespace vmk
