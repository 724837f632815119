#include "imaging/HeifImage.h"

#include <cstring>
#include <memory>
#include <string>

#include <libheif/heif.h>

#include "imaging/ChannelOrder.h"
#include "imaging/HevcParams.h"
#include "imaging/JpegCodec.h"

namespace vmk {

namespace {

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct EncoderDeleter {
    void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};
struct DecodingOptionsDeleter {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
struct EncodingOptionsDeleter {
    void operator()(heif_encoding_options* o) const { heif_encoding_options_free(o); }
};

void Check(const heif_error& error, const char* format, const char* what) {
    if (error.code == heif_error_Ok) return;
    throw EInvalidGraphic(std::string(format) + " " + what + " (" + (error.message ? error.message : "libheif") + ")");
}

const char* FormatName(const uint8_t* data, size_t size) {
    if (size < 12) return "HEIF";
    const heif_brand2 brand = heif_read_main_brand(data, 12);
    return brand == heif_fourcc_to_brand("avif") || brand == heif_fourcc_to_brand("avis") ? "AVIF" : "HEIF";
}

// An EXIF item starts with the offset of its TIFF header after those 4 bytes.
std::vector<uint8_t> ExifBlock(const std::vector<uint8_t>& item) {
    if (item.size() < 4) return {};
    const uint64_t offset = (uint64_t{item[0]} << 24) | (uint64_t{item[1]} << 16) | (uint64_t{item[2]} << 8) | item[3];
    if (offset > item.size() - 4) return {};
    return {item.begin() + 4 + static_cast<ptrdiff_t>(offset), item.end()};
}

void ReadMetadata(const heif_image_handle* handle, TPictureMetadata& metadata) {
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    std::vector<heif_item_id> ids(static_cast<size_t>(std::max(count, 0)));
    const int listed =
        ids.empty() ? 0 : heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (int i = 0; i < listed; ++i) {
        const heif_item_id id = ids[static_cast<size_t>(i)];
        const std::string type = heif_image_handle_get_metadata_type(handle, id);
        const std::string content = heif_image_handle_get_metadata_content_type(handle, id);
        const bool exif = type == "Exif" && metadata.Exif.empty();
        const bool xmp = type == "mime" && content == "application/rdf+xml" && metadata.Xmp.empty();
        if (!exif && !xmp) continue;
        const size_t size = heif_image_handle_get_metadata_size(handle, id);
        if (size > static_cast<size_t>(kMaxPictureBytes)) continue;
        std::vector<uint8_t> bytes(size);
        if (heif_image_handle_get_metadata(handle, id, bytes.data()).code != heif_error_Ok) continue;
        if (exif)
            metadata.Exif = ExifBlock(bytes);
        else
            metadata.Xmp = std::move(bytes);
    }
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle);
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        std::vector<uint8_t> icc(heif_image_handle_get_raw_color_profile_size(handle));
        if (!icc.empty() && heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
            metadata.Icc = std::move(icc);
    }
}

// The HEVC decoder allocates for the coded size its sequence parameter sets
// declare, the AV1 decoder for the largest frame its sequence headers allow,
// and libheif for the output size a grid's description declares;
// the file's size boxes need not agree with either. Every one is held to the
// same bound before decoding.
void CheckCodedSizes(const char* format, const uint8_t* data, size_t size) {
    std::vector<THevcCodedSize> sizes;
    try {
        sizes = HevcCodedSizes(data, size);
        const auto grids = HeifGridSizes(data, size);
        sizes.insert(sizes.end(), grids.begin(), grids.end());
        const auto av1 = Av1CodedSizes(data, size);
        sizes.insert(sizes.end(), av1.begin(), av1.end());
    } catch (const std::runtime_error& e) {
        throw EInvalidGraphic(std::string("Invalid ") + format + " image: " + e.what());
    }
    for (const THevcCodedSize& coded : sizes) {
        // Sides run to 2^32: the product is formed only where it cannot overflow.
        const bool small = coded.Width < (int64_t{1} << 31) && coded.Height < (int64_t{1} << 31) &&
                           coded.Width * coded.Height <= kMaxPictureBytes;
        CheckPictureSize(format, coded.Width, coded.Height, 4,
                         small ? coded.Width * coded.Height * 8 : kMaxPictureBytes);
    }
}

}  // namespace

void THEIFImage::CopySettings(const TForeignImage& from) {
    compression_ = static_cast<const THEIFImage&>(from).compression_;
}

bool THEIFImage::Decode(const uint8_t* data, size_t size, TBitmap& bitmap, TPictureMetadata& metadata) {
    const char* format = FormatName(data, size);
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) throw EInvalidGraphic(std::string(format) + " reader out of memory");
    // libheif's own bound on a side, beyond which it refuses before decoding.
    heif_context_set_maximum_image_size_limit(context.get(), 1 << 16);
    Check(heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr), format,
          "file damaged or not a HEIF file");
    heif_image_handle* rawHandle = nullptr;
    Check(heif_context_get_primary_image_handle(context.get(), &rawHandle), format, "file has no picture");
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    const int64_t width = heif_image_handle_get_width(handle.get());
    const int64_t height = heif_image_handle_get_height(handle.get());
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    // The decoder holds its planes and the interleaved picture besides ours.
    CheckPictureSize(format, width, height, 4, width * height * 8);
    ReadMetadata(handle.get(), metadata);
    CheckCodedSizes(format, data, size);

    std::unique_ptr<heif_decoding_options, DecodingOptionsDeleter> options(heif_decoding_options_alloc());
    options->ignore_transformations = 0;  // rotation, mirror and crop applied
    options->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    Check(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get()),
          format, "picture damaged");
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || w <= 0 || h <= 0 || int64_t{w} * h > width * height * 4 ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        throw EInvalidGraphic(std::string(format) + " picture damaged");
    CheckPictureSize(format, w, h, 4);
    PrepareBitmap(bitmap, w, h, alpha);
    const size_t bytes = alpha ? 4 : 3;
    for (int y = 0; y < h; ++y)
        detail::SwapRedBlue(plane + static_cast<ptrdiff_t>(y) * stride, bitmap.GetScanline(y), static_cast<size_t>(w),
                            static_cast<int>(bytes));
    // The file's transformations made the picture upright; its EXIF
    // orientation describes the stored pixels and no longer applies.
    MarkExifBlockUpright(metadata.Exif);
    if (!IsRgbProfile(metadata.Icc)) metadata.Icc.clear();
    compression_ = std::strcmp(format, "AVIF") == 0 ? THEIFCompression::Av1 : THEIFCompression::Hevc;
    return false;
}

