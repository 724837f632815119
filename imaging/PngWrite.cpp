#include "imaging/PngWrite.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <spng.h>

#include "imaging/ChannelOrder.h"

namespace vmk {

namespace {

struct ContextDeleter {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
struct BufferDeleter {
    void operator()(void* p) const { std::free(p); }  // NOLINT(cppcoreguidelines-no-malloc): libspng's malloc
};

void Check(int error) {
    if (error != 0) throw EInvalidGraphic(std::string("PNG writing failed (") + spng_strerror(error) + ")");
}

}  // namespace

// The zlib level is low on purpose: a stamped photo compresses only a few
// percent better at the default level 6 while taking several times as long;
// the adaptive row filters, which do most of the work, stay on.
void WritePng(const TBitmap& bitmap, const TPictureMetadata& metadata, TStream& out) {
    const bool alpha = bitmap.GetAlphaChannel();
    const int width = bitmap.Width(), height = bitmap.Height();
    if (width <= 0 || height <= 0) throw EInvalidGraphicOperation("There is no picture to save");
    std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) throw EInvalidGraphic("PNG writer out of memory");
    spng_ctx* ctx = context.get();
    Check(spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1));
    Check(spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, kPngCompressionLevel));
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(width);
    ihdr.height = static_cast<uint32_t>(height);
    ihdr.bit_depth = 8;
    ihdr.color_type = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    Check(spng_set_ihdr(ctx, &ihdr));

    // libspng takes the chunks' data by pointer and copies nothing it does not need.
    std::vector<uint8_t> exif = metadata.Exif, icc = metadata.Icc, xmp = metadata.Xmp;
    // libspng measures text with strlen: the packet gets its terminating zero.
    const size_t xmpLength = xmp.size();
    xmp.push_back(0);
    if (!exif.empty()) {
        spng_exif e{exif.size(), reinterpret_cast<char*>(exif.data())};
        Check(spng_set_exif(ctx, &e));
    }
    if (IsRgbProfile(icc)) {
        spng_iccp p{};
        std::strcpy(p.profile_name, "ICC Profile");
        p.profile_len = icc.size();
        p.profile = reinterpret_cast<char*>(icc.data());
        Check(spng_set_iccp(ctx, &p));
    }
    char empty[1] = "";
    if (xmpLength > 0) {
        spng_text t{};
        std::strcpy(t.keyword, "XML:com.adobe.xmp");
        t.type = SPNG_ITXT;
        t.length = xmpLength;
        t.text = reinterpret_cast<char*>(xmp.data());
        t.language_tag = empty;
        t.translated_keyword = empty;
        Check(spng_set_text(ctx, &t, 1));
    }

    Check(spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE));
    const size_t bytes = alpha ? 4 : 3;
    std::vector<uint8_t> row(static_cast<size_t>(width) * bytes);
    std::vector<TColor> colors(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        if (alpha || bitmap.GetPixelFormat() == TPixelFormat::pf24bit) {
            detail::SwapRedBlue(bitmap.GetScanline(y), row.data(), static_cast<size_t>(width), static_cast<int>(bytes));
        } else {
            bitmap.GetRowColors(y, 0, width, colors.data());
            for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
                row[x * 3] = GetRValue(colors[x]);
                row[x * 3 + 1] = GetGValue(colors[x]);
                row[x * 3 + 2] = GetBValue(colors[x]);
            }
        }
        const int status = spng_encode_row(ctx, row.data(), row.size());
        if (status != 0 && !(status == SPNG_EOI && y == height - 1)) Check(status);
    }
    size_t length = 0;
    int error = 0;
    std::unique_ptr<void, BufferDeleter> png(spng_get_png_buffer(ctx, &length, &error));
    Check(error);
    if (!png) throw EInvalidGraphic("PNG writing failed");
    out.WriteBuffer(png.get(), static_cast<int64_t>(length));
}

}  // namespace vmk
