#include "imaging/PngCodec.h"

#include <spng.h>

#include <cstring>
#include <limits>
#include <memory>

#include "imaging/JpegCodec.h"

namespace vmk::png {

namespace {

// Ancillary chunks are kept in memory whole: a hostile file could otherwise ask
// for gigabytes of text or profile. Image data is streamed and not limited here.
constexpr size_t kMaxChunkBytes = size_t{64} << 20;
constexpr size_t kMaxCachedBytes = size_t{128} << 20;

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

[[noreturn]] void Fail(const std::string& what) { throw EPNG(what); }

void Check(int error, const char* doing) {
    if (error != 0) Fail(std::string("Invalid PNG image (") + doing + "): " + spng_strerror(error));
}

[[noreturn]] void RefuseSize(int64_t width, int64_t height) {
    Fail("PNG image too large to load: " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
}

// The raster we keep plus the 16-bit buffer a deep file passes through count
// against the same bound as a JPEG's decoded pixels.
void CheckSize(int64_t width, int64_t height, bool deep) {
    if (width <= 0 || height <= 0 || width > kMaxPixels || height > kMaxPixels || width * height > kMaxPixels)
        RefuseSize(width, height);
    if (width * height * (deep ? 12 : 4) > kMaxPictureBytes) RefuseSize(width, height);
}

void ReadMetadata(spng_ctx* ctx, PngInfo& info) {
    spng_exif exif{};
    if (spng_get_exif(ctx, &exif) == 0 && exif.data != nullptr)
        info.Exif.assign(reinterpret_cast<const uint8_t*>(exif.data),
                         reinterpret_cast<const uint8_t*>(exif.data) + exif.length);
    spng_iccp iccp{};
    if (spng_get_iccp(ctx, &iccp) == 0 && iccp.profile != nullptr) {
        info.Icc.assign(reinterpret_cast<const uint8_t*>(iccp.profile),
                        reinterpret_cast<const uint8_t*>(iccp.profile) + iccp.profile_len);
        info.IccName.assign(iccp.profile_name, strnlen(iccp.profile_name, sizeof iccp.profile_name));
    }
    uint32_t count = 0;
    if (spng_get_text(ctx, nullptr, &count) == 0 && count > 0) {
        std::vector<spng_text> texts(count);
        if (spng_get_text(ctx, texts.data(), &count) == 0)
            for (uint32_t i = 0; i < count && i < texts.size(); ++i) {
                const spng_text& t = texts[i];
                if (t.type == SPNG_ITXT && std::strncmp(t.keyword, "XML:com.adobe.xmp", sizeof t.keyword) == 0 &&
                    t.text != nullptr) {
                    info.Xmp.assign(t.text, t.length);
                    break;
                }
            }
    }
}

}  // namespace

bool IsPng(const uint8_t* data, size_t size) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

PngInfo DecodePng(const uint8_t* data, size_t size, TBitmap& bitmap) {
    if (data == nullptr || !IsPng(data, size)) Fail("Not a PNG image");
    Context ctx(spng_ctx_new(0));
    if (!ctx) throw EOutOfMemory("Out of memory");
    spng_ctx* c = ctx.get();
    // The header's size is checked against our own bound below, which names it.
    Check(spng_set_image_limits(c, 0x7FFFFFFF, 0x7FFFFFFF), "limits");
    Check(spng_set_chunk_limits(c, kMaxChunkBytes, kMaxCachedBytes), "limits");
    Check(spng_set_png_buffer(c, data, size), "reading");

    spng_ihdr ihdr{};
    Check(spng_get_ihdr(c, &ihdr), "header");
    PngInfo info;
    const bool deep = ihdr.bit_depth == 16;
    CheckSize(ihdr.width, ihdr.height, deep);
    info.Width = static_cast<int>(ihdr.width);
    info.Height = static_cast<int>(ihdr.height);

    TBitmap out;
    out.SetPixelFormat(TPixelFormat::pf32bit);
    out.SetSize(info.Width, info.Height);
    if (out.GetStride() != info.Width * 4) Fail("Unexpected row layout");  // 32-bit rows are never padded
    uint8_t* pixels = out.GetScanline(0);
    const size_t count = static_cast<size_t>(info.Width) * static_cast<size_t>(info.Height);

    if (!deep) {
        // RGBA in place of BGRA, then the two outer bytes swapped.
        Check(spng_decode_image(c, pixels, count * 4, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS), "decoding");
        for (size_t i = 0; i < count; ++i) std::swap(pixels[i * 4], pixels[i * 4 + 2]);
    } else {
        // libspng reduces 16 bits to 8 by dropping the low byte; round instead,
        // as every other reader does.
        std::vector<uint16_t> wide(count * 4);
        Check(spng_decode_image(c, wide.data(), count * 8, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS), "decoding");
        auto narrow = [](uint16_t v) { return static_cast<uint8_t>((v + 128u) / 257u); };
        for (size_t i = 0; i < count; ++i) {
            pixels[i * 4] = narrow(wide[i * 4 + 2]);
            pixels[i * 4 + 1] = narrow(wide[i * 4 + 1]);
            pixels[i * 4 + 2] = narrow(wide[i * 4]);
            pixels[i * 4 + 3] = narrow(wide[i * 4 + 3]);
        }
    }
    // tRNS is known once the chunks before the pixels are read.
    spng_trns trns{};
    info.HasAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                    ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(c, &trns) == 0;
    out.SetAlphaChannel(info.HasAlpha);
    ReadMetadata(c, info);
    bitmap.Assign(out);
    return info;
}

PngInfo ReadPng(TStream& stream, TBitmap& bitmap) {
    const int64_t remaining = stream.GetSize() - stream.GetPosition();
    if (remaining <= 0) Fail("Not a PNG image");
    // The file is read whole; one past the picture bound is refused unread.
    if (remaining > kMaxPictureBytes) Fail("PNG file too large to load");
    std::vector<uint8_t> bytes(static_cast<size_t>(remaining));
    stream.ReadBuffer(bytes.data(), remaining);
    return DecodePng(bytes.data(), bytes.size(), bitmap);
}

}  // namespace vmk::png
