// Picture formats benchmark. Makes photo-like PNG, WebP, TIFF and HEIC
// pictures and a keyed cover, then times, interleaved in one process on the
// same files:
//   run   - the real batch run through the main window (Right Bottom, Auto
//           Detect transparency), PNG -> PNG, WebP -> WebP (quality 85),
//           TIFF -> TIFF and HEIC -> JPEG (quality 85);
//   floor - the bare libraries on one thread: decode as the library hands the
//           pixels out, the same colour-keyed stamp, encode with the settings
//           the run uses (PNG zlib level 2; WebP lossy at 85; TIFF Deflate
//           level 1 with the horizontal predictor; JPEG at 85).
// It prints the median time per picture of each, the median of the passes'
// run / floor ratios for 1 and 2 workers, and the processor time of both (on
// a shared machine it shows the work when wall time cannot).
//
// usage: vmk-bench-formats [pictures=4] [width=4000] [height=3000] [repeats=3]

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <libheif/heif.h>
#include <spng.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include "BenchSupport.h"
#include "app/MainForm.h"
#include "app/Program.h"
#include "core/FileUtils.h"
#include "widgets/Dialogs.h"

namespace {

using namespace bench;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

// Pixels rows top first, 3 bytes a pixel in R, G, B order, no padding.
struct Rgb {
    std::vector<uint8_t> px;
    int width = 0, height = 0;
    size_t Stride() const { return static_cast<size_t>(width) * 3; }
};

// A smooth random field with fine noise: compresses and decodes like a photo.
Rgb MakePhoto(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    const int gw = 41, gh = 31;
    std::vector<float> grid(static_cast<size_t>(gw * gh * 3));
    for (auto& v : grid) v = static_cast<float>(rng() % 256);
    Rgb img;
    img.width = width;
    img.height = height;
    img.px.resize(img.Stride() * static_cast<size_t>(height));
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int y = 0; y < height; ++y) {
        const float gy = static_cast<float>(y) * (gh - 1) / static_cast<float>(height);
        const int y0 = static_cast<int>(gy);
        const float fy = gy - static_cast<float>(y0);
        for (int x = 0; x < width; ++x) {
            const float gx = static_cast<float>(x) * (gw - 1) / static_cast<float>(width);
            const int x0 = static_cast<int>(gx);
            const float fx = gx - static_cast<float>(x0);
            for (int c = 0; c < 3; ++c) {
                const auto at = [&](int xx, int yy) {
                    return grid[(static_cast<size_t>(yy) * gw + static_cast<size_t>(xx)) * 3 + static_cast<size_t>(c)];
                };
                const float v = (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
                                (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
                img.px[static_cast<size_t>(y) * img.Stride() + static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] =
                    static_cast<uint8_t>(std::clamp(static_cast<int>(v) + noise(rng), 0, 255));
            }
        }
    }
    return img;
}

// A white ground (its bottom-left pixel, so Auto Detect keys it out) with bars.
Rgb MakeCover(int width, int height) {
    Rgb img;
    img.width = width;
    img.height = height;
    img.px.assign(img.Stride() * static_cast<size_t>(height), 255);
    for (int y = 20; y < height - 20; ++y)
        for (int x = 20; x < width - 20; ++x) {
            if (((x / 25) + (y / 25)) % 3 == 0) continue;
            uint8_t* p = img.px.data() + static_cast<size_t>(y) * img.Stride() + static_cast<size_t>(x) * 3;
            p[0] = static_cast<uint8_t>(200 - y / 2);
            p[1] = 40;
            p[2] = static_cast<uint8_t>(x);
        }
    return img;
}

void WriteFile(const std::string& path, const void* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size) Die("cannot write " + path);
    std::fclose(f);
}

void ReadWhole(const std::string& path, std::vector<uint8_t>& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) Die("cannot read " + path);
    std::fseek(f, 0, SEEK_END);
    out.resize(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(out.data(), 1, out.size(), f) != out.size()) Die("cannot read " + path);
    std::fclose(f);
}

void WriteCoverBmp(const std::string& path, const Rgb& img) {
    const size_t rowBytes = (img.Stride() + 3) & ~size_t{3};
    std::vector<uint8_t> out(54 + rowBytes * static_cast<size_t>(img.height), 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(img.width));
    put32(22, static_cast<uint32_t>(img.height));
    out[26] = 1;
    out[28] = 24;
    for (int y = 0; y < img.height; ++y) {
        uint8_t* to = out.data() + 54 + rowBytes * static_cast<size_t>(img.height - 1 - y);
        const uint8_t* from = img.px.data() + static_cast<size_t>(y) * img.Stride();
        for (int x = 0; x < img.width; ++x) {
            to[x * 3] = from[x * 3 + 2];
            to[x * 3 + 1] = from[x * 3 + 1];
            to[x * 3 + 2] = from[x * 3];
        }
    }
    WriteFile(path, out.data(), out.size());
}

