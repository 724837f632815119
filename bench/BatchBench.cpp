// Batch benchmark. Makes its own photo-like pictures and a cover, then times,
// side by side in one process on the same files:
//   run   - the real batch run, set up as a user would (Right Bottom, transparent
//           with Auto Detect, output folder set), through the main window;
//   floor - the least any program must do: bare libjpeg-turbo decode, a
//           colour-keyed stamp of the cover, and the write (JPEG encode or BMP).
// It prints the median time per picture of each and the ratio run / floor for
// JPEG -> JPEG (quality 85), BMP -> BMP and JPEG -> BMP, the run with 1, 2 and
// all workers (the floor always on one core), and the peak memory of each run
// above the idle program, in decoded pictures. Then the same JPEG -> JPEG batch
// through the command line, vellumark-batch --jobs 1 and 2 (a process started
// per pass, as a script starts it), against the window's run and the floor.
// Last, a logo as people use one: a PNG with soft alpha edges, scaled to 20 %
// of the picture's width, at 50 % opacity, bottom right with a 3 % margin,
// JPEG -> JPEG on 1 and 2 workers; its floor decodes and scales the logo once
// per pass, as the run does once per press, then blends it.
//
// usage: vmk-bench [pictures=8] [width=4000] [height=3000] [repeats=5] [tables=all]
// where tables picks some of memory,ratio,cli,logo (comma-separated) to measure one
// thing at a time on a busy machine.

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>
#include <malloc.h>
#include <spng.h>
#include <stb_image_resize.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "app/MainForm.h"
#include "app/Program.h"
#include "compose/Compose.h"
#include "compose/CoverStamp.h"
#include "core/FileUtils.h"
#include "imaging/Graphics.h"
#include "widgets/Dialogs.h"

