#include "imaging/WebpImage.h"

#include <cstring>
#include <memory>
#include <string>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "core/Streams.h"

namespace vmk {

namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDeleter {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};
struct MuxDeleter {
    void operator()(WebPMux* m) const { WebPMuxDelete(m); }
};
// Memory handed out by libwebp goes back through WebPFree.
struct WebPDataHolder {
    WebPData data{};
    WebPDataHolder() { WebPDataInit(&data); }
    ~WebPDataHolder() { WebPDataClear(&data); }
    WebPDataHolder(const WebPDataHolder&) = delete;
    WebPDataHolder& operator=(const WebPDataHolder&) = delete;
};
struct PictureHolder {
    WebPPicture picture{};
    WebPMemoryWriter writer{};
    PictureHolder() {
        WebPPictureInit(&picture);
        WebPMemoryWriterInit(&writer);
    }
    ~PictureHolder() {
        WebPPictureFree(&picture);
        WebPMemoryWriterClear(&writer);
    }
    PictureHolder(const PictureHolder&) = delete;
    PictureHolder& operator=(const PictureHolder&) = delete;
};

[[noreturn]] void Fail(const std::string& what) { throw EInvalidGraphic("WebP " + what); }

std::vector<uint8_t> Chunk(WebPDemuxer* demux, const char* fourcc) {
    WebPChunkIterator it;
    std::vector<uint8_t> bytes;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &it)) bytes.assign(it.chunk.bytes, it.chunk.bytes + it.chunk.size);
    WebPDemuxReleaseChunkIterator(&it);
    return bytes;
}

// The first frame of an animation, composed on its canvas as a viewer shows it.
void DecodeFirstFrame(const WebPData& file, TBitmap& bitmap, bool alpha) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) Fail("decoder set-up failed");
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> decoder(WebPAnimDecoderNew(&file, &options));
    if (!decoder) Fail("animation damaged");
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) Fail("animation damaged");
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr)
        Fail("animation frame damaged");
    PrepareBitmap(bitmap, static_cast<int>(info.canvas_width), static_cast<int>(info.canvas_height), alpha);
    const size_t width = info.canvas_width;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* from = canvas + static_cast<size_t>(y) * width * 4;
        uint8_t* to = bitmap.GetScanline(y);
        if (alpha) {
            std::memcpy(to, from, width * 4);
        } else {
            for (size_t x = 0; x < width; ++x) std::memcpy(to + x * 3, from + x * 4, 3);
        }
    }
}

// A still picture straight into the bitmap's rows.
void DecodeStill(const WebPData& file, TBitmap& bitmap, const WebPBitstreamFeatures& features) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) Fail("decoder set-up failed");
    const bool alpha = features.has_alpha != 0;
    PrepareBitmap(bitmap, features.width, features.height, alpha);
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = bitmap.GetScanline(0);
    config.output.u.RGBA.stride = bitmap.GetStride();
    config.output.u.RGBA.size = static_cast<size_t>(bitmap.GetStride()) * static_cast<size_t>(features.height);
    const VP8StatusCode status = WebPDecode(file.bytes, file.size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) Fail("image damaged (libwebp status " + std::to_string(status) + ")");
}

}  // namespace

bool TWebPImage::Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) {
    const WebPData file{data, size};
    // The header first: the sizes are checked before any pixel is decoded.
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&file));
    if (!demux) Fail("file damaged or not a WebP file");
    const uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    const int64_t width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    const int64_t height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    const bool animated = (flags & ANIMATION_FLAG) != 0;
    // An animation also holds its canvas while composing frames.
    CheckPictureSize("WebP", width, height, 4, animated ? width * height * 4 : 0);
    metadata.Exif = Chunk(demux.get(), "EXIF");
    metadata.Icc = Chunk(demux.get(), "ICCP");
    metadata.Xmp = Chunk(demux.get(), "XMP ");
    // Some writers put the JPEG segment's "Exif\0\0" before the TIFF block.
    if (metadata.Exif.size() >= 6 && std::memcmp(metadata.Exif.data(), "Exif\0\0", 6) == 0)
        metadata.Exif.erase(metadata.Exif.begin(), metadata.Exif.begin() + 6);
    bool lossless = false;
    if (animated) {
        DecodeFirstFrame(file, bitmap, (flags & ALPHA_FLAG) != 0);
    } else {
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) Fail("header damaged");
        if (features.width != width || features.height != height) Fail("image size differs from its canvas");
        DecodeStill(file, bitmap, features);
        lossless = features.format == 2;
    }
    OrientUpright(bitmap, ExifBlockOrientation(metadata.Exif));
    MarkExifBlockUpright(metadata.Exif);
    if (!IsRgbProfile(metadata.Icc)) metadata.Icc.clear();
    return lossless;
}

