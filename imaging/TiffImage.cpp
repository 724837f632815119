#include "imaging/TiffImage.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include <tiffio.h>

#include "imaging/ChannelOrder.h"
#include "imaging/JpegCodec.h"
#include "imaging/TiffExif.h"

namespace vmk {

namespace {

// The file in memory, read or written through libtiff's client procedures.
struct MemoryFile {
    const uint8_t* data = nullptr;        // reading
    std::vector<uint8_t>* out = nullptr;  // writing
    uint64_t size = 0;
    uint64_t pos = 0;
    std::string error;  // libtiff's first complaint
};

MemoryFile& FileOf(thandle_t handle) { return *static_cast<MemoryFile*>(handle); }

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t count) {
    MemoryFile& f = FileOf(handle);
    // A writer reads back what it wrote when it goes back to a directory.
    const uint8_t* data = f.out != nullptr ? f.out->data() : f.data;
    if (count < 0 || data == nullptr || f.pos >= f.size) return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), f.size - f.pos);
    std::memcpy(buffer, data + f.pos, n);
    f.pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t count) {
    MemoryFile& f = FileOf(handle);
    if (count < 0 || f.out == nullptr) return -1;
    const uint64_t end = f.pos + static_cast<uint64_t>(count);
    if (end > static_cast<uint64_t>(kMaxPictureBytes) * 2) return -1;
    try {
        if (end > f.out->size()) f.out->resize(end);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(f.out->data() + f.pos, buffer, static_cast<size_t>(count));
    f.pos = end;
    f.size = std::max<uint64_t>(f.size, end);
    return count;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& f = FileOf(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = f.pos;
    if (whence == SEEK_END) base = f.size;
    // Offsets are unsigned; a seek before the start wraps and is refused here.
    const uint64_t target = base + offset;
    if (target < base && offset < (uint64_t{1} << 63)) return static_cast<toff_t>(-1);
    if (target > (uint64_t{1} << 62)) return static_cast<toff_t>(-1);
    f.pos = target;
    return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return FileOf(handle).size; }
// A file being read is already in memory: libtiff takes its strips from
// there rather than copying each through ReadProc.
int MapProc(thandle_t handle, void** base, toff_t* size) {
    const MemoryFile& f = FileOf(handle);
    if (f.data == nullptr || f.out != nullptr) return 0;
    *base = const_cast<uint8_t*>(f.data);  // NOLINT(cppcoreguidelines-pro-type-const-cast): read only, mode "r"
    *size = f.size;
    return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int ErrorHandler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto& f = *static_cast<MemoryFile*>(user);
    if (f.error.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, fmt, ap);
        f.error = std::string(module ? module : "libtiff") + ": " + text;
    }
    return 1;  // handled: the process-wide handler stays silent
}

int WarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

TiffPtr Open(MemoryFile& file, const char* mode) {
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) throw EInvalidGraphic("TIFF reader out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ErrorHandler, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), WarningHandler, &file);
    // A damaged strip or tile size must not ask for more than a picture may cost.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxPictureBytes);
    return TiffPtr(TIFFClientOpenExt("picture", mode, &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                     MapProc, UnmapProc, options.get()));
}

[[noreturn]] void Fail(const MemoryFile& file, const std::string& what) {
    throw EInvalidGraphic("TIFF " + what + (file.error.empty() ? std::string() : " (" + file.error + ")"));
}

std::vector<uint8_t> Tag(TIFF* tif, uint32_t tag) {
    uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(tif, tag, &count, &data) != 1 || data == nullptr) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return {bytes, bytes + count};
}

struct RgbaImage {
    TIFFRGBAImage img{};
    bool begun = false;
    ~RgbaImage() {
        if (begun) TIFFRGBAImageEnd(&img);
    }
};

// libtiff's RGBA rows hold R, G, B, A bytes; with alpha they are premultiplied.
void TakeRow(const uint32_t* from, uint8_t* to, int width, bool alpha) {
    for (int x = 0; x < width; ++x) {
        const uint32_t p = from[x];
        uint8_t r = static_cast<uint8_t>(TIFFGetR(p)), g = static_cast<uint8_t>(TIFFGetG(p));
        uint8_t b = static_cast<uint8_t>(TIFFGetB(p));
        if (!alpha) {
            to[0] = b;
            to[1] = g;
            to[2] = r;
            to += 3;
            continue;
        }
        const unsigned a = TIFFGetA(p);
        if (a != 0 && a != 255) {
            const auto straight = [a](unsigned c) {
                return static_cast<uint8_t>(std::min(255u, (c * 255 + a / 2) / a));
            };
            r = straight(r);
            g = straight(g);
            b = straight(b);
        }
        to[0] = b;
        to[1] = g;
        to[2] = r;
        to[3] = static_cast<uint8_t>(a);
        to += 4;
    }
}

