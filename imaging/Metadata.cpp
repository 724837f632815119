#include "imaging/Metadata.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

namespace vmk {

namespace {

constexpr char kIccName[] = "ICC_PROFILE";               // with its terminating zero: 12 bytes
constexpr size_t kIccChunkHeader = sizeof kIccName + 2;  // the name, sequence number, count
constexpr char kXmpName[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kPhotoshopName[] = "Photoshop 3.0";

bool IsIccChunk(const TJPEGMarker& m) {
    return m.Code == 0xE2 && m.Data.size() >= sizeof kIccName &&
           std::memcmp(m.Data.data(), kIccName, sizeof kIccName) == 0;
}

bool IsExifSegment(const TJPEGMarker& m) {
    return m.Code == 0xE1 && m.Data.size() >= 6 && std::memcmp(m.Data.data(), "Exif\0\0", 6) == 0;
}

bool IsXmpPacket(const TJPEGMarker& m) {
    return m.Code == 0xE1 && m.Data.size() >= sizeof kXmpName &&
           std::memcmp(m.Data.data(), kXmpName, sizeof kXmpName) == 0;
}

bool IsPhotoshop(const TJPEGMarker& m) {
    return m.Code == 0xED && m.Data.size() >= sizeof kPhotoshopName &&
           std::memcmp(m.Data.data(), kPhotoshopName, sizeof kPhotoshopName) == 0;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool ProfileFits(const TJPEGMarkers& markers, bool gray) {
    // The chunks by sequence number; every one must agree on the count.
    std::array<const TJPEGMarker*, 256> chunks{};
    int count = 0;
    for (const TJPEGMarker& m : markers) {
        if (!IsIccChunk(m)) continue;
        if (m.Data.size() < kIccChunkHeader) return false;
        const int number = m.Data[sizeof kIccName];
        const int of = m.Data[sizeof kIccName + 1];
        if (count == 0) count = of;
        if (of != count || number < 1 || number > count || chunks[size_t(number)] != nullptr) return false;
        chunks[size_t(number)] = &m;
    }
    if (count == 0) return false;
    // The profile's first bytes, which may span chunks, and its whole length.
    std::vector<uint8_t> header;
    uint64_t total = 0;
    for (int i = 1; i <= count; ++i) {
        const TJPEGMarker* chunk = chunks[size_t(i)];
        if (chunk == nullptr) return false;
        const auto first = chunk->Data.begin() + long(kIccChunkHeader);
        const size_t length = chunk->Data.size() - kIccChunkHeader;
        header.insert(header.end(), first,
                      first + long(std::min<size_t>(length, 128 - std::min<size_t>(header.size(), 128))));
        total += length;
    }
    constexpr size_t kHeaderSize = 128;
    if (header.size() < kHeaderSize) return false;
    const uint64_t declared =
        uint64_t{header[0]} << 24 | uint64_t{header[1]} << 16 | uint64_t{header[2]} << 8 | header[3];
    if (declared < kHeaderSize || declared > total || std::memcmp(&header[36], "acsp", 4) != 0) return false;
    return std::memcmp(&header[16], gray ? "GRAY" : "RGB ", 4) == 0;
}

void MarkXmpUpright(std::vector<uint8_t>& payload) {
    std::string text(payload.begin(), payload.end());
    static constexpr std::string_view kName = "tiff:Orientation";
    bool changed = false;
    for (size_t at = text.find(kName); at != std::string::npos; at = text.find(kName, at + 1)) {
        // The whole name, not the end of a longer one nor the start of one.
        if (at == 0 || !(IsXmlSpace(text[at - 1]) || text[at - 1] == '<' || text[at - 1] == '/')) continue;
        size_t p = at + kName.size();
        size_t from = 0, to = 0;
        if (text[at - 1] == '<') {  // <tiff:Orientation>6</tiff:Orientation>
            if (p >= text.size() || text[p] != '>') continue;
            from = p + 1;
            to = text.find('<', from);
        } else if (text[at - 1] != '/') {  // tiff:Orientation="6", perhaps with spaces round the "="
            while (p < text.size() && IsXmlSpace(text[p])) ++p;
            if (p >= text.size() || text[p] != '=') continue;
            ++p;
            while (p < text.size() && IsXmlSpace(text[p])) ++p;
            if (p >= text.size() || (text[p] != '"' && text[p] != '\'')) continue;
            from = p + 1;
            to = text.find(text[p], from);
        } else {
            continue;
        }
        // Never grows the packet: an empty value stays empty.
        if (to == std::string::npos || to == from) continue;
        text[from] = '1';
        text.erase(from + 1, to - from - 1);
        changed = true;
    }
    if (changed) payload.assign(text.begin(), text.end());
}

bool DropPhotoshopThumbnails(std::vector<uint8_t>& payload) {
    if (payload.size() < sizeof kPhotoshopName ||
        std::memcmp(payload.data(), kPhotoshopName, sizeof kPhotoshopName) != 0)
        return false;
    // Resources: a signature, a 16-bit id, a name (a length byte and text, even
    // in all), a 32-bit size and the data, padded to even. All big-endian.
    std::vector<uint8_t> kept(payload.begin(), payload.begin() + long(sizeof kPhotoshopName));
    const size_t size = payload.size();
    size_t at = sizeof kPhotoshopName;
    while (at < size) {
        // Padding after the last resource stays as it was.
        if (std::all_of(payload.begin() + long(at), payload.end(), [](uint8_t b) { return b == 0; })) {
            kept.insert(kept.end(), payload.begin() + long(at), payload.end());
            break;
        }
        const uint8_t* p = payload.data() + at;
        if (size - at < 4 + 2 + 2 + 4) return false;
        static const char* const kSignatures[] = {"8BIM", "MeSa", "PHUT", "AgHg", "DCSR"};
        if (std::none_of(std::begin(kSignatures), std::end(kSignatures),
                         [&](const char* s) { return std::memcmp(p, s, 4) == 0; }))
            return false;
        const unsigned id = unsigned{p[4]} << 8 | p[5];
        const size_t name = (size_t{p[6]} + 2) & ~size_t{1};
        if (size - at - 6 < name + 4) return false;
        const uint8_t* length = p + 6 + name;
        const uint64_t dataSize =
            uint64_t{length[0]} << 24 | uint64_t{length[1]} << 16 | uint64_t{length[2]} << 8 | length[3];
        const uint64_t whole = 6 + name + 4 + ((dataSize + 1) & ~uint64_t{1});
        // The last resource may lack its padding byte.
        if (6 + name + 4 + dataSize > size - at) return false;
        const size_t next = static_cast<size_t>(std::min<uint64_t>(at + whole, size));
        // Photoshop's own thumbnails of the picture, unstamped.
        if (id != 0x0409 && id != 0x040C)
            kept.insert(kept.end(), payload.begin() + long(at), payload.begin() + long(next));
        at = next;
    }
    payload = std::move(kept);
    return true;
}

TJPEGMarkers ResultMarkers(const TJPEGMarkers& source, int width, int height, bool gray) {
    const bool keepProfile = ProfileFits(source, gray);
    TJPEGMarkers result;
    result.reserve(source.size());
    for (const TJPEGMarker& m : source) {
        if (IsIccChunk(m) && !keepProfile) continue;
        TJPEGMarker kept = m;
        if (IsExifSegment(kept) && !FitExifToResult(kept.Data, width, height)) continue;
        if (IsXmpPacket(kept)) MarkXmpUpright(kept.Data);
        // A block that cannot be walked may hold a thumbnail we cannot find.
        if (IsPhotoshop(kept) && !DropPhotoshopThumbnails(kept.Data)) continue;
        result.push_back(std::move(kept));
    }
    return result;
}

}  // namespace vmk
