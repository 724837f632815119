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

// Where an item's data lies: its first extent, from the start of the file
// (method 0) or of 'idat' (method 1).
struct TItemExtent {
    uint64_t Id = 0, Method = 0, Base = 0, Offset = 0, Length = 0;
};

std::vector<TItemExtent> ItemExtents(const uint8_t* iloc, size_t ilocSize) {
    TByteReader r(iloc, ilocSize, "iloc");
    const uint64_t version = r.Read(1);
    r.Read(3);
    const uint64_t sizes1 = r.Read(1), sizes2 = r.Read(1);
    const size_t offsetSize = sizes1 >> 4, lengthSize = sizes1 & 15, baseSize = sizes2 >> 4;
    const size_t indexSize = version == 1 || version == 2 ? sizes2 & 15 : 0;
    const uint64_t count = r.Read(version < 2 ? 2 : 4);
    std::vector<TItemExtent> items;
    for (uint64_t i = 0; i < count; ++i) {
        TItemExtent item;
        item.Id = r.Read(version < 2 ? 2 : 4);
        item.Method = version == 1 || version == 2 ? r.Read(2) & 15 : 0;
        r.Read(2);
        item.Base = r.Read(baseSize);
        const uint64_t extents = r.Read(2);
        for (uint64_t e = 0; e < extents; ++e) {
            r.Read(indexSize);
            const uint64_t o = r.Read(offsetSize), l = r.Read(lengthSize);
            if (e == 0) item.Offset = o, item.Length = l;
        }
        items.push_back(item);
    }
    return items;
}

// Item ids of one type ('av01', 'grid'...), with the item boxes of 'meta'.
struct TMetaItems {
    std::vector<std::pair<uint64_t, uint64_t>> Types;  // id, type
    const uint8_t* Idat = nullptr;
    size_t IdatSize = 0;
    const uint8_t* Iloc = nullptr;
    size_t IlocSize = 0;
};

TMetaItems ReadMetaItems(const uint8_t* data, size_t size) {
    TMetaItems items;
    ForEachMetaBox(data, size, [&](const std::string& type, const uint8_t* payload, size_t payloadSize) {
        if (type == "idat") {
            items.Idat = payload;
            items.IdatSize = payloadSize;
        } else if (type == "iloc") {
            items.Iloc = payload;
            items.IlocSize = payloadSize;
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
                items.Types.emplace_back(id, entry.Read(4));
            });
        }
    });
    return items;
}

}  // namespace