// The layouts read here rather than through libtiff's RGBA reader, which
// cuts 16-bit samples and colour maps to 8 bits instead of rounding them:
// unsigned samples in one plane, gray or RGB (with alpha) of 8 or 16 bits,
// and palette indexes of 1 to 8 bits.
struct Layout {
    uint16_t photometric = 0, bits = 0, samples = 0, extra = 0;
    bool alpha = false, associated = false;
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
};

bool DirectLayout(TIFF* tif, Layout& l) {
    uint16_t planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, extraCount = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric)) return false;
    if (planar != PLANARCONFIG_CONTIG || format != SAMPLEFORMAT_UINT) return false;
    const uint16_t colours = l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (l.samples < colours || l.samples > colours + 1 || extraCount != l.samples - colours) return false;
    l.extra = extraCount;
    if (extraCount == 1 && extraKinds != nullptr) {
        l.alpha = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA;
        l.associated = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    switch (l.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_RGB: return l.bits == 8 || l.bits == 16;
    case PHOTOMETRIC_PALETTE:
        return l.samples == 1 && (l.bits == 1 || l.bits == 2 || l.bits == 4 || l.bits == 8) &&
               TIFFGetField(tif, TIFFTAG_COLORMAP, &l.red, &l.green, &l.blue) == 1;
    default: return false;
    }
}

// 16 bits to 8, rounded to the nearest.
inline uint8_t Round16(unsigned v) { return static_cast<uint8_t>((v * 255 + 32767) / 65535); }

// Turns rows as the file stores them into the bitmap's.
class TRowConverter {
public:
    TRowConverter(const Layout& l, int width) : l_(l), width_(static_cast<size_t>(width)) {
        // A colour map of 8-bit values (some writers store them so) is taken as it is.
        if (l.photometric == PHOTOMETRIC_PALETTE)
            for (size_t i = 0; i < (size_t{1} << l.bits); ++i)
                if (l.red[i] > 255 || l.green[i] > 255 || l.blue[i] > 255) eightBitMap_ = false;
    }

    void Convert(const uint8_t* row, uint8_t* to) const {
        // The common layouts alone, in tight loops: 8-bit RGB, and RGBA with straight alpha.
        if (l_.photometric == PHOTOMETRIC_RGB && l_.bits == 8 && l_.samples == 3) {
            detail::SwapRedBlue(row, to, width_, 3);
            return;
        }
        if (l_.photometric == PHOTOMETRIC_RGB && l_.bits == 8 && l_.samples == 4 && l_.alpha && !l_.associated) {
            detail::SwapRedBlue(row, to, width_, 4);
            return;
        }
        Any(row, to);
    }

private:
    uint8_t Mapped(uint16_t v) const { return eightBitMap_ ? static_cast<uint8_t>(v) : Round16(v); }

    void Any(const uint8_t* row, uint8_t* to) const {
        const Layout& l = l_;
        const size_t out = l.alpha ? 4 : 3;
        for (size_t x = 0; x < width_; ++x, to += out) {
            if (l.photometric == PHOTOMETRIC_PALETTE) {
                const size_t bit = x * l.bits;
                const unsigned index = (row[bit / 8] >> (8 - l.bits - bit % 8)) & ((1u << l.bits) - 1);
                to[0] = Mapped(l.blue[index]);
                to[1] = Mapped(l.green[index]);
                to[2] = Mapped(l.red[index]);
                continue;
            }
            uint8_t v[4] = {0, 0, 0, 255};
            for (size_t s = 0; s < l.samples; ++s) {
                const size_t at = x * l.samples + s;
                if (l.bits == 8) {
                    v[s] = row[at];
                } else {
                    uint16_t wide = 0;  // libtiff hands samples over in the machine's byte order
                    std::memcpy(&wide, row + at * 2, 2);
                    v[s] = Round16(wide);
                }
            }
            if (l.photometric != PHOTOMETRIC_RGB) {
                const uint8_t gray = l.photometric == PHOTOMETRIC_MINISWHITE ? static_cast<uint8_t>(255 - v[0]) : v[0];
                v[3] = l.samples == 2 ? v[1] : uint8_t{255};
                v[0] = v[1] = v[2] = gray;
            }
            if (l.alpha && l.associated && v[3] != 0 && v[3] != 255)
                for (int c = 0; c < 3; ++c)
                    v[c] = static_cast<uint8_t>(std::min(255u, (v[c] * 255u + v[3] / 2u) / v[3]));
            to[0] = v[2];
            to[1] = v[1];
            to[2] = v[0];
            if (l.alpha) to[3] = v[3];
        }
    }