namespace {

using namespace bench;

struct Rgb {
    std::vector<uint8_t> bgr;  // rows top first, 3 bytes a pixel, no padding
    int width = 0, height = 0;
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
    img.bgr.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int y = 0; y < height; ++y) {
        const float gy = static_cast<float>(y) * static_cast<float>(gh - 1) / static_cast<float>(height);
        const int y0 = static_cast<int>(gy);
        const float fy = gy - static_cast<float>(y0);
        for (int x = 0; x < width; ++x) {
            const float gx = static_cast<float>(x) * static_cast<float>(gw - 1) / static_cast<float>(width);
            const int x0 = static_cast<int>(gx);
            const float fx = gx - static_cast<float>(x0);
            for (int c = 0; c < 3; ++c) {
                const auto at = [&](int xx, int yy) {
                    return grid[(static_cast<size_t>(yy) * static_cast<size_t>(gw) + static_cast<size_t>(xx)) * 3 +
                                static_cast<size_t>(c)];
                };
                const float v = (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
                                (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
                img.bgr[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3 +
                        static_cast<size_t>(c)] =
                    static_cast<uint8_t>(std::clamp(static_cast<int>(v) + noise(rng), 0, 255));
            }
        }
    }
    return img;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

std::vector<uint8_t> EncodeJpeg(const Rgb& img, int quality) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(img.width);
    cinfo.image_height = static_cast<JDIMENSION>(img.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(img.width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.bgr.data() + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

// Bottom-up 24-bit BMP, rows padded to 4 bytes.
std::vector<uint8_t> EncodeBmp(const Rgb& img) {
    const size_t rowBytes = (static_cast<size_t>(img.width) * 3 + 3) & ~size_t{3};
    const size_t pixelBytes = rowBytes * static_cast<size_t>(img.height);
    std::vector<uint8_t> out(54 + pixelBytes, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
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
    put32(34, static_cast<uint32_t>(pixelBytes));
    const size_t stride = static_cast<size_t>(img.width) * 3;
    for (int y = 0; y < img.height; ++y)
        std::memcpy(out.data() + 54 + rowBytes * static_cast<size_t>(img.height - 1 - y),
                    img.bgr.data() + static_cast<size_t>(y) * stride, stride);
    return out;
}

// The cover: a white ground (its bottom-left pixel, so Auto Detect keys it out)
// with coloured bars.
Rgb MakeCover(int width, int height) {
    Rgb img;
    img.width = width;
    img.height = height;
    img.bgr.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 255);
    for (int y = 20; y < height - 20; ++y)
        for (int x = 20; x < width - 20; ++x) {
            if (((x / 25) + (y / 25)) % 3 == 0) continue;
            uint8_t* p =
                img.bgr.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
            p[0] = static_cast<uint8_t>(x);
            p[1] = 40;
            p[2] = static_cast<uint8_t>(200 - y / 2);
        }
    return img;
}

// Right Bottom, keyed by the cover's bottom-left pixel. The picture's rows are
// reached from its top row by a signed step (negative for bottom-up BMP rows).
void Stamp(uint8_t* top, ptrdiff_t step, int width, int height, const Rgb& cover) {
    const uint8_t* key =
        cover.bgr.data() + static_cast<size_t>(cover.height - 1) * static_cast<size_t>(cover.width) * 3;
    const int x0 = width - cover.width, y0 = height - cover.height;
    for (int y = std::max(0, -y0); y < cover.height && y0 + y < height; ++y) {
        const uint8_t* s = cover.bgr.data() + static_cast<size_t>(y) * static_cast<size_t>(cover.width) * 3;
        uint8_t* d = top + step * (y0 + y);
        for (int x = std::max(0, -x0); x < cover.width && x0 + x < width; ++x) {
            const uint8_t* sp = s + static_cast<size_t>(x) * 3;
            if (sp[0] == key[0] && sp[1] == key[1] && sp[2] == key[2]) continue;
            std::memcpy(d + static_cast<size_t>(x0 + x) * 3, sp, 3);
        }
    }
}

// A 600 x 300 logo: coloured bands under an alpha that falls off smoothly
// from the middle to nothing at the edges, so most of its pixels are partly
// see-through. Written as an 8-bit RGBA PNG.
void WriteLogoPng(const std::string& path) {
    const int w = 600, h = 300;
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = rgba.data() + (static_cast<size_t>(y) * w + static_cast<size_t>(x)) * 4;
            const double dx = (x + 0.5 - w / 2.0) / (w / 2.0), dy = (y + 0.5 - h / 2.0) / (h / 2.0);
            const double r = std::sqrt(dx * dx + dy * dy);
            p[0] = static_cast<uint8_t>(30 + (x * 200) / w);
            p[1] = static_cast<uint8_t>((x / 40 + y / 40) % 2 ? 220 : 60);
            p[2] = static_cast<uint8_t>(240 - (y * 200) / h);
            p[3] = static_cast<uint8_t>(std::lround(255 * std::clamp(1.4 * (1 - r), 0.0, 1.0)));
        }
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = w;
    ihdr.height = h;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    spng_set_ihdr(ctx, &ihdr);
    int error = spng_encode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    void* png = error ? nullptr : spng_get_png_buffer(ctx, &size, &error);
    spng_ctx_free(ctx);
    if (!png) {
        std::fprintf(stderr, "cannot encode the logo: %s\n", spng_strerror(error));
        std::exit(1);
    }
    WriteFile(path, static_cast<const uint8_t*>(png), size);
    std::free(png);
}

// The logo as the floor draws it on pictures of one size: decoded with bare
// libspng, scaled with bare stb as the run scales it, placed, each pixel's
// weight a = alpha x opacity (0 to 255 x 100). Any program stamping a batch
// must do this once per batch, so the floor does it once per pass, timed.
struct FloorLogo {
    std::vector<uint8_t> bgr;
    std::vector<uint16_t> weight;
    int width = 0, height = 0, x = 0, y = 0;
};

void ReadWhole(const std::string& path, std::vector<uint8_t>& out);

FloorLogo PrepareFloorLogo(const std::string& path, const vmk::TCoverSettings& settings, int pictureW, int pictureH) {
    std::vector<uint8_t> file;
    ReadWhole(path, file);
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    spng_ihdr ihdr{};
    size_t bytes = 0;
    if (spng_get_ihdr(ctx, &ihdr) || spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &bytes)) std::exit(1);
    std::vector<uint8_t> rgba(bytes);
    if (spng_decode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, 0)) std::exit(1);
    spng_ctx_free(ctx);
    const int w = static_cast<int>(ihdr.width), h = static_cast<int>(ihdr.height);
    const vmk::TCoverSize size = vmk::ScaledCoverSize(settings, pictureW, pictureH, w, h);
    std::vector<uint8_t> scaled(static_cast<size_t>(size.Width) * static_cast<size_t>(size.Height) * 4);
    if (!stbir_resize_uint8_generic(rgba.data(), w, h, w * 4, scaled.data(), size.Width, size.Height, size.Width * 4, 4,
                                    3, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr))
        std::exit(1);
    const vmk::TCoverPosition at = vmk::CoverPlacement(settings, pictureW, pictureH, size.Width, size.Height);
    FloorLogo logo;
    logo.width = size.Width;
    logo.height = size.Height;
    logo.x = at.X;
    logo.y = at.Y;
    const size_t count = static_cast<size_t>(size.Width) * static_cast<size_t>(size.Height);
    logo.bgr.resize(count * 3);
    logo.weight.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = scaled.data() + i * 4;  // R, G, B, A
        logo.bgr[i * 3] = p[2];
        logo.bgr[i * 3 + 1] = p[1];
        logo.bgr[i * 3 + 2] = p[0];
        logo.weight[i] = static_cast<uint16_t>(p[3] * settings.Opacity);
    }
    return logo;
}

// What the floor needs to make its logo in each pass.
struct FloorLogoJob {
    std::string path;
    vmk::TCoverSettings settings;
    int pictureW = 0, pictureH = 0;
};

// result = cover x a + picture x (1 - a), rounded to nearest.
void Blend(uint8_t* top, ptrdiff_t step, int width, int height, const FloorLogo& logo) {
    constexpr uint32_t full = 255 * 100;
    for (int y = std::max(0, -logo.y); y < logo.height && logo.y + y < height; ++y) {
        const uint8_t* s = logo.bgr.data() + static_cast<size_t>(y) * static_cast<size_t>(logo.width) * 3;
        const uint16_t* a = logo.weight.data() + static_cast<size_t>(y) * static_cast<size_t>(logo.width);
        uint8_t* d = top + step * (logo.y + y);
        for (int x = std::max(0, -logo.x); x < logo.width && logo.x + x < width; ++x) {
            const uint32_t w = a[x];
            if (w == 0) continue;
            uint8_t* dp = d + static_cast<size_t>(logo.x + x) * 3;
            const uint8_t* sp = s + static_cast<size_t>(x) * 3;
            for (int c = 0; c < 3; ++c)
                dp[c] = static_cast<uint8_t>((sp[c] * w + dp[c] * (full - w) + full / 2) / full);
        }
    }
}

enum class Kind { JpegToJpeg, BmpToBmp, JpegToBmp };

struct Case {
    Kind kind;
    const char* label;
    std::vector<std::string> sources;
    std::string outDir;
};

// The floor's buffers live across pictures, as a tuned tool's would.
struct FloorBuffers {
    std::vector<uint8_t> in;
    std::vector<uint8_t> pixels;
};

void ReadWhole(const std::string& path, std::vector<uint8_t>& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::exit(1);
    std::fseek(f, 0, SEEK_END);
    out.resize(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(out.data(), 1, out.size(), f) != out.size()) std::exit(1);
    std::fclose(f);
}

// Decodes into rows reached from top by step; the caller sized the buffer.
void DecodeInto(jpeg_decompress_struct& d, uint8_t* top, ptrdiff_t step) {
    jpeg_start_decompress(&d);
    JSAMPROW rows[16];
    while (d.output_scanline < d.output_height) {
        const JDIMENSION n = std::min<JDIMENSION>(16, d.output_height - d.output_scanline);
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = top + step * static_cast<ptrdiff_t>(d.output_scanline + i);
        jpeg_read_scanlines(&d, rows, n);
    }
    jpeg_finish_decompress(&d);
}

// One pass of the floor over every source; seconds per picture.
// With a logo, a JPEG -> JPEG pass blends it instead of the keyed cover.
double FloorPass(const Case& c, const Rgb& cover, FloorBuffers& buf, const FloorLogoJob* logoJob = nullptr) {
    const auto start = Clock::now();
    FloorLogo made;
    if (logoJob) made = PrepareFloorLogo(logoJob->path, logoJob->settings, logoJob->pictureW, logoJob->pictureH);
    const FloorLogo* logo = logoJob ? &made : nullptr;
    int index = 0;
    for (const auto& src : c.sources) {
        const std::string target =
            c.outDir + "/floor" + std::to_string(index++) + (c.kind == Kind::JpegToJpeg ? ".jpg" : ".bmp");
        ReadWhole(src, buf.in);
        if (c.kind == Kind::BmpToBmp) {  // stamp the file's own rows, write them back out
            const auto get32 = [&](size_t at) {
                uint32_t v = 0;
                for (int i = 3; i >= 0; --i) v = (v << 8) | buf.in[at + static_cast<size_t>(i)];
                return v;
            };
            const int w = static_cast<int>(get32(18)), h = static_cast<int>(get32(22));
            const ptrdiff_t rowBytes = (static_cast<ptrdiff_t>(w) * 3 + 3) & ~ptrdiff_t{3};
            Stamp(buf.in.data() + get32(10) + rowBytes * (h - 1), -rowBytes, w, h, cover);
            WriteFile(target, buf.in.data(), buf.in.size());
            continue;
        }
        jpeg_decompress_struct d{};
        jpeg_error_mgr jerr{};
        d.err = jpeg_std_error(&jerr);
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, buf.in.data(), static_cast<unsigned long>(buf.in.size()));
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_EXT_BGR;
        jpeg_calc_output_dimensions(&d);
        const int w = static_cast<int>(d.output_width), h = static_cast<int>(d.output_height);
        if (c.kind == Kind::JpegToBmp) {  // decode straight into a BMP file image, bottom row first
            const ptrdiff_t rowBytes = (static_cast<ptrdiff_t>(w) * 3 + 3) & ~ptrdiff_t{3};
            Rgb header;
            header.width = w;
            header.height = 0;
            const std::vector<uint8_t> head = EncodeBmp(header);
            buf.pixels.resize(head.size() + static_cast<size_t>(rowBytes * h));
            std::memcpy(buf.pixels.data(), head.data(), head.size());
            const auto put32 = [&](size_t at, uint32_t v) {
                for (int i = 0; i < 4; ++i)
                    buf.pixels[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
            };
            put32(2, static_cast<uint32_t>(buf.pixels.size()));
            put32(22, static_cast<uint32_t>(h));
            put32(34, static_cast<uint32_t>(rowBytes * h));
            uint8_t* top = buf.pixels.data() + head.size() + rowBytes * (h - 1);
            DecodeInto(d, top, -rowBytes);
            jpeg_destroy_decompress(&d);
            Stamp(top, -rowBytes, w, h, cover);
            WriteFile(target, buf.pixels.data(), buf.pixels.size());
            continue;
        }
        const ptrdiff_t stride = static_cast<ptrdiff_t>(w) * 3;
        buf.pixels.resize(static_cast<size_t>(stride * h));
        DecodeInto(d, buf.pixels.data(), stride);
        jpeg_destroy_decompress(&d);
        if (logo)
            Blend(buf.pixels.data(), stride, w, h, *logo);
        else
            Stamp(buf.pixels.data(), stride, w, h, cover);

        std::FILE* out = std::fopen(target.c_str(), "wb");
        if (!out) std::exit(1);
        jpeg_compress_struct e{};
        e.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&e);
        jpeg_stdio_dest(&e, out);
        e.image_width = static_cast<JDIMENSION>(w);
        e.image_height = static_cast<JDIMENSION>(h);
        e.input_components = 3;
        e.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&e);
        jpeg_set_quality(&e, 85, TRUE);
        jpeg_start_compress(&e, TRUE);
        JSAMPROW rows[16];
        while (e.next_scanline < e.image_height) {
            const JDIMENSION n = std::min<JDIMENSION>(16, e.image_height - e.next_scanline);
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = buf.pixels.data() + stride * static_cast<ptrdiff_t>(e.next_scanline + i);
            jpeg_write_scanlines(&e, rows, n);
        }
        jpeg_finish_compress(&e);
        jpeg_destroy_compress(&e);
        std::fclose(out);
    }
    return Seconds(start) / static_cast<double>(c.sources.size());
}