void TWebPImage::Encode(const TBitmap& bitmap, TStream& out) {
    WebPConfig config;
    if (!WebPConfigInit(&config)) Fail("encoder set-up failed");
    if (GetLossless()) {
        // cwebp's own default effort for lossless: a fair size at a fair speed.
        if (!WebPConfigLosslessPreset(&config, 6)) Fail("encoder set-up failed");
    } else {
        config.quality = static_cast<float>(std::clamp<int>(GetQuality(), 1, 100));
    }
    config.thread_level = 0;  // the run's workers already use every core
    PictureHolder holder;
    WebPPicture& picture = holder.picture;
    picture.use_argb = GetLossless() ? 1 : 0;
    picture.width = bitmap.Width();
    picture.height = bitmap.Height();
    if (picture.width > WEBP_MAX_DIMENSION || picture.height > WEBP_MAX_DIMENSION)
        Fail("image too large to save: " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
             " pixels");
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &holder.writer;
    const bool alpha = bitmap.GetAlphaChannel();
    TBitmap rgb;
    const TBitmap* source = &bitmap;
    if (!alpha && bitmap.GetPixelFormat() != TPixelFormat::pf24bit) {
        rgb.Assign(const_cast<TBitmap&>(bitmap));  // NOLINT: Assign takes no const, and leaves its source alone
        rgb.SetPixelFormat(TPixelFormat::pf24bit);
        source = &rgb;
    }
    const int imported = alpha ? WebPPictureImportBGRA(&picture, source->GetScanline(0), source->GetStride())
                               : WebPPictureImportBGR(&picture, source->GetScanline(0), source->GetStride());
    if (!imported) Fail("encoder out of memory");
    if (!WebPEncode(&config, &picture))
        Fail("encoding failed (libwebp error " + std::to_string(picture.error_code) + ")");

    const TPictureMetadata& metadata = GetMetadata();
    if (metadata.Exif.empty() && metadata.Icc.empty() && metadata.Xmp.empty()) {
        out.WriteBuffer(holder.writer.mem, static_cast<int64_t>(holder.writer.size));
        return;
    }
    const WebPData image{holder.writer.mem, holder.writer.size};
    std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&image, 0));
    if (!mux) Fail("metadata could not be added");
    const auto set = [&](const char* fourcc, const std::vector<uint8_t>& bytes) {
        if (bytes.empty()) return;
        const WebPData chunk{bytes.data(), bytes.size()};
        if (WebPMuxSetChunk(mux.get(), fourcc, &chunk, 0) != WEBP_MUX_OK) Fail("metadata could not be added");
    };
    set("EXIF", metadata.Exif);
    if (IsRgbProfile(metadata.Icc)) set("ICCP", metadata.Icc);
    set("XMP ", metadata.Xmp);
    WebPDataHolder assembled;
    if (WebPMuxAssemble(mux.get(), &assembled.data) != WEBP_MUX_OK) Fail("metadata could not be added");
    out.WriteBuffer(assembled.data.bytes, static_cast<int64_t>(assembled.data.size));
}

bool WebPFileIsLossless(const std::string& path) {
    try {
        TFileStream file(path, TFileMode::OpenRead);
        uint8_t header[12];
        if (file.Read(header, 12) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
            std::memcmp(header + 8, "WEBP", 4) != 0)
            return false;
        // A handful of chunks come before the image; a file of many is not worth walking.
        for (int i = 0; i < 64; ++i) {
            uint8_t chunk[8];
            if (file.Read(chunk, 8) != 8) return false;
            if (std::memcmp(chunk, "VP8L", 4) == 0) return true;
            if (std::memcmp(chunk, "VP8 ", 4) == 0 || std::memcmp(chunk, "ANMF", 4) == 0) return false;
            const uint32_t size = chunk[4] | (chunk[5] << 8) | (chunk[6] << 16) | (uint32_t{chunk[7]} << 24);
            file.Seek(int64_t{size} + (size & 1), TSeekOrigin::Current);
        }
    } catch (const Exception&) {
    }
    return false;
}

}  // namespace vmk