    const Layout& l_;
    size_t width_;
    bool eightBitMap_ = true;
};

// Reads every row of the picture as the file stores them (rowBytes each) and
// converts it into the bitmap: strips a strip at a time, tiles a row of tiles
// at a time, so that no second raster is ever held.
bool ReadRows(TIFF* tif, const Layout& layout, uint32_t width, uint32_t height, size_t rowBytes, TBitmap& bitmap) {
    const TRowConverter converter(layout, static_cast<int>(width));
    std::vector<uint8_t> band;
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &th) || tw == 0 ||
            th == 0)
            return false;
        const tmsize_t tileBytes = TIFFTileSize(tif);
        const tmsize_t tileRow = TIFFTileRowSize(tif);
        if (tileBytes <= 0 || tileRow <= 0 || static_cast<uint64_t>(tileRow) * th > static_cast<uint64_t>(tileBytes))
            return false;
        // Whole bytes: the layouts here have 8 or more bits a pixel when tiled.
        const uint64_t bitsPerPixel = rowBytes * 8 / width;
        if (bitsPerPixel % 8 != 0) return false;
        const size_t px = bitsPerPixel / 8;
        std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
        // A band of tile rows, never more than the picture's own rows.
        band.assign(rowBytes * std::min(th, height), 0);
        for (uint32_t ty = 0; ty < height; ty += th) {
            const uint32_t rows = std::min(th, height - ty);
            for (uint32_t tx = 0; tx < width; tx += tw) {
                if (TIFFReadTile(tif, tile.data(), tx, ty, 0, 0) < 0) return false;
                const size_t copy = std::min<size_t>(tw, width - tx) * px;
                for (uint32_t y = 0; y < rows; ++y)
                    std::memcpy(band.data() + y * rowBytes + tx * px, tile.data() + y * static_cast<size_t>(tileRow),
                                copy);
            }
            for (uint32_t y = 0; y < rows; ++y)
                converter.Convert(band.data() + y * rowBytes, bitmap.GetScanline(static_cast<int>(ty + y)));
        }
        return true;
    }
    uint32_t rowsPerStrip = height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, height);
    if (static_cast<uint64_t>(TIFFScanlineSize64(tif)) != rowBytes) return false;
    band.resize(rowBytes * rowsPerStrip);
    for (uint32_t row = 0, strip = 0; row < height; row += rowsPerStrip, ++strip) {
        const size_t rows = std::min(rowsPerStrip, height - row);
        const tmsize_t got = TIFFReadEncodedStrip(tif, strip, band.data(), static_cast<tmsize_t>(rows * rowBytes));
        if (got < 0) return false;
        // What a strip cut short leaves out reads as zeros.
        std::fill(band.begin() + std::min<ptrdiff_t>(got, static_cast<ptrdiff_t>(rows * rowBytes)),
                  band.begin() + static_cast<ptrdiff_t>(rows * rowBytes), uint8_t{0});
        for (size_t y = 0; y < rows; ++y)
            converter.Convert(band.data() + y * rowBytes, bitmap.GetScanline(static_cast<int>(row + y)));
    }
    return true;
}

// Any other layout libtiff knows (CMYK, YCbCr, LogLuv, separate planes...),
// through its RGBA reader.
void ReadThroughRgba(TIFF* tif, const MemoryFile& file, uint32_t width, uint32_t height, TBitmap& bitmap) {
    char message[1024] = "";
    RgbaImage rgba;
    if (!TIFFRGBAImageOK(tif, message)) Fail(file, std::string("picture layout not supported: ") + message);
    if (!TIFFRGBAImageBegin(&rgba.img, tif, 1, message)) Fail(file, std::string("picture damaged: ") + message);
    rgba.begun = true;
    // The rows as stored: the orientation is ours to apply, all eight of them
    // (libtiff's own turns only flip).
    rgba.img.orientation = ORIENTATION_TOPLEFT;
    rgba.img.req_orientation = ORIENTATION_TOPLEFT;
    const bool alpha = rgba.img.alpha != 0;
    std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
    if (!TIFFRGBAImageGet(&rgba.img, raster.data(), width, height)) Fail(file, "picture damaged");
    PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), alpha);
    for (uint32_t y = 0; y < height; ++y)
        TakeRow(raster.data() + static_cast<size_t>(y) * width, bitmap.GetScanline(static_cast<int>(y)),
                static_cast<int>(width), alpha);
}