std::vector<THevcCodedSize> HeifGridSizes(const uint8_t* data, size_t size) {
    // Items that declare an output canvas of their own: grids and overlays,
    // with the bytes that come before the canvas size in their description.
    const TMetaItems meta = ReadMetaItems(data, size);
    std::vector<std::pair<uint64_t, size_t>> grids;
    for (const auto& [id, itemType] : meta.Types) {
        if (itemType == 0x67726964) grids.emplace_back(id, 2);  // 'grid': rows and columns
        if (itemType == 0x696F766C) grids.emplace_back(id, 8);  // 'iovl': four fill values
    }
    const uint8_t* idat = meta.Idat;
    const size_t idatSize = meta.IdatSize;
    const uint8_t* iloc = meta.Iloc;
    const size_t ilocSize = meta.IlocSize;
    std::vector<THevcCodedSize> sizes;
    if (grids.empty()) return sizes;
    if (iloc == nullptr) Fail("no item locations");
    for (const TItemExtent& extent : ItemExtents(iloc, ilocSize)) {
        const auto item = std::find_if(grids.begin(), grids.end(), [&](const auto& g) { return g.first == extent.Id; });
        if (item == grids.end()) continue;
        // The grid's description: its first 12 bytes at most, in the file or in 'idat'.
        const uint8_t* from = extent.Method == 1 ? idat : extent.Method == 0 ? data : nullptr;
        const size_t within = extent.Method == 1 ? idatSize : size;
        if (from == nullptr) Fail("grid description not found");
        if (extent.Base > within || extent.Offset > within - extent.Base) Fail("grid description outside the file");
        const size_t start = static_cast<size_t>(extent.Base + extent.Offset);
        const size_t available = within - start;
        TByteReader grid(from + start, extent.Length == 0 ? available : std::min<uint64_t>(extent.Length, available),
                         "grid");
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

namespace {

constexpr int kObuSequenceHeader = 1;
constexpr int kObuFrameHeader = 3;
constexpr int kObuTileGroup = 4;
constexpr int kObuFrame = 6;
// Real streams hold a handful of OBUs before their first frame.
constexpr int kMaxObus = 64;

THevcCodedSize Av1SequenceHeaderSize(const uint8_t* payload, size_t size) {
    const std::vector<uint8_t> bytes(payload, payload + size);
    TBitReader bits(bytes);
    bits.Skip(3);             // seq_profile
    bits.Skip(1);             // still_picture
    if (bits.Bits(1) != 0) {  // reduced_still_picture_header
        bits.Skip(5);         // seq_level_idx[0]
    } else {
        bool decoderModel = false;
        uint32_t bufferDelayBits = 0;
        if (bits.Bits(1) != 0) {      // timing_info_present_flag
            bits.Skip(64);            // num_units_in_display_tick, time_scale
            if (bits.Bits(1) != 0) {  // equal_picture_interval: num_ticks_per_picture_minus_1, uvlc()
                int zeros = 0;
                while (bits.Bits(1) == 0)
                    if (++zeros >= 32) Fail("sequence header has an invalid code");
                bits.Skip(static_cast<size_t>(zeros));
            }
            decoderModel = bits.Bits(1) != 0;
            if (decoderModel) {
                bufferDelayBits = bits.Bits(5) + 1;
                bits.Skip(32 + 5 + 5);  // decoding tick, removal and presentation time lengths
            }
        }
        const bool displayDelay = bits.Bits(1) != 0;
        const uint32_t points = bits.Bits(5) + 1;
        for (uint32_t i = 0; i < points; ++i) {
            bits.Skip(12);                       // operating_point_idc
            if (bits.Bits(5) > 7) bits.Skip(1);  // seq_level_idx, seq_tier
            if (decoderModel && bits.Bits(1) != 0) bits.Skip(2 * bufferDelayBits + 1);
            if (displayDelay && bits.Bits(1) != 0) bits.Skip(4);
        }
    }
    const int widthBits = static_cast<int>(bits.Bits(4)) + 1;
    const int heightBits = static_cast<int>(bits.Bits(4)) + 1;
    THevcCodedSize coded;
    coded.Width = int64_t{bits.Bits(widthBits)} + 1;
    coded.Height = int64_t{bits.Bits(heightBits)} + 1;
    return coded;
}

}  // namespace

std::vector<THevcCodedSize> Av1SequenceSizes(const uint8_t* obus, size_t size) {
    std::vector<THevcCodedSize> sizes;
    size_t at = 0;
    for (int n = 0; n < kMaxObus && at < size; ++n) {
        const uint8_t header = obus[at++];
        const int type = (header >> 3) & 15;
        if ((header & 0x04) != 0) {  // obu_extension_flag: one more header byte
            if (at >= size) Fail("OBU header cut short");
            ++at;
        }
        uint64_t length = size - at;
        if ((header & 0x02) != 0) {  // obu_has_size_field: leb128
            length = 0;
            for (int i = 0;; ++i) {
                if (i == 8 || at >= size) Fail("OBU size cut short");
                const uint8_t byte = obus[at++];
                length |= uint64_t{byte & 0x7Fu} << (7 * i);
                if ((byte & 0x80) == 0) break;
            }
        }
        if (length > size - at) Fail("OBU runs past its data");
        if (type == kObuSequenceHeader) sizes.push_back(Av1SequenceHeaderSize(obus + at, static_cast<size_t>(length)));
        if (type == kObuFrameHeader || type == kObuTileGroup || type == kObuFrame) break;
        at += static_cast<size_t>(length);
    }
    return sizes;
}

std::vector<THevcCodedSize> Av1CodedSizes(const uint8_t* data, size_t size) {
    std::vector<THevcCodedSize> sizes;
    const auto add = [&](const std::vector<THevcCodedSize>& found) {
        sizes.insert(sizes.end(), found.begin(), found.end());
    };
    ForEachMetaBox(data, size, [&](const std::string& type, const uint8_t* iprp, size_t iprpSize) {
        if (type != "iprp") return;
        ForEachBox(iprp, iprpSize, [&](const std::string& u, const uint8_t* ipco, size_t ipcoSize) {
            if (u != "ipco") return;
            ForEachBox(ipco, ipcoSize, [&](const std::string& v, const uint8_t* record, size_t recordSize) {
                // Four bytes of configuration, then the OBUs.
                if (v != "av1C") return;
                if (recordSize < 4) Fail("box 'av1C' cut short");
                add(Av1SequenceSizes(record + 4, recordSize - 4));
            });
        });
    });
    const TMetaItems meta = ReadMetaItems(data, size);
    std::vector<uint64_t> coded;
    for (const auto& [id, itemType] : meta.Types)
        if (itemType == 0x61763031) coded.push_back(id);  // 'av01'
    if (coded.empty() || meta.Iloc == nullptr) return sizes;
    for (const TItemExtent& extent : ItemExtents(meta.Iloc, meta.IlocSize)) {
        if (std::find(coded.begin(), coded.end(), extent.Id) == coded.end()) continue;
        const uint8_t* from = extent.Method == 1 ? meta.Idat : extent.Method == 0 ? data : nullptr;
        const size_t within = extent.Method == 1 ? meta.IdatSize : size;
        // Data the decoder cannot reach either is libheif's to refuse.
        if (from == nullptr || extent.Base > within || extent.Offset > within - extent.Base) continue;
        const size_t start = static_cast<size_t>(extent.Base + extent.Offset);
        const size_t available = within - start;
        add(Av1SequenceSizes(from + start,
                             extent.Length == 0 ? available : std::min<uint64_t>(extent.Length, available)));
    }
    return sizes;
}

}  // namespace vmk