void THEIFImage::Encode(const TBitmap& bitmap, TStream& out) {
    const char* format = compression_ == THEIFCompression::Av1 ? "AVIF" : "HEIF";
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) throw EInvalidGraphic(std::string(format) + " writer out of memory");
    heif_encoder* rawEncoder = nullptr;
    Check(heif_context_get_encoder_for_format(
              context.get(), compression_ == THEIFCompression::Av1 ? heif_compression_AV1 : heif_compression_HEVC,
              &rawEncoder),
          format, "encoder not available");
    std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    Check(heif_encoder_set_lossy_quality(encoder.get(), std::clamp<int>(GetQuality(), 1, 100)), format,
          "encoder set-up failed");

    const bool alpha = bitmap.GetAlphaChannel();
    const int w = bitmap.Width(), h = bitmap.Height();
    heif_image* rawImage = nullptr;
    Check(heif_image_create(w, h, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &rawImage),
          format, "writer out of memory");
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    // Eight bits a channel, always: Debian's libaom 3.6 asserts, ending the
    // process, in deeper AV1 encodes through libheif 1.15.
    Check(heif_image_add_plane(image.get(), heif_channel_interleaved, w, h, 8), format, "writer out of memory");
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    std::vector<TColor> colors(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        uint8_t* to = plane + static_cast<ptrdiff_t>(y) * stride;
        if (alpha || bitmap.GetPixelFormat() == TPixelFormat::pf24bit) {
            detail::SwapRedBlue(bitmap.GetScanline(y), to, static_cast<size_t>(w), alpha ? 4 : 3);
            continue;
        }
        bitmap.GetRowColors(y, 0, w, colors.data());
        for (size_t x = 0; x < static_cast<size_t>(w); ++x, to += 3) {
            to[0] = GetRValue(colors[x]);
            to[1] = GetGValue(colors[x]);
            to[2] = GetBValue(colors[x]);
        }
    }
    const TPictureMetadata& metadata = GetMetadata();
    if (IsRgbProfile(metadata.Icc))
        Check(heif_image_set_raw_color_profile(image.get(), "prof", metadata.Icc.data(), metadata.Icc.size()), format,
              "profile not accepted");

    std::unique_ptr<heif_encoding_options, EncodingOptionsDeleter> options(heif_encoding_options_alloc());
    heif_image_handle* rawHandle = nullptr;
    Check(heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), &rawHandle), format,
          "encoding failed");
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    if (!metadata.Exif.empty())
        Check(heif_context_add_exif_metadata(context.get(), handle.get(), metadata.Exif.data(),
                                             static_cast<int>(metadata.Exif.size())),
              format, "EXIF not accepted");
    if (!metadata.Xmp.empty())
        Check(heif_context_add_XMP_metadata(context.get(), handle.get(), metadata.Xmp.data(),
                                            static_cast<int>(metadata.Xmp.size())),
              format, "XMP not accepted");

    // libheif is C: what its writer is handed is kept, and written once it returns.
    std::vector<uint8_t> bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* user) -> heif_error {
        try {
            auto& into = *static_cast<std::vector<uint8_t>*>(user);
            const auto* from = static_cast<const uint8_t*>(data);
            into.insert(into.end(), from, from + size);
        } catch (...) {
            return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
        }
        return {heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    Check(heif_context_write(context.get(), &writer, &bytes), format, "writing failed");
    out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace vmk