// Untimed: the run's earlier results go, and whatever waits to be written
// reaches the disk, so no pass pays for another's writes.
void SettleDisk(const std::string& runFolder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runFolder, error))
        if (entry.path().filename().string().rfind("floor", 0) != 0) std::filesystem::remove(entry.path(), error);
    sync();
}

// One press of Process over every source; seconds per picture.
// With logo, the cover is the PNG logo as the last table sets it up;
// otherwise the keyed BMP cover with the cover's newer controls at their defaults.
double RunPass(const Case& c, const std::string& coverPath, vmk::TScriptedModal& modal, int workers,
               double* cpuPerPicture = nullptr, bool logo = false) {
    using namespace vmk;
    TMainForm& form = *MainForm;
    form.RunState.Workers = workers;
    // Set up as the user would: the list through the open dialog, then the pages.
    while (FilePaths().GetCount() > 0) {
        form.FilesList->SetItemIndex(0);
        form.DeleteClick(form.Delete);
    }
    modal.QueuePaths("OpenFiles", c.sources);
    form.OpenClick(form.Open);
    form.CoverFile->SetText(coverPath);
    form.RB->SetChecked(true);
    form.CoverTransparent->SetChecked(!logo);
    form.AutoDetTrans->SetChecked(true);
    (logo ? form.SizeWidth : form.SizeAsIs)->SetChecked(true);
    form.SizePercent->SetValue(20);
    form.Opacity->SetValue(logo ? 50 : 100);
    form.MarginPercent->SetChecked(logo);
    form.MarginX->SetValue(logo ? 3 : 0);
    form.MarginY->SetValue(logo ? 3 : 0);
    (c.kind == Kind::JpegToJpeg ? form.JPG : form.BMP)->SetChecked(true);
    form.JPGQuality->SetValue(85);
    form.Path->SetText(c.outDir);
    modal.ClearBoxes();
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    form.ProcessClick(form.Process);
    const double perPicture = Seconds(start) / static_cast<double>(c.sources.size());
    if (cpuPerPicture) *cpuPerPicture = (CpuSeconds() - cpuStart) / static_cast<double>(c.sources.size());
    if (modal.Boxes().size() != 1 || modal.Boxes().front().kind != TScriptedModal::Box::Message) {
        std::fprintf(stderr, "the run did not end with its closing message:\n");
        for (const auto& box : modal.Boxes()) std::fprintf(stderr, "  %s\n", box.text.c_str());
        std::exit(1);
    }
    return perPicture;
}