// ---- EXIF in TIFF results

constexpr uint16_t kOrientationTag = 274;

// A number of an entry's value, in the machine's terms.
double EntryValue(const TExifEntry& e, bool big, size_t i) {
    TExifEntry part{e.Tag, 0, 1, {}};
    const auto word = [&](size_t at) {
        part.Type = 4;
        part.Value.assign(e.Value.begin() + static_cast<ptrdiff_t>(at),
                          e.Value.begin() + static_cast<ptrdiff_t>(at + 4));
        return ExifEntryNumber(part, big);
    };
    switch (e.Type) {
    case TIFF_SBYTE: return static_cast<int8_t>(e.Value[i]);
    case TIFF_SSHORT: return static_cast<int16_t>(ExifEntryNumber(e, big, i));
    case TIFF_SLONG: return static_cast<int32_t>(ExifEntryNumber(e, big, i));
    case TIFF_RATIONAL: {
        const uint32_t den = word(i * 8 + 4);
        return den == 0 ? 0.0 : static_cast<double>(word(i * 8)) / den;
    }
    case TIFF_SRATIONAL: {
        const auto den = static_cast<int32_t>(word(i * 8 + 4));
        return den == 0 ? 0.0 : static_cast<double>(static_cast<int32_t>(word(i * 8))) / den;
    }
    case TIFF_FLOAT: {
        const uint32_t bits = word(i * 4);
        float v = 0;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    case TIFF_DOUBLE: {
        const uint64_t bits = (uint64_t{word(big ? i * 8 : i * 8 + 4)} << 32) | word(big ? i * 8 + 4 : i * 8);
        double v = 0;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    default: return ExifEntryNumber(e, big, i);
    }
}

// Sets one EXIF entry in the directory being made, as libtiff defines its
// tag: how many values, passed how, stored in what. An entry of another type
// or count than the definition, or of a tag libtiff does not know there, is
// left out rather than passed wrongly.
bool SetExifField(TIFF* t, const TExifEntry& e, bool big) {
    const TIFFField* field = TIFFFindField(t, e.Tag, TIFF_ANY);
    if (field == nullptr || TIFFFieldDataType(field) != static_cast<TIFFDataType>(e.Type) || e.Count == 0) return false;
    const int writeCount = TIFFFieldWriteCount(field);
    const bool passCount = TIFFFieldPassCount(field) != 0;
    const auto setCounted = [&](uint32_t count, const void* values) {
        return writeCount == TIFF_VARIABLE2 ? TIFFSetField(t, e.Tag, count, values) == 1
                                            : TIFFSetField(t, e.Tag, static_cast<int>(count), values) == 1;
    };
    if (e.Type == TIFF_ASCII) {
        const std::string text(reinterpret_cast<const char*>(e.Value.data()),
                               strnlen(reinterpret_cast<const char*>(e.Value.data()), e.Value.size()));
        return passCount ? setCounted(static_cast<uint32_t>(text.size() + 1), text.c_str())
                         : TIFFSetField(t, e.Tag, text.c_str()) == 1;
    }
    const int storage = TIFFFieldSetGetSize(field);
    const size_t size = e.Value.size() / e.Count;
    const bool real =
        e.Type == TIFF_RATIONAL || e.Type == TIFF_SRATIONAL || e.Type == TIFF_FLOAT || e.Type == TIFF_DOUBLE;
    if (real ? storage != 4 && storage != 8 : storage != static_cast<int>(size)) return false;
    std::vector<uint8_t> values(static_cast<size_t>(storage) * e.Count);
    for (size_t i = 0; i < e.Count; ++i) {
        uint8_t* to = values.data() + i * static_cast<size_t>(storage);
        const double v = EntryValue(e, big, i);
        if (real && storage == 4) {
            const auto f = static_cast<float>(v);
            std::memcpy(to, &f, 4);
        } else if (real) {
            std::memcpy(to, &v, 8);
        } else if (storage == 1) {
            *to = e.Value[i];
        } else if (storage == 2) {
            const auto n = static_cast<uint16_t>(ExifEntryNumber(e, big, i));
            std::memcpy(to, &n, 2);
        } else {
            const uint32_t n = ExifEntryNumber(e, big, i);
            std::memcpy(to, &n, 4);
        }
    }
    if (passCount) return setCounted(e.Count, values.data());
    if (writeCount == 1 && e.Count == 1) {
        if (real) return TIFFSetField(t, e.Tag, EntryValue(e, big, 0)) == 1;
        if (storage == 4) return TIFFSetField(t, e.Tag, ExifEntryNumber(e, big, 0)) == 1;
        return TIFFSetField(t, e.Tag, static_cast<int>(EntryValue(e, big, 0))) == 1;
    }
    if (writeCount > 1 && e.Count == static_cast<uint32_t>(writeCount))
        return TIFFSetField(t, e.Tag, values.data()) == 1;
    return false;
}

// The first directory's EXIF entries are tags of the result's own first
// directory; its orientation is the result's (upright) and stays as set.
void SetMainExifFields(TIFF* t, const TExifTree& tree) {
    for (const TExifEntry& e : tree.Main)
        if (e.Tag != kOrientationTag) SetExifField(t, e, tree.BigEndian);
}

// Writes the EXIF and GPS directories after the finished first directory
// and points it at them. Called with the picture written.
bool WriteExifDirectories(TIFF* t, const TExifTree& tree) {
    if (!TIFFWriteDirectory(t)) return false;
    // A directory none of whose entries libtiff takes is left out: libtiff
    // cannot write an empty one.
    const auto write = [&](const std::vector<TExifEntry>& entries, int (*create)(TIFF*), uint64_t& offset) {
        if (entries.empty()) return true;
        if (create(t) != 0) return false;
        bool any = false;
        for (const TExifEntry& e : entries) any = SetExifField(t, e, tree.BigEndian) || any;
        const bool written = !any || TIFFWriteCustomDirectory(t, &offset) != 0;
        // libtiff 4.5 keeps a custom directory's values when it moves on to
        // another directory; freeing them here is what it would do.
        TIFFFreeDirectory(t);
        return written;
    };
    uint64_t exifOffset = 0, gpsOffset = 0;
    if (!write(tree.Exif, TIFFCreateEXIFDirectory, exifOffset) || !write(tree.Gps, TIFFCreateGPSDirectory, gpsOffset))
        return false;
    if (!TIFFSetDirectory(t, 0)) return false;
    for (const auto& [tag, offset] : {std::pair{TIFFTAG_EXIFIFD, exifOffset}, std::pair{TIFFTAG_GPSIFD, gpsOffset}})
        if (offset != 0)
            TIFFSetField(t, tag, offset);
        else
            TIFFUnsetField(t, tag);
    return TIFFRewriteDirectory(t) != 0;
}

}  // namespace

void SilenceTiffLibrary() {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}

bool TTIFFImage::Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) {
    MemoryFile file;
    file.data = data;
    file.size = size;
    TiffPtr tif = Open(file, "r");
    if (!tif) Fail(file, "file damaged or not a TIFF file");
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        Fail(file, "file has no picture size");
    // The RGBA reader needs a whole raster of its own besides ours; the
    // direct path's samples take no more.
    CheckPictureSize("TIFF", width, height, 4, int64_t{width} * height * 4);
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);

    Layout layout;
    if (DirectLayout(tif.get(), layout)) {
        const uint64_t rowBytes = (uint64_t{width} * layout.samples * layout.bits + 7) / 8;
        CheckPictureSize("TIFF", width, height, 4, static_cast<int64_t>(rowBytes * height));
        PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), layout.alpha);
        if (!ReadRows(tif.get(), layout, width, height, rowBytes, bitmap)) Fail(file, "picture damaged");
    } else {
        ReadThroughRgba(tif.get(), file, width, height, bitmap);
    }
    OrientUpright(bitmap, OrientationOf(orientation));

    // A file with EXIF or GPS directories carries them with its descriptive
    // tags, as a block; its orientation, now applied, reads 1.
    const TExifTree exif = ReadExifTree(data, size);
    if (!exif.Exif.empty() || !exif.Gps.empty()) {
        metadata.Exif = ExifBlockOf(exif);
        MarkExifBlockUpright(metadata.Exif);
    }
    metadata.Icc = Tag(tif.get(), TIFFTAG_ICCPROFILE);
    metadata.Xmp = Tag(tif.get(), TIFFTAG_XMLPACKET);
    if (!IsRgbProfile(metadata.Icc)) metadata.Icc.clear();
    return true;
}