// Right Bottom, keyed by the cover's bottom-left pixel; pixels of bytes
// (3 or 4) with the cover's channel order.
void Stamp(uint8_t* top, size_t stride, size_t bytes, int width, int height, const Rgb& cover) {
    const uint8_t* key = cover.px.data() + static_cast<size_t>(cover.height - 1) * cover.Stride();
    const int x0 = width - cover.width, y0 = height - cover.height;
    for (int y = std::max(0, -y0); y < cover.height && y0 + y < height; ++y) {
        const uint8_t* s = cover.px.data() + static_cast<size_t>(y) * cover.Stride();
        uint8_t* d = top + stride * static_cast<size_t>(y0 + y);
        for (int x = std::max(0, -x0); x < cover.width && x0 + x < width; ++x) {
            const uint8_t* sp = s + static_cast<size_t>(x) * 3;
            if (sp[0] == key[0] && sp[1] == key[1] && sp[2] == key[2]) continue;
            std::memcpy(d + static_cast<size_t>(x0 + x) * bytes, sp, 3);
        }
    }
}

Rgb Swapped(const Rgb& rgb) {
    Rgb bgr = rgb;
    for (size_t i = 0; i < bgr.px.size(); i += 3) std::swap(bgr.px[i], bgr.px[i + 2]);
    return bgr;
}

// ---- the sources, made by the libraries themselves

std::vector<uint8_t> EncodePng(const uint8_t* rgb, int width, int height, int level) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    if (level >= 0) spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(width);
    ihdr.height = static_cast<uint32_t>(height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    int error = spng_encode_image(ctx, rgb, static_cast<size_t>(width) * 3 * static_cast<size_t>(height), SPNG_FMT_PNG,
                                  SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    void* png = error ? nullptr : spng_get_png_buffer(ctx, &size, &error);
    spng_ctx_free(ctx);
    if (!png) Die(std::string("PNG encoding failed: ") + spng_strerror(error));
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(png), static_cast<uint8_t*>(png) + size);
    std::free(png);
    return bytes;
}

std::vector<uint8_t> EncodeWebp(const uint8_t* bgr, int width, int height, int quality) {
    WebPConfig config;
    WebPConfigInit(&config);
    config.quality = static_cast<float>(quality);
    config.thread_level = 0;
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = width;
    picture.height = height;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    if (!WebPPictureImportBGR(&picture, bgr, width * 3) || !WebPEncode(&config, &picture)) Die("WebP encoding failed");
    std::vector<uint8_t> bytes(writer.mem, writer.mem + writer.size);
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return bytes;
}

// RGB, Deflate with the horizontal predictor, the library's strip size.
void WriteTiff(const std::string& path, const uint8_t* rgb, int width, int height, int zipLevel) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) Die("cannot write " + path);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ZIPQUALITY, zipLevel);
    const uint32_t rowsPerStrip = TIFFDefaultStripSize(t, 0);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    const size_t stride = static_cast<size_t>(width) * 3;
    for (uint32_t row = 0, strip = 0; row < static_cast<uint32_t>(height); row += rowsPerStrip, ++strip) {
        const uint32_t rows = std::min<uint32_t>(rowsPerStrip, static_cast<uint32_t>(height) - row);
        // libtiff's predictor works in place on the buffer it is handed: a copy.
        std::vector<uint8_t> chunk(rgb + row * stride, rgb + (row + rows) * stride);
        if (TIFFWriteEncodedStrip(t, strip, chunk.data(), static_cast<tmsize_t>(chunk.size())) < 0)
            Die("cannot write " + path);
    }
    TIFFClose(t);
}