// One vellumark-batch over every source with the window's settings of RunPass;
// seconds per picture, the start of the process included.
double CliPass(const Case& c, const std::string& coverPath, int jobs, double* cpuPerPicture) {
    std::vector<std::string> args = {
        VMK_BATCH_PROGRAM, "--cover", coverPath,           "--position", "rb",       "--transparent", "--auto-detect",
        "--format",        "jpg",     "--quality",         "85",         "--prefix", "VMK_",          "--output",
        c.outDir + "-cli", "--jobs",  std::to_string(jobs)};
    args.insert(args.end(), c.sources.begin(), c.sources.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double perPicture = Seconds(start) / static_cast<double>(c.sources.size());
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    *cpuPerPicture = (seconds(usage.ru_utime) + seconds(usage.ru_stime)) / static_cast<double>(c.sources.size());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", VMK_BATCH_PROGRAM);
        std::exit(1);
    }
    return perPicture;
}

// JPEG -> JPEG through the command line, jobs 1 and 2, beside the window's run
// and the floor. On a shared machine the speed drifts from pass to pass: the
// ratios are taken pass by pass (each pass beside its neighbours), their
// median shown, and the order within a pass alternates.
void CliTable(const Case& jj, const Rgb& cover, const std::string& coverPath, FloorBuffers& buffers,
              vmk::TScriptedModal& modal, int repeats) {
    // The command line: its own process for each pass, the same pictures.
    std::printf("\n%-18s %-5s %11s %11s %11s %8s %8s %12s %12s %8s\n", "JPEG -> JPEG q85", "jobs", "cli ms/pic",
                "run ms/pic", "floor ms/pic", "cli/run", "cli/flr", "cli cpu ms", "run cpu ms", "cpu c/r");
    for (const int jobs : {1, 2}) {
        std::vector<double> cli, run, floor, cliCpu, runCpu, cliRun, cliFloor, cpuRatio;
        for (int r = 0; r < repeats; ++r) {
            double cpu = 0;
            const auto runPass = [&] {
                SettleDisk(jj.outDir);
                run.push_back(RunPass(jj, coverPath, modal, jobs, &cpu));
                runCpu.push_back(cpu);
            };
            const auto cliPass = [&] {
                SettleDisk(jj.outDir + "-cli");
                cli.push_back(CliPass(jj, coverPath, jobs, &cpu));
                cliCpu.push_back(cpu);
            };
            floor.push_back(FloorPass(jj, cover, buffers));
            InTurns(r, runPass, cliPass);
            cliRun.push_back(cli.back() / run.back());
            cliFloor.push_back(cli.back() / floor.back());
            cpuRatio.push_back(cliCpu.back() / runCpu.back());
        }
        std::printf("%-18s %-5d %11.1f %11.1f %11.1f %8.3f %8.3f %12.1f %12.1f %8.3f\n", "", jobs, Median(cli) * 1000,
                    Median(run) * 1000, Median(floor) * 1000, Median(cliRun), Median(cliFloor), Median(cliCpu) * 1000,
                    Median(runCpu) * 1000, Median(cpuRatio));
        std::fflush(stdout);
    }
}