namespace {

// The whole file, with the EXIF when withExif is set.
std::vector<uint8_t> TiffBytes(const TBitmap& bitmap, const TPictureMetadata& metadata, bool withExif) {
    std::vector<uint8_t> bytes;
    // Room for the raw samples: the file is never larger (Deflate with the
    // predictor only shrinks a photo), so it grows without being moved.
    bytes.reserve(static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(bitmap.Height()) *
                      (bitmap.GetAlphaChannel() ? 4 : 3) +
                  (size_t{1} << 16));
    MemoryFile file;
    file.out = &bytes;
    {
        TiffPtr tif = Open(file, "w");
        if (!tif) Fail(file, "writer set-up failed");
        const bool alpha = bitmap.GetAlphaChannel();
        const int width = bitmap.Width(), height = bitmap.Height();
        const uint16_t samples = alpha ? 4 : 3;
        TIFF* t = tif.get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        // The fastest level: with the predictor, higher levels gain a few
        // percent of size at several times the time.
        TIFFSetField(t, TIFFTAG_ZIPQUALITY, 1);
        if (alpha) {
            const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t{1}, extra);
        }
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        if (IsRgbProfile(metadata.Icc))
            TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(metadata.Icc.size()), metadata.Icc.data());
        if (!metadata.Xmp.empty())
            TIFFSetField(t, TIFFTAG_XMLPACKET, static_cast<uint32_t>(metadata.Xmp.size()), metadata.Xmp.data());
        // The EXIF as a JPEG result has it: sized for this picture, no thumbnail.
        std::vector<uint8_t> payload(6 + metadata.Exif.size());
        std::memcpy(payload.data(), "Exif\0", 6);
        std::copy(metadata.Exif.begin(), metadata.Exif.end(), payload.begin() + 6);
        const bool fits = withExif && !metadata.Exif.empty() && FitExifToResult(payload, width, height);
        const TExifTree exif = fits ? ReadExifTree(payload.data() + 6, payload.size() - 6) : TExifTree{};
        SetMainExifFields(t, exif);
        // Room for the pointers in the first directory; they are set once
        // the directories they point at are written after the picture.
        if (!exif.Exif.empty()) TIFFSetField(t, TIFFTAG_EXIFIFD, uint64_t{0});
        if (!exif.Gps.empty()) TIFFSetField(t, TIFFTAG_GPSIFD, uint64_t{0});

