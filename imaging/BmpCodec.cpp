#include "imaging/BmpCodec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "core/Stop.h"

namespace vmk::bmp {

using detail::Raster;

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpegOrRle24 = 4, kPng = 5, kAlphaBitFields = 6;
constexpr int kFileHeaderSize = 14;

[[noreturn]] void Refuse(const std::string& why) { throw EInvalidGraphic("Invalid bitmap: " + why); }

std::string Hex(uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) s += digits[(v >> shift) & 15u];
    return s;
}

// Bounded view of bytes read from the file; every read is checked by the caller
// with has(), and a read past the end is refused rather than trusted.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool has(size_t n) const { return size_ - pos_ >= n; }
    size_t remaining() const { return size_ - pos_; }
    size_t position() const { return pos_; }
    void seek(size_t pos) {
        if (pos > size_) Refuse("the file ends early");
        pos_ = pos;
    }
    void skip(size_t n) {
        if (!has(n)) Refuse("the file ends early");
        pos_ += n;
    }
    uint8_t u8() {
        if (!has(1)) Refuse("the file ends early");
        return data_[pos_++];
    }
    uint16_t u16() {
        if (!has(2)) Refuse("the file ends early");
        const auto v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    uint32_t u32() {
        if (!has(4)) Refuse("the file ends early");
        const uint32_t v = data_[pos_] | (uint32_t{data_[pos_ + 1]} << 8) | (uint32_t{data_[pos_ + 2]} << 16) |
                           (uint32_t{data_[pos_ + 3]} << 24);
        pos_ += 4;
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    const uint8_t* here() const { return data_ + pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0;

    static Channel From(uint32_t mask, const char* name) {
        Channel c;
        c.mask = mask;
        if (mask == 0) return c;
        c.shift = std::countr_zero(mask);
        c.max = uint64_t{mask} >> c.shift;
        if ((c.max & (c.max + 1)) != 0)
            Refuse(std::string("the ") + name + " bit field mask " + Hex(mask) + " is not contiguous");
        return c;
    }
    uint8_t Get(uint32_t pixel) const {
        if (max == 0) return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

struct Header {
    bool os2v1 = false;
    bool os2v2 = false;
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;
    bool topDown = false;
    unsigned planes = 1;
    unsigned bitCount = 0;
    uint32_t compression = kRgb;
    uint32_t colorsUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    uint32_t offBits = 0;
};

int64_t StreamBytesLeft(TStream& stream, int64_t start) {
    const int64_t size = stream.GetSize();
    return size > start ? size - start : 0;
}

void ReadExactly(TStream& stream, void* buffer, size_t count) {
    if (count == 0) return;
    if (stream.Read(buffer, static_cast<int64_t>(count)) != static_cast<int64_t>(count)) Refuse("the file ends early");
}

TPixelFormat FormatFor(const Header& h, bool& direct) {
    direct = false;
    switch (h.bitCount) {
    case 1: direct = true; return TPixelFormat::pf1bit;
    case 2: return TPixelFormat::pf4bit;  // widened: we hold no 2-bit format
    case 4: direct = h.compression == kRgb; return TPixelFormat::pf4bit;
    case 8: direct = h.compression == kRgb; return TPixelFormat::pf8bit;
    case 16:
        if (h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F) {
            direct = true;
            return TPixelFormat::pf15bit;
        }
        if (h.masks[0] == 0xF800 && h.masks[1] == 0x07E0 && h.masks[2] == 0x001F) {
            direct = true;
            return TPixelFormat::pf16bit;
        }
        return h.masks[3] ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
    case 24: direct = true; return TPixelFormat::pf24bit;
    default:
        direct = h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 && h.masks[2] == 0xFF && h.masks[3] == 0;
        return TPixelFormat::pf32bit;
    }
}

void ConvertRow(const Header& h, const Channel* ch, const uint8_t* in, Raster& out, int y) {
    uint8_t* row = out.Row(y);
    const int w = out.width;
    if (h.bitCount == 2) {
        for (int x = 0; x < w; ++x) {
            const unsigned index = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3u;
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? static_cast<uint8_t>(b | index) : static_cast<uint8_t>(index << 4);
        }
        return;
    }
    const int bytes = out.format == TPixelFormat::pf32bit ? 4 : 3;
    for (int x = 0; x < w; ++x) {
        uint32_t px;
        if (h.bitCount == 16)
            px = in[2 * x] | (uint32_t{in[2 * x + 1]} << 8);
        else
            px = in[4 * x] | (uint32_t{in[4 * x + 1]} << 8) | (uint32_t{in[4 * x + 2]} << 16) |
                 (uint32_t{in[4 * x + 3]} << 24);
        uint8_t* p = row + bytes * x;
        p[0] = ch[2].Get(px);
        p[1] = ch[1].Get(px);
        p[2] = ch[0].Get(px);
        if (bytes == 4) p[3] = ch[3].Get(px);
    }
}

// RLE8 and RLE4: rows come bottom-up; pixels the codes never set stay index 0.
// Runs and deltas past the right edge are clipped, codes past the last row are
// ignored, and data that stops before its end code keeps what was decoded.
void DecodeRle(const Header& h, const uint8_t* data, size_t size, Raster& out) {
    ByteReader rd(data, size);
    const bool four = h.compression == kRle4;
    const int64_t w = out.width;
    const int64_t rows = out.height;
    int64_t x = 0, r = 0;
    auto put = [&](int64_t px, unsigned index) {
        uint8_t* row = out.Row(static_cast<int>(rows - 1 - r));
        if (!four) {
            row[px] = static_cast<uint8_t>(index);
        } else {
            uint8_t& b = row[px >> 1];
            b = (px & 1) ? static_cast<uint8_t>((b & 0xF0u) | (index & 0x0Fu))
                         : static_cast<uint8_t>((b & 0x0Fu) | ((index & 0x0Fu) << 4));
        }
    };
    while (r < rows && rd.has(2)) {
        const unsigned count = rd.u8();
        const unsigned value = rd.u8();
        if (count > 0) {
            for (unsigned i = 0; i < count && x < w; ++i, ++x)
                put(x, four ? ((i & 1) ? (value & 0x0Fu) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++r;
            if ((r & 15) == 0) CheckStop();
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta
            if (!rd.has(2)) break;
            const unsigned dx = rd.u8();
            const unsigned dy = rd.u8();
            x = std::min<int64_t>(x + dx, w);
            r += dy;
            CheckStop();
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = four ? (value + 1) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t{1};
            if (!rd.has(bytes)) break;
            const uint8_t* p = rd.here();
            for (unsigned i = 0; i < value && x < w; ++i, ++x)
                put(x, four ? ((i & 1) ? (p[i / 2] & 0x0Fu) : (p[i / 2] >> 4)) : p[i]);
            rd.skip(std::min(padded, rd.remaining()));
        }
    }
}

// File header and info header. `head` keeps the bytes read ahead: the info
// header, then room for bit-field masks and a full colour table.
Header ReadHeader(TStream& stream, int64_t available, std::vector<uint8_t>& head) {
    if (available < kFileHeaderSize + 4) Refuse("the file is too short to hold a bitmap header");
    uint8_t first[18];
    ReadExactly(stream, first, sizeof first);
    if (first[0] != 'B' || first[1] != 'M') throw EInvalidGraphic("Not a Windows bitmap file (no BM signature)");
    ByteReader fh(first, sizeof first);
    fh.skip(10);
    Header h;
    h.offBits = fh.u32();
    h.headerSize = fh.u32();
    const uint32_t hs = h.headerSize;
    if (hs == 12)
        h.os2v1 = true;
    else if (hs >= 16 && hs <= 64 && hs != 40 && hs != 52 && hs != 56)
        h.os2v2 = true;
    else if (hs != 40 && hs != 52 && hs != 56 && hs != 108 && hs != 124)
        Refuse("unsupported header size " + std::to_string(hs));

    const int64_t headLimit = int64_t{kFileHeaderSize} + hs + 16 + 256 * 4;
    head.resize(static_cast<size_t>(std::min(available, headLimit)));
    std::memcpy(head.data(), first, sizeof first);
    ReadExactly(stream, head.data() + sizeof first, head.size() - sizeof first);
    if (head.size() < kFileHeaderSize + hs) Refuse("the file ends inside its header");

    ByteReader rd(head.data(), head.size());
    rd.seek(kFileHeaderSize + 4);
    if (h.os2v1) {
        h.width = rd.u16();
        h.height = rd.u16();
        h.planes = rd.u16();
        h.bitCount = rd.u16();
    } else {
        h.width = rd.i32();
        const int32_t height = rd.i32();
        h.topDown = height < 0;
        h.height = h.topDown ? -int64_t{height} : height;
        h.planes = rd.u16();
        h.bitCount = rd.u16();
        // OS/2 2.x headers may stop after any field; absent ones are zero.
        if (hs >= 20) h.compression = rd.u32();
        if (hs >= 36) {
            rd.skip(12);  // image size and resolution: not needed
            h.colorsUsed = rd.u32();
        }
        if (!h.os2v2 && hs >= 52) {
            rd.seek(kFileHeaderSize + 40);
            for (int i = 0; i < (hs >= 56 ? 4 : 3); ++i) h.masks[i] = rd.u32();
        }
    }

    if (h.planes != 1) Refuse("it has " + std::to_string(h.planes) + " colour planes, not 1");
    if (h.width < 0) Refuse("negative width " + std::to_string(h.width));
    if (h.os2v2 && (h.compression == 3 || h.compression == 4))
        throw EInvalidGraphic("OS/2 Huffman and RLE24 compressed bitmaps are not supported");
    return h;
}

// Checks the compression against the depth and settles the four channel masks,
// reading them after the info header where a short header leaves them there.
void ReadMasks(Header& h, ByteReader& rd) {
    const uint32_t hs = h.headerSize;
    switch (h.compression) {
    case kRgb:
        if (h.bitCount != 1 && h.bitCount != 2 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 16 &&
            h.bitCount != 24 && h.bitCount != 32) {
            if (h.bitCount == 64) throw EInvalidGraphic("64-bit bitmaps are not supported");
            Refuse("bit count " + std::to_string(h.bitCount) + " is not a bitmap depth");
        }
        break;
    case kRle8:
        if (h.bitCount != 8) Refuse("RLE8 compression needs 8 bits per pixel");
        break;
    case kRle4:
        if (h.bitCount != 4) Refuse("RLE4 compression needs 4 bits per pixel");
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (h.bitCount != 16 && h.bitCount != 32) Refuse("bit fields need 16 or 32 bits per pixel");
        if (hs < 52) {  // the masks follow the header
            const int n = h.compression == kAlphaBitFields ? 4 : 3;
            for (int i = 0; i < n; ++i) {
                if (!rd.has(4)) Refuse("the file ends inside its bit field masks");
                h.masks[i] = rd.u32();
            }
        }
        if (h.compression == kBitFields && hs < 56) h.masks[3] = 0;
        break;
    case kJpegOrRle24: throw EInvalidGraphic("Bitmaps holding JPEG data are not supported");
    case kPng: throw EInvalidGraphic("Bitmaps holding PNG data are not supported");
    default: Refuse("unknown compression " + std::to_string(h.compression));
    }
    if (h.compression == kRgb || h.compression == kRle4 || h.compression == kRle8) {
        // Plain 16 and 32 bits use the standard layouts whatever the header says.
        if (h.bitCount == 16) {
            h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F, h.masks[3] = 0;
        } else if (h.bitCount == 32) {
            h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF, h.masks[3] = 0;
        }
    }
    if ((h.compression == kRle4 || h.compression == kRle8) && h.topDown)
        Refuse("a compressed bitmap cannot be stored top-down");
}

// Colour table: 3-byte entries for OS/2 1.x, 4-byte otherwise; none above 8 bits.
std::vector<TPaletteEntry> ReadColorTable(const Header& h, ByteReader& rd) {
    std::vector<TPaletteEntry> entries;
    if (h.bitCount > 8) return entries;
    const uint32_t room = 1u << h.bitCount;
    uint32_t count = h.colorsUsed == 0 ? room : std::min(h.colorsUsed, room);
    const size_t entrySize = h.os2v1 ? 3 : 4;
    const size_t tableStart = rd.position();
    // Some writers size the table by the pixel offset instead (OS/2 files above all).
    if (h.offBits > tableStart) {
        const size_t fits = (h.offBits - tableStart) / entrySize;
        if (fits >= 1 && fits < count) count = static_cast<uint32_t>(fits);
    }
    if (!rd.has(count * entrySize)) Refuse("the file ends inside its colour table");
    for (uint32_t i = 0; i < count; ++i) {
        TPaletteEntry e;
        e.Blue = rd.u8();
        e.Green = rd.u8();
        e.Red = rd.u8();
        if (!h.os2v1) rd.skip(1);
        entries.push_back(e);
    }
    return entries;
}

// A mask says so; a plain 32-bit file has alpha when any fourth byte is set,
// which is how ImageMagick and browsers read such files.
bool HasAlpha(const Header& h, const Raster& out) {
    if (h.masks[3] != 0) return true;
    if (h.compression != kRgb || h.bitCount != 32) return false;
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* row = out.Row(y);
        for (int x = 0; x < out.width; ++x)
            if (row[4 * x + 3] != 0) return true;
    }
    return false;
}

// The pixels at the header's offset, rows bottom-up unless the height said
// top-down, into a raster allocated only once the file is known to hold them.
void ReadPixels(TStream& stream, const Header& h, const Channel* ch, int64_t start, int64_t available, int64_t stride,
                std::vector<TPaletteEntry> entries, Raster& out) {
    if (h.offBits < kFileHeaderSize + h.headerSize) Refuse("the pixel data offset points into the header");
    if (h.offBits > available) Refuse("the pixel data offset lies beyond the end of the file");

    const int64_t dataSize = available - h.offBits;
    const bool rle = h.compression == kRle4 || h.compression == kRle8;
    const int64_t need = stride * h.height;
    // Checked before allocating, so a short file cannot make us reserve a huge raster.
    if (!rle && dataSize < need)
        Refuse("the file is truncated (" + std::to_string(need) + " bytes of pixels expected, " +
               std::to_string(dataSize) + " present)");

    bool direct = false;
    if (!entries.empty()) out.palette = detail::MakePalette(std::move(entries));
    detail::AllocateRaster(out, static_cast<int>(h.width), static_cast<int>(h.height), FormatFor(h, direct));
    stream.SetPosition(start + h.offBits);

    if (rle) {
        // Generous bound on what a sane encoder produces for this size.
        const int64_t bound = 4 * h.width * h.height + 4 * h.height + 1024;
        std::vector<uint8_t> data(static_cast<size_t>(std::min(dataSize, bound)));
        ReadExactly(stream, data.data(), data.size());
        DecodeRle(h, data.data(), data.size(), out);
    } else if (h.width > 0) {
        // Rows of no pixels hold nothing to read; a few bytes may claim 2^31 of them.
        std::vector<uint8_t> line(direct ? 0 : static_cast<size_t>(stride));
        for (int64_t i = 0; i < h.height; ++i) {
            // A worker asked to stop leaves within a band of rows.
            if ((i & 15) == 0) CheckStop();
            const int y = static_cast<int>(h.topDown ? i : h.height - 1 - i);
            if (direct) {
                ReadExactly(stream, out.Row(y), static_cast<size_t>(stride));
            } else {
                ReadExactly(stream, line.data(), line.size());
                ConvertRow(h, ch, line.data(), out, y);
            }
        }
    }
    if (out.format == TPixelFormat::pf32bit) out.alpha = HasAlpha(h, out);
}

}  // namespace

void ReadBmp(TStream& stream, Raster& raster) {
    CheckStop();
    const int64_t start = stream.GetPosition();
    const int64_t available = StreamBytesLeft(stream, start);
    std::vector<uint8_t> head;
    Header h = ReadHeader(stream, available, head);
    ByteReader rd(head.data(), head.size());
    rd.seek(kFileHeaderSize + h.headerSize);
    ReadMasks(h, rd);

    // Size check before anything is allocated.
    const detail::RasterSize fileRows = detail::CheckedRasterSize(h.width, h.height, static_cast<int>(h.bitCount));
    const Channel ch[4] = {Channel::From(h.masks[0], "red"), Channel::From(h.masks[1], "green"),
                           Channel::From(h.masks[2], "blue"), Channel::From(h.masks[3], "alpha")};
    std::vector<TPaletteEntry> entries = ReadColorTable(h, rd);

    Raster out;
    ReadPixels(stream, h, ch, start, available, int64_t{fileRows.stride}, std::move(entries), out);
    raster = std::move(out);
}

namespace {

void Put16(std::vector<uint8_t>& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

void WriteBmp(TStream& stream, const Raster& raster) {
    // Asked to stop before the first byte: nothing is written.
    CheckStop();
    const int bpp = BitsPerPixel(raster.format);
    // 32 bits with alpha get a version 5 header whose masks name the alpha
    // byte; without alpha the fourth byte is written as 0, which every reader
    // takes for an opaque picture under a plain header.
    const bool alpha = raster.format == TPixelFormat::pf32bit && raster.alpha;
    const uint32_t infoBytes = alpha ? 124 : 40;
    std::vector<TPaletteEntry> table;
    if (bpp <= 8) {
        if (raster.palette) table = raster.palette->Entries;
        table.resize(std::clamp<size_t>(table.size(), 1, size_t{1} << bpp));
    }
    const bool fields = raster.format == TPixelFormat::pf16bit;
    const uint32_t headerBytes =
        kFileHeaderSize + infoBytes + (fields ? 12 : 0) + static_cast<uint32_t>(4 * table.size());
    const uint64_t imageBytes = uint64_t{static_cast<uint32_t>(raster.stride)} * static_cast<uint32_t>(raster.height);
    const uint64_t fileBytes = headerBytes + imageBytes;
    if (fileBytes > 0xFFFFFFFFu) throw EInvalidGraphic("The bitmap is too large for a BMP file");

    std::vector<uint8_t> b;
    b.reserve(headerBytes);
    b.push_back('B');
    b.push_back('M');
    Put32(b, static_cast<uint32_t>(fileBytes));
    Put32(b, 0);
    Put32(b, headerBytes);
    Put32(b, infoBytes);
    Put32(b, static_cast<uint32_t>(raster.width));
    Put32(b, static_cast<uint32_t>(raster.height));
    Put16(b, 1);
    Put16(b, static_cast<unsigned>(bpp));
    Put32(b, fields || alpha ? kBitFields : kRgb);
    Put32(b, static_cast<uint32_t>(imageBytes));
    Put32(b, 2835);  // 72 dots per inch
    Put32(b, 2835);
    Put32(b, static_cast<uint32_t>(table.size()));
    Put32(b, 0);
    if (alpha) {
        Put32(b, 0x00FF0000);  // red, green, blue, alpha masks
        Put32(b, 0x0000FF00);
        Put32(b, 0x000000FF);
        Put32(b, 0xFF000000);
        Put32(b, 0x73524742);  // colour space "sRGB": no end points, gammas or profile follow
        b.insert(b.end(), 36 + 12, 0);
        Put32(b, 4);  // rendering intent: pictures
        Put32(b, 0);  // profile offset, size, reserved
        Put32(b, 0);
        Put32(b, 0);
    }
    if (fields) {
        Put32(b, 0xF800);
        Put32(b, 0x07E0);
        Put32(b, 0x001F);
    }
    for (const TPaletteEntry& e : table) {
        b.push_back(e.Blue);
        b.push_back(e.Green);
        b.push_back(e.Red);
        b.push_back(0);
    }
    stream.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
    if (raster.stride == 0) return;  // a picture of no columns has no pixel bytes
    if (raster.format == TPixelFormat::pf32bit && !alpha) {
        std::vector<uint8_t> row(static_cast<size_t>(raster.stride));
        for (int y = raster.height - 1; y >= 0; --y) {
            if ((y & 15) == 0) CheckStop();
            std::memcpy(row.data(), raster.Row(y), row.size());
            for (size_t i = 3; i < row.size(); i += 4) row[i] = 0;
            stream.WriteBuffer(row.data(), raster.stride);
        }
        return;
    }
    for (int y = raster.height - 1; y >= 0; --y) {
        if ((y & 15) == 0) CheckStop();
        stream.WriteBuffer(raster.Row(y), raster.stride);
    }
}

}  // namespace vmk::bmp