// JPEG -> JPEG with the PNG logo, on 1 and 2 workers, against its floor.
void LogoTable(const Case& jj, const Rgb& cover, const std::string& logoPath, int width, int height,
               FloorBuffers& buffers, vmk::TScriptedModal& modal, int repeats) {
    vmk::TCoverSettings logoSettings;
    logoSettings.Place = vmk::TCoverPlace::RB;
    logoSettings.Sizing = vmk::TCoverSizing::Width;
    logoSettings.SizePercent = 20;
    logoSettings.Opacity = 50;
    logoSettings.MarginPercent = true;
    logoSettings.MarginX = logoSettings.MarginY = 3;
    const FloorLogoJob floorLogo{logoPath, logoSettings, width, height};
    // Processor time too: on a loaded machine it shows the work itself.
    std::printf("\n%-18s %-9s %12s %12s %8s %14s %14s %9s\n", "PNG logo 20%w 50%", "workers", "run ms/pic",
                "floor ms/pic", "ratio", "run cpu ms/pic", "flr cpu ms/pic", "cpu ratio");
    for (const int workers : {1, 2}) {
        std::vector<double> run, floor, cpu, floorCpu;
        for (int r = 0; r < repeats; ++r) {
            SettleDisk(jj.outDir);
            const double cpuStart = CpuSeconds();
            floor.push_back(FloorPass(jj, cover, buffers, &floorLogo));
            floorCpu.push_back((CpuSeconds() - cpuStart) / static_cast<double>(jj.sources.size()));
            SettleDisk(jj.outDir);
            double cpuPerPicture = 0;
            run.push_back(RunPass(jj, logoPath, modal, workers, &cpuPerPicture, true));
            cpu.push_back(cpuPerPicture);
        }
        const double mr = Median(run) * 1000, mf = Median(floor) * 1000;
        const double cr = Median(cpu) * 1000, cf = Median(floorCpu) * 1000;
        std::printf("%-18s %-9d %12.1f %12.1f %8.3f %14.1f %14.1f %9.3f\n", "JPEG -> JPEG q85", workers, mr, mf,
                    mr / mf, cr, cf, cr / cf);
        std::fflush(stdout);
    }
}