        std::vector<uint8_t> row(static_cast<size_t>(width) * samples);
        std::vector<TColor> colors(static_cast<size_t>(width));
        for (int y = 0; y < height; ++y) {
            if (alpha || bitmap.GetPixelFormat() == TPixelFormat::pf24bit) {
                detail::SwapRedBlue(bitmap.GetScanline(y), row.data(), static_cast<size_t>(width), samples);
            } else {
                // Any other held format, through its colours (0x00BBGGRR).
                bitmap.GetRowColors(y, 0, width, colors.data());
                for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
                    row[x * 3] = GetRValue(colors[x]);
                    row[x * 3 + 1] = GetGValue(colors[x]);
                    row[x * 3 + 2] = GetBValue(colors[x]);
                }
            }
            if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) != 1) Fail(file, "writing failed");
        }
        if (!exif.Exif.empty() || !exif.Gps.empty()) {
            if (!WriteExifDirectories(t, exif)) Fail(file, "writing the EXIF failed");
        } else if (!TIFFFlush(t)) {
            Fail(file, "writing failed");
        }
    }
    if (!file.error.empty()) Fail(file, "writing failed");
    return bytes;
}

}  // namespace

void TTIFFImage::Encode(const TBitmap& bitmap, TStream& out) {
    const TPictureMetadata& metadata = GetMetadata();
    std::vector<uint8_t> bytes;
    try {
        bytes = TiffBytes(bitmap, metadata, true);
    } catch (const EInvalidGraphic&) {
        // EXIF libtiff will not write (a damaged source's) costs the result
        // its EXIF, not the result itself.
        if (metadata.Exif.empty()) throw;
        bytes = TiffBytes(bitmap, metadata, false);
    }
    out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace vmk