std::vector<uint8_t> EncodeHeic(const Rgb& img, int quality) {
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code != heif_error_Ok)
        Die("no HEVC encoder");
    heif_encoder_set_lossy_quality(encoder, quality);
    heif_encoder_set_parameter(encoder, "preset", "ultrafast");  // only to make the sources quickly
    heif_image* image = nullptr;
    heif_image_create(img.width, img.height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, img.width, img.height, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < img.height; ++y)
        std::memcpy(plane + static_cast<ptrdiff_t>(y) * stride, img.px.data() + static_cast<size_t>(y) * img.Stride(),
                    img.Stride());
    if (heif_context_encode_image(ctx, image, encoder, nullptr, nullptr).code != heif_error_Ok)
        Die("HEIC encoding failed");
    std::vector<uint8_t> bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* user) -> heif_error {
        auto& into = *static_cast<std::vector<uint8_t>*>(user);
        into.insert(into.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return {heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    heif_context_write(ctx, &writer, &bytes);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return bytes;
}

// ---- the floors: one picture each, buffers kept across pictures

struct FloorBuffers {
    std::vector<uint8_t> in, pixels, work;
};

void FloorPng(const std::string& src, const std::string& target, const Rgb& cover, FloorBuffers& buf) {
    ReadWhole(src, buf.in);
    spng_ctx* d = spng_ctx_new(0);
    spng_set_png_buffer(d, buf.in.data(), buf.in.size());
    spng_ihdr ihdr{};
    size_t size = 0;
    if (spng_get_ihdr(d, &ihdr) || spng_decoded_image_size(d, SPNG_FMT_RGB8, &size)) Die("PNG floor: header");
    buf.pixels.resize(size);
    if (spng_decode_image(d, buf.pixels.data(), size, SPNG_FMT_RGB8, 0)) Die("PNG floor: decode");
    spng_ctx_free(d);
    const int w = static_cast<int>(ihdr.width), h = static_cast<int>(ihdr.height);
    Stamp(buf.pixels.data(), static_cast<size_t>(w) * 3, 3, w, h, cover);
    const std::vector<uint8_t> png = EncodePng(buf.pixels.data(), w, h, 2);
    WriteFile(target, png.data(), png.size());
}

void FloorWebp(const std::string& src, const std::string& target, const Rgb& coverBgr, FloorBuffers& buf) {
    ReadWhole(src, buf.in);
    int w = 0, h = 0;
    if (!WebPGetInfo(buf.in.data(), buf.in.size(), &w, &h)) Die("WebP floor: header");
    const size_t stride = static_cast<size_t>(w) * 3;
    buf.pixels.resize(stride * static_cast<size_t>(h));
    if (!WebPDecodeBGRInto(buf.in.data(), buf.in.size(), buf.pixels.data(), buf.pixels.size(),
                           static_cast<int>(stride)))
        Die("WebP floor: decode");
    Stamp(buf.pixels.data(), stride, 3, w, h, coverBgr);
    const std::vector<uint8_t> webp = EncodeWebp(buf.pixels.data(), w, h, 85);
    WriteFile(target, webp.data(), webp.size());
}

void FloorTiff(const std::string& src, const std::string& target, const Rgb& cover, FloorBuffers& buf) {
    TIFF* t = TIFFOpen(src.c_str(), "r");
    if (!t) Die("TIFF floor: open");
    uint32_t w = 0, h = 0, rowsPerStrip = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const size_t stride = static_cast<size_t>(w) * 3;
    buf.pixels.resize(stride * h);
    for (uint32_t row = 0, strip = 0; row < h; row += rowsPerStrip, ++strip)
        if (TIFFReadEncodedStrip(t, strip, buf.pixels.data() + row * stride,
                                 static_cast<tmsize_t>(std::min(rowsPerStrip, h - row) * stride)) < 0)
            Die("TIFF floor: decode");
    TIFFClose(t);
    Stamp(buf.pixels.data(), stride, 3, static_cast<int>(w), static_cast<int>(h), cover);
    WriteTiff(target, buf.pixels.data(), static_cast<int>(w), static_cast<int>(h), 1);
}

void FloorHeicToJpeg(const std::string& src, const std::string& target, const Rgb& cover, FloorBuffers& buf) {
    ReadWhole(src, buf.in);
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (heif_context_read_from_memory_without_copy(ctx, buf.in.data(), buf.in.size(), nullptr).code ||
        heif_context_get_primary_image_handle(ctx, &handle).code ||
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code)
        Die("HEIC floor: decode");
    const int w = heif_image_get_width(image, heif_channel_interleaved);
    const int h = heif_image_get_height(image, heif_channel_interleaved);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    Stamp(plane, static_cast<size_t>(stride), 3, w, h, cover);

    std::FILE* out = std::fopen(target.c_str(), "wb");
    if (!out) Die("cannot write " + target);
    jpeg_compress_struct e{};
    jpeg_error_mgr jerr{};
    e.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&e);
    jpeg_stdio_dest(&e, out);
    e.image_width = static_cast<JDIMENSION>(w);
    e.image_height = static_cast<JDIMENSION>(h);
    e.input_components = 3;
    e.in_color_space = JCS_RGB;
    jpeg_set_defaults(&e);
    jpeg_set_quality(&e, 85, TRUE);
    jpeg_start_compress(&e, TRUE);
    JSAMPROW rows[16];
    while (e.next_scanline < e.image_height) {
        const JDIMENSION n = std::min<JDIMENSION>(16, e.image_height - e.next_scanline);
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = plane + static_cast<ptrdiff_t>(e.next_scanline + i) * stride;
        jpeg_write_scanlines(&e, rows, n);
    }
    jpeg_finish_compress(&e);
    jpeg_destroy_compress(&e);
    std::fclose(out);
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
}

// ---- timing

enum class Result { Png, Webp, Tiff, Jpeg };

struct Case {
    const char* label;
    Result result;
    std::function<void(const std::string&, const std::string&, FloorBuffers&)> floor;
    const char* floorExt;
    std::vector<std::string> sources;
    std::string outDir;
};

// Untimed: earlier results go and pending writes reach the disk, so no pass
// pays for another's writes.
void SettleDisk(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        std::filesystem::remove(entry.path(), error);
    sync();
}

struct Pass {
    double wall = 0, cpu = 0;  // a picture
};

Pass FloorPass(const Case& c, FloorBuffers& buf) {
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    int index = 0;
    for (const auto& src : c.sources) c.floor(src, c.outDir + "/floor" + std::to_string(index++) + c.floorExt, buf);
    const auto n = static_cast<double>(c.sources.size());
    return {Seconds(start) / n, (CpuSeconds() - cpuStart) / n};
}

// One press of Process over every source, set up as a user would.
Pass RunPass(const Case& c, const std::string& coverPath, vmk::TScriptedModal& modal, int workers) {
    using namespace vmk;
    TMainForm& form = *MainForm;
    form.RunState.Workers = workers;
    while (FilePaths().GetCount() > 0) {
        form.FilesList->SetItemIndex(0);
        form.DeleteClick(form.Delete);
    }
    modal.QueuePaths("OpenFiles", c.sources);
    form.OpenClick(form.Open);
    form.CoverFile->SetText(coverPath);
    form.RB->SetChecked(true);
    form.CoverTransparent->SetChecked(true);
    form.AutoDetTrans->SetChecked(true);
    form.SizeAsIs->SetChecked(true);
    form.Opacity->SetValue(100);
    form.MarginPercent->SetChecked(false);
    form.MarginX->SetValue(0);
    form.MarginY->SetValue(0);
    TRadioButton* format = c.result == Result::Png    ? form.PNG
                           : c.result == Result::Webp ? form.WEBP
                           : c.result == Result::Tiff ? form.TIFF
                                                      : form.JPG;
    format->SetChecked(true);
    form.JPGQuality->SetValue(85);
    form.Path->SetText(c.outDir);
    modal.ClearBoxes();
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    form.ProcessClick(form.Process);
    const auto n = static_cast<double>(c.sources.size());
    const Pass pass{Seconds(start) / n, (CpuSeconds() - cpuStart) / n};
    if (modal.Boxes().size() != 1 || modal.Boxes().front().kind != TScriptedModal::Box::Message) {
        std::fprintf(stderr, "the run did not end with its closing message:\n");
        for (const auto& box : modal.Boxes()) std::fprintf(stderr, "  %s\n", box.text.c_str());
        std::exit(1);
    }
    return pass;
}

void Table(const std::vector<Case>& cases, const std::string& coverPath, vmk::TScriptedModal& modal, int repeats) {
    std::printf("\n%-14s %-8s %11s %12s %7s %11s %12s %9s\n", "case", "workers", "run ms/pic", "floor ms/pic", "ratio",
                "run cpu ms", "floor cpu ms", "cpu ratio");
    FloorBuffers buffers;
    for (const Case& c : cases) {
        FloorPass(c, buffers);  // warm-up: the code and the files paged in
        RunPass(c, coverPath, modal, 1);
        for (const int workers : {1, 2}) {
            // Interleaved, in turns, so drift hits both alike; the ratios are
            // taken pass by pass and their median shown.
            std::vector<double> run, floor, runCpu, floorCpu, ratio, cpuRatio;
            for (int r = 0; r < repeats; ++r) {
                Pass f, p;
                const auto floorPass = [&] {
                    SettleDisk(c.outDir);
                    f = FloorPass(c, buffers);
                };
                const auto runPass = [&] {
                    SettleDisk(c.outDir);
                    p = RunPass(c, coverPath, modal, workers);
                };
                InTurns(r, floorPass, runPass);
                floor.push_back(f.wall);
                floorCpu.push_back(f.cpu);
                run.push_back(p.wall);
                runCpu.push_back(p.cpu);
                ratio.push_back(p.wall / f.wall);
                cpuRatio.push_back(p.cpu / f.cpu);
            }
            std::printf("%-14s %-8d %11.1f %12.1f %7.3f %11.1f %12.1f %9.3f\n", c.label, workers, Median(run) * 1000,
                        Median(floor) * 1000, Median(ratio), Median(runCpu) * 1000, Median(floorCpu) * 1000,
                        Median(cpuRatio));
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 4;
    const int width = argc > 2 ? std::atoi(argv[2]) : 4000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 3000;
    const int repeats = argc > 4 ? std::atoi(argv[4]) : 3;
    // Only the cases whose label starts with this run (e.g. "PNG", "HEIC").
    const std::string only = argc > 5 ? argv[5] : "";
    if (count < 1 || width < 400 || height < 200 || repeats < 1) {
        std::fprintf(stderr, "usage: vmk-bench-formats [pictures>=1] [width>=400] [height>=200] [repeats>=1] [case]\n");
        return 2;
    }
    const std::string dir = ScratchFolder("vmk-bench-formats");
    TIFFSetWarningHandler(nullptr);

    const Rgb cover = MakeCover(400, 200);
    const Rgb coverBgr = Swapped(cover);
    const std::string coverPath = dir + "/cover.bmp";
    WriteCoverBmp(coverPath, cover);

    std::vector<Case> cases = {
        {"PNG  -> PNG",
         Result::Png,
         [&](const std::string& s, const std::string& t, FloorBuffers& b) { FloorPng(s, t, cover, b); },
         ".png",
         {},
         ""},
        {"WebP -> WebP",
         Result::Webp,
         [&](const std::string& s, const std::string& t, FloorBuffers& b) { FloorWebp(s, t, coverBgr, b); },
         ".webp",
         {},
         ""},
        {"TIFF -> TIFF",
         Result::Tiff,
         [&](const std::string& s, const std::string& t, FloorBuffers& b) { FloorTiff(s, t, cover, b); },
         ".tif",
         {},
         ""},
        {"HEIC -> JPEG",
         Result::Jpeg,
         [&](const std::string& s, const std::string& t, FloorBuffers& b) { FloorHeicToJpeg(s, t, cover, b); },
         ".jpg",
         {},
         ""},
    };
    std::erase_if(cases, [&](const Case& c) { return std::string(c.label).rfind(only, 0) != 0; });
    std::printf("making %d photo-like pictures of %d x %d in each format in %s ...\n", count, width, height,
                dir.c_str());
    std::fflush(stdout);
    for (Case& c : cases) {
        c.outDir = dir + "/out-" + std::to_string(static_cast<int>(c.result));
        vmk::ForceDirectories(c.outDir);
    }
    for (int i = 0; i < count; ++i) {
        const Rgb photo = MakePhoto(width, height, static_cast<unsigned>(1000 + i));
        const std::string base = dir + "/photo" + std::to_string(i);
        for (Case& c : cases) {
            std::string path;
            switch (c.result) {
            case Result::Png: {
                path = base + ".png";
                const std::vector<uint8_t> png = EncodePng(photo.px.data(), width, height, -1);
                WriteFile(path, png.data(), png.size());
                break;
            }
            case Result::Webp: {
                path = base + ".webp";
                const Rgb bgr = Swapped(photo);
                const std::vector<uint8_t> webp = EncodeWebp(bgr.px.data(), width, height, 90);
                WriteFile(path, webp.data(), webp.size());
                break;
            }
            case Result::Tiff:
                path = base + ".tif";
                WriteTiff(path, photo.px.data(), width, height, 6);
                break;
            case Result::Jpeg: {
                path = base + ".heic";
                const std::vector<uint8_t> heic = EncodeHeic(photo, 90);
                WriteFile(path, heic.data(), heic.size());
                break;
            }
            }
            c.sources.push_back(path);
        }
    }

    int qtArgc = 1;
    QApplication platform(qtArgc, argv);
    vmk::InitializeModules();
    auto owned = std::make_unique<vmk::TScriptedModal>();
    vmk::TScriptedModal& modal = *owned;
    vmk::SetModalInterface(std::move(owned));
    vmk::RunProgram([&] { Table(cases, coverPath, modal, repeats); });
    vmk::FinalizeModules();

    if (getenv("VMK_BENCH_KEEP")) return 0;
    std::error_code error;
    std::filesystem::remove_all(dir, error);
    return 0;
}