using WithProgram = std::function<void(const std::function<void(vmk::TScriptedModal&)>&)>;

// Memory first, in a child of its own: there big buffers always go back to
// the system when freed, so the resident size follows what is alive rather
// than what the allocator keeps for later. The timings below run with the
// allocator as the program has it.
pid_t MemoryInChild(const WithProgram& withProgram, const std::vector<const Case*>& cases,
                    const std::vector<std::pair<int, std::string>>& workerCounts, const std::string& coverPath,
                    int width, int height) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 20);
        withProgram([&](vmk::TScriptedModal& modal) {
            const long idle = ProcStatusKb("VmRSS:");
            const double decoded = static_cast<double>(width) * height * 3 / 1024.0;
            std::printf("\npeak memory of a run above the idle program, in decoded pictures\n%-18s %-9s %10s %10s\n",
                        "case", "workers", "MiB", "pictures");
            for (const Case* c : cases)
                for (const auto& [workers, label] : workerCounts) {
                    if (!ResetPeak()) {
                        std::printf("peak memory: /proc/self/clear_refs not writable here\n");
                        return;
                    }
                    RunPass(*c, coverPath, modal, workers);
                    const long peak = ProcStatusKb("VmHWM:");
                    std::printf("%-18s %-9s %10.1f %10.2f\n", c->label, label.c_str(),
                                static_cast<double>(peak - idle) / 1024.0, static_cast<double>(peak - idle) / decoded);
                }
        });
        std::fflush(stdout);
        _exit(0);
    }
    return child;
}

}  // namespace

// The run against the floor for every case and worker count; seconds per
// picture as medians of interleaved passes.
void RatioTable(const std::vector<Case*>& cases, const std::vector<std::pair<int, std::string>>& workerCounts,
                const Rgb& cover, const std::string& coverPath, FloorBuffers& buffers, vmk::TScriptedModal& modal,
                int repeats) {
    std::printf("\n%-18s %-9s %12s %12s %8s %14s\n", "case", "workers", "run ms/pic", "floor ms/pic", "ratio",
                "run cpu ms/pic");
    for (Case* c : cases)
        for (const auto& [workers, label] : workerCounts) {
            std::vector<double> run, floor, cpu;
            for (int r = 0; r < repeats; ++r) {  // interleaved, so drift hits both alike
                // Each pass starts with nothing waiting to be written, and the
                // run's results are new files, as in a fresh output folder: a
                // result that replaces a file is flushed before it does.
                SettleDisk(c->outDir);
                floor.push_back(FloorPass(*c, cover, buffers));
                SettleDisk(c->outDir);
                double cpuPerPicture = 0;
                run.push_back(RunPass(*c, coverPath, modal, workers, &cpuPerPicture));
                cpu.push_back(cpuPerPicture);
            }
            const double mr = Median(run) * 1000, mf = Median(floor) * 1000;
            std::printf("%-18s %-9s %12.1f %12.1f %8.3f %14.1f\n", c->label, label.c_str(), mr, mf, mr / mf,
                        Median(cpu) * 1000);
            std::fflush(stdout);
        }
}

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 8;
    const int width = argc > 2 ? std::atoi(argv[2]) : 4000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 3000;
    const int repeats = argc > 4 ? std::atoi(argv[4]) : 5;
    const std::string tables = argc > 5 ? argv[5] : "all";
    const auto wanted = [&](const char* table) {
        return tables == "all" || ("," + tables + ",").find(std::string(",") + table + ",") != std::string::npos;
    };
    if (count < 1 || width < 400 || height < 200 || repeats < 1) {
        std::fprintf(stderr, "usage: vmk-bench [pictures>=1] [width>=400] [height>=200] [repeats>=1] [tables=all]\n");
        return 2;
    }

    const std::string dir = ScratchFolder("vmk-bench");

    std::printf("making %d photo-like pictures of %d x %d in %s ...\n", count, width, height, dir.c_str());
    std::fflush(stdout);
    Case jj{Kind::JpegToJpeg, "JPEG -> JPEG q85", {}, dir + "/out-jj"};
    Case bb{Kind::BmpToBmp, "BMP  -> BMP     ", {}, dir + "/out-bb"};
    Case jb{Kind::JpegToBmp, "JPEG -> BMP     ", {}, dir + "/out-jb"};
    for (int i = 0; i < count; ++i) {
        const Rgb photo = MakePhoto(width, height, static_cast<unsigned>(1000 + i));
        const std::vector<uint8_t> jpeg = EncodeJpeg(photo, 92);
        const std::string base = dir + "/photo" + std::to_string(i);
        WriteFile(base + ".jpg", jpeg.data(), jpeg.size());
        const std::vector<uint8_t> bmp = EncodeBmp(photo);
        WriteFile(base + ".bmp", bmp.data(), bmp.size());
        jj.sources.push_back(base + ".jpg");
        jb.sources.push_back(base + ".jpg");
        bb.sources.push_back(base + ".bmp");
    }
    const Rgb cover = MakeCover(400, 200);
    const std::string coverPath = dir + "/cover.bmp";
    {
        const std::vector<uint8_t> bmp = EncodeBmp(cover);
        WriteFile(coverPath, bmp.data(), bmp.size());
    }
    const std::string logoPath = dir + "/logo.png";
    WriteLogoPng(logoPath);
    for (const Case* c : {&jj, &bb, &jb}) vmk::ForceDirectories(c->outDir);

    // Runs body with the program started as a user starts it, its main window up.
    const auto withProgram = [&](const std::function<void(vmk::TScriptedModal&)>& body) {
        int qtArgc = 1;
        QApplication platform(qtArgc, argv);
        vmk::InitializeModules();
        auto owned = std::make_unique<vmk::TScriptedModal>();
        vmk::TScriptedModal& modal = *owned;
        vmk::SetModalInterface(std::move(owned));
        vmk::RunProgram([&] { body(modal); });
        vmk::FinalizeModules();
    };

    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const std::vector<std::pair<int, std::string>> workerCounts{
        {1, "1"}, {2, "2"}, {cores, "all (" + std::to_string(cores) + ")"}};

    int childStatus = 0;
    if (wanted("memory")) {
        const pid_t child = MemoryInChild(withProgram, {&jj, &bb, &jb}, workerCounts, coverPath, width, height);
        waitpid(child, &childStatus, 0);
    }

    withProgram([&](vmk::TScriptedModal& modal) {
        FloorBuffers buffers;
        // Warm-up: page in the code and the files once.
        FloorPass(jj, cover, buffers);
        RunPass(jj, coverPath, modal, 0);

        if (wanted("ratio")) RatioTable({&jj, &bb, &jb}, workerCounts, cover, coverPath, buffers, modal, repeats);
        if (wanted("cli")) CliTable(jj, cover, coverPath, buffers, modal, repeats);
        if (wanted("logo")) LogoTable(jj, cover, logoPath, width, height, buffers, modal, repeats);
    });
    const int status = WIFEXITED(childStatus) ? WEXITSTATUS(childStatus) : 1;
    if (getenv("VMK_BENCH_KEEP")) return status;
    std::string cleanup = "rm -rf '" + dir + "'";
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
    return status;
}
