// WebP, TIFF and HEIF pictures made by independent tools (ImageMagick, cwebp,
// img2webp, webpmux, tiffcp, heif-enc) and read back by them (dwebp,
// ImageMagick, heif-convert, tiffinfo, heif-info, exiftool).

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <libheif/heif.h>

#include "imaging/ForeignImage.h"
#include "imaging/HeifImage.h"
#include "imaging/PictureFormats.h"
#include "imaging/PngImage.h"
#include "imaging/PngWrite.h"
#include "imaging/TiffExif.h"
#include "imaging/TiffImage.h"
#include "imaging/WebpImage.h"
#include "support/Cat.h"
#include "support/PictureBytes.h"
#include "support/Pictures.h"

using namespace vmk;
using namespace vmk::test;

namespace {

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0; }

void Shell(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

std::string Output(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        size_t n = 0;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

// Pixels as rows of r, g, b (and a) bytes, the way the tools give them.
struct Pixels {
    int width = 0, height = 0, channels = 3;
    std::vector<uint8_t> bytes;
};

// An independent reader's pixels: ImageMagick's, of any file it knows.
Pixels MagickRead(const std::string& path, bool alpha = false, const std::string& args = "") {
    Pixels p;
    const std::string size = Output("convert '" + path + "' " + args + " -format '%w %h' info:");
    std::sscanf(size.c_str(), "%d %d", &p.width, &p.height);
    p.channels = alpha ? 4 : 3;
    Shell("convert '" + path + "' " + args + " -depth 8 " + (alpha ? "rgba" : "rgb") + ":'" + path + ".raw'");
    p.bytes = ReadBytes(path + ".raw");
    return p;
}

// ImageMagick's 16-bit reading, reduced to 8 bits by rounding to the nearest:
// what a 16-bit source must give.
Pixels MagickRead16(const std::string& path) {
    Pixels p;
    const std::string size = Output("convert '" + path + "' -format '%w %h' info:");
    std::sscanf(size.c_str(), "%d %d", &p.width, &p.height);
    Shell("convert '" + path + "' -endian MSB -depth 16 rgb:'" + path + ".raw'");
    const auto wide = ReadBytes(path + ".raw");
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        p.bytes.push_back(uint8_t(((wide[i] << 8 | wide[i + 1]) * 255 + 32767) / 65535));
    return p;
}

// libwebp's own command-line decoder, as a PAM file.
Pixels DwebpRead(const std::string& path) {
    Shell("dwebp '" + path + "' -pam -o '" + path + ".pam'");
    const auto pam = ReadBytes(path + ".pam");
    const std::string text(pam.begin(), pam.end());
    Pixels p;
    p.channels = 4;
    std::sscanf(text.substr(text.find("WIDTH")).c_str(), "WIDTH %d", &p.width);
    std::sscanf(text.substr(text.find("HEIGHT")).c_str(), "HEIGHT %d", &p.height);
    const size_t at = text.find("ENDHDR\n") + 7;
    p.bytes.assign(pam.begin() + long(at), pam.end());
    return p;
}

// libheif's own decoder, through a PNG.
Pixels HeifRead(const std::string& path, bool alpha = false) {
    Shell("heif-convert '" + path + "' '" + path + ".png'");
    return MagickRead(path + ".png", alpha);
}

// Compares a bitmap with a tool's pixels; tolerance per channel.
void ExpectPixels(const TBitmap& b, const Pixels& p, int tolerance = 0, bool alpha = false) {
    ASSERT_EQ(b.Width(), p.width);
    ASSERT_EQ(b.Height(), p.height);
    ASSERT_EQ(p.bytes.size(), size_t(p.width) * p.height * p.channels);
    int wrong = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* q = p.bytes.data() + (size_t(y) * p.width + x) * p.channels;
            const TColor c = b.GetPixelColor(x, y);
            int diff =
                std::max({std::abs(GetRValue(c) - q[0]), std::abs(GetGValue(c) - q[1]), std::abs(GetBValue(c) - q[2])});
            // Under no coverage the colour is nobody's to see, and readers differ there.
            if (alpha && q[3] == 0) diff = 0;
            if (alpha) diff = std::max(diff, std::abs(b.GetScanline(y)[x * 4 + 3] - q[3]));
            if (diff > tolerance && ++wrong <= 3) ADD_FAILURE() << "pixel " << x << "," << y << " differs by " << diff;
        }
    EXPECT_EQ(wrong, 0);
}

// A picture with detail in every direction, so that a turn or mirror shows.
Pic Pattern(int w = 24, int h = 16) {
    return Painted(w, h, [&](int x, int y) {
        return RGBColor(uint8_t(x * 255 / (w - 1)), uint8_t(y * 255 / (h - 1)), uint8_t((x * 7 + y * 13) % 256));
    });
}

// The loaded picture, through the holder as the program loads it.
Pic Load(const std::string& path) {
    TPicture picture;
    picture.LoadFromFile(path);
    Pic b = std::make_unique<TBitmap>();
    b->Assign(picture.GetBitmap());
    return b;
}

// A result as the composing steps write one: lossy formats at quality 90.
enum class Kind { Png, WebP, WebPLossless, Tiff, Heic, Avif };
std::string Write(TBitmap& bitmap, const std::string& path, Kind kind, const TPictureMetadata& metadata = {}) {
    TFileStream file(path, TFileMode::Create);
    if (kind == Kind::Png) {
        WritePng(bitmap, metadata, file);
        return path;
    }
    std::unique_ptr<TForeignImage> writer;
    if (kind == Kind::WebP || kind == Kind::WebPLossless) writer = std::make_unique<TWebPImage>();
    if (kind == Kind::Tiff) writer = std::make_unique<TTIFFImage>();
    if (kind == Kind::Heic) writer = std::make_unique<THEIFImage>(THEIFCompression::Hevc);
    if (kind == Kind::Avif) writer = std::make_unique<THEIFImage>(THEIFCompression::Av1);
    writer->Assign(bitmap);
    writer->SetQuality(90);
    writer->SetLossless(kind == Kind::WebPLossless);
    writer->SetMetadata(metadata);
    writer->SaveToStream(file);
    return path;
}

std::string LoadError(const std::string& path) {
    try {
        Load(path);
    } catch (const Exception& e) {
        return e.what();
    }
    return "(loaded)";
}

class FormatsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterPictureFormats(); }
    static void TearDownTestSuite() { UnregisterPictureFormats(); }
    void SetUp() override {
        if (!Have("convert") || !Have("cwebp") || !Have("dwebp") || !Have("tiffcp") || !Have("heif-enc"))
            GTEST_SKIP() << "the picture tools of scripts/setup.sh are not installed";
        dir_ = (fs::temp_directory_path() / ("vmk-formats-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .string() +
               "/";
        fs::create_directories(dir_);
        source_ = Pattern();
        source_->SaveToFile(dir_ + "src.bmp");
        Shell("convert '" + dir_ + "src.bmp' '" + dir_ + "src.png'");
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    std::string dir_;
    Pic source_;
};

// ---- WebP

TEST_F(FormatsTest, WebPLosslessLossyAndAlphaReadAsLibwebpDecodes) {
    Shell("cwebp -quiet -lossless '" + dir_ + "src.png' -o '" + dir_ + "ll.webp'");
    ExpectSamePixels(*Load(dir_ + "ll.webp"), *source_);
    EXPECT_TRUE(WebPFileIsLossless(dir_ + "ll.webp"));

    Shell("cwebp -quiet -q 80 '" + dir_ + "src.png' -o '" + dir_ + "lossy.webp'");
    EXPECT_FALSE(WebPFileIsLossless(dir_ + "lossy.webp"));
    // The same decoder as dwebp: the same pixels exactly.
    ExpectPixels(*Load(dir_ + "lossy.webp"), DwebpRead(dir_ + "lossy.webp"));

    Shell("convert '" + dir_ + "src.png' -alpha set -channel A -fx '(i%4)/3' '" + dir_ + "alpha.png'");
    Shell("cwebp -quiet -lossless -exact '" + dir_ + "alpha.png' -o '" + dir_ + "alpha.webp'");
    const Pic alpha = Load(dir_ + "alpha.webp");
    ASSERT_EQ(alpha->GetPixelFormat(), TPixelFormat::pf32bit);
    EXPECT_TRUE(alpha->GetAlphaChannel());
    ExpectPixels(*alpha, DwebpRead(dir_ + "alpha.webp"), 0, true);
}

TEST_F(FormatsTest, AnimatedWebPGivesItsFirstFrame) {
    if (!Have("img2webp")) GTEST_SKIP() << "img2webp is not installed";
    Shell("convert '" + dir_ + "src.png' -negate '" + dir_ + "second.png'");
    Shell("img2webp -lossless '" + dir_ + "src.png' '" + dir_ + "second.png' -o '" + dir_ + "anim.webp'");
    ExpectSamePixels(*Load(dir_ + "anim.webp"), *source_);
}

// The stored picture with an EXIF orientation must read as ImageMagick turns it.
TEST_F(FormatsTest, WebPTiffAndPngOrientationsOneToEight) {
    if (!Have("webpmux")) GTEST_SKIP() << "webpmux is not installed";
    const char* names[] = {"",        "TopLeft",  "TopRight",    "BottomRight", "BottomLeft",
                           "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    Shell("cwebp -quiet -lossless '" + dir_ + "src.png' -o '" + dir_ + "plain.webp'");
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE("orientation " + std::to_string(o));
        const std::string n = std::to_string(o);
        const Pixels upright =
            MagickRead(dir_ + "src.png", false, std::string("-orient ") + names[o] + " -auto-orient");
        auto exif = ExifPayload(o, o % 2 == 0);
        exif.erase(exif.begin(), exif.begin() + 6);  // a WebP EXIF chunk holds the TIFF block alone
        WriteFile(dir_ + "exif" + n, exif);
        Shell(Cat("webpmux -set exif '", dir_, "exif", n, "' '", dir_, "plain.webp' -o '", dir_, "o", n, ".webp'"));
        ExpectPixels(*Load(dir_ + "o" + n + ".webp"), upright);

        Shell("convert '" + dir_ + "src.png' -orient " + names[o] + " -compress lzw '" + dir_ + "o" + n + ".tif'");
        ExpectPixels(*Load(dir_ + "o" + n + ".tif"), upright);

        if (!Have("exiftool")) continue;
        Shell(Cat("exiftool -q -q -Orientation#=", n, " -o '", dir_, "o", n, ".png' '", dir_, "src.png'"));
        ExpectPixels(*Load(dir_ + "o" + n + ".png"), upright);
    }
}

TEST_F(FormatsTest, WebPMetadataChunksComeOutUpright) {
    if (!Have("webpmux")) GTEST_SKIP() << "webpmux is not installed";
    Shell("cwebp -quiet -lossless '" + dir_ + "src.png' -o '" + dir_ + "plain.webp'");
    auto exif = ExifPayload(6, false);
    exif.erase(exif.begin(), exif.begin() + 6);
    WriteFile(dir_ + "exif", exif);
    WriteFile(dir_ + "xmp", {'<', 'x', '/', '>'});
    Shell("webpmux -set exif '" + dir_ + "exif' '" + dir_ + "plain.webp' -o '" + dir_ + "e.webp'");
    Shell("webpmux -set xmp '" + dir_ + "xmp' '" + dir_ + "e.webp' -o '" + dir_ + "ex.webp'");
    TWebPImage image;
    image.LoadFromFile(dir_ + "ex.webp");
    auto upright = exif;
    upright[kOrientationAt - 6] = 1;
    EXPECT_EQ(image.GetMetadata().Exif, upright);
    EXPECT_EQ(image.GetMetadata().Xmp, (std::vector<uint8_t>{'<', 'x', '/', '>'}));
    EXPECT_EQ(image.GetWidth(), 16);  // turned a quarter
}

// ---- TIFF

TEST_F(FormatsTest, TiffLayoutsAndCompressionsReadAsImageMagickReads) {
    struct Case {
        const char* name;
        const char* args;
        int tolerance;  // -1: 16-bit samples, rounded
    };
    const Case cases[] = {
        {"none", "-compress none", 0},
        {"lzw", "-compress lzw", 0},
        {"zip", "-compress zip", 0},
        {"packbits", "-compress rle", 0},
        {"jpeg", "-compress jpeg -quality 95", 3},  // two JPEG decoders' colour conversions
        {"gray8", "-colorspace gray -type grayscale -compress lzw", 0},
        {"gray16", "-colorspace gray -type grayscale -depth 16 -evaluate multiply 1.0037", -1},
        {"rgb16", "-depth 16 -evaluate multiply 1.0037 -compress zip", -1},
        {"palette", "-type palette -colors 40 -compress lzw", -1},  // its colour map has 16 bits
        {"tiled", "-define tiff:tile-geometry=16x16 -compress zip", 0},
        {"cmyk", "-colorspace cmyk -compress lzw", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_ + c.name + ".tif";
        Shell("convert '" + dir_ + "src.png' " + c.args + " '" + path + "'");
        if (c.tolerance < 0)
            ExpectPixels(*Load(path), MagickRead16(path));
        else
            ExpectPixels(*Load(path), MagickRead(path, false, std::string(c.name) == "cmyk" ? "-colorspace srgb" : ""),
                         c.tolerance);
    }
    // RGBA with full and no coverage: straight colours survive exactly.
    Shell("convert '" + dir_ + "src.png' -alpha set -channel A -fx '(i%2)' -compress lzw '" + dir_ + "rgba.tif'");
    const Pic rgba = Load(dir_ + "rgba.tif");
    ASSERT_TRUE(rgba->GetAlphaChannel());
    for (int x = 1; x < rgba->Width(); x += 2) EXPECT_EQ(rgba->GetPixelColor(x, 3), source_->GetPixelColor(x, 3));
    // Several pages: the first.
    Shell("convert '" + dir_ + "src.png' '(' '" + dir_ + "src.png' -negate ')' '" + dir_ + "multi.tif'");
    ExpectSamePixels(*Load(dir_ + "multi.tif"), *source_);
    // Strips written by libtiff's own copier, tiled by it too.
    Shell("tiffcp -c lzw -t -w 16 -l 16 '" + dir_ + "lzw.tif' '" + dir_ + "tiffcp.tif'");
    ExpectSamePixels(*Load(dir_ + "tiffcp.tif"), *source_);
}

// ---- HEIF

TEST_F(FormatsTest, HeicAndAvifReadAsLibheifDecodes) {
    Shell("heif-enc -q 90 '" + dir_ + "src.png' -o '" + dir_ + "a.heic'");
    ExpectPixels(*Load(dir_ + "a.heic"), HeifRead(dir_ + "a.heic"), 2);
    Shell("heif-enc -A -q 90 '" + dir_ + "src.png' -o '" + dir_ + "a.avif'");
    ExpectPixels(*Load(dir_ + "a.avif"), HeifRead(dir_ + "a.avif"), 2);
    // And both close to what was encoded.
    EXPECT_LT(MeanError(*Load(dir_ + "a.heic"), *source_), 6.0);
}

// A HEIF file is turned by its 'irot' and 'imir' boxes, which libheif's
// encoder writes for an EXIF orientation. Each of the eight must come out as
// ImageMagick turns the source for that orientation.
TEST_F(FormatsTest, HeifOrientationsOneToEight) {
    const char* names[] = {"",        "TopLeft",  "TopRight",    "BottomRight", "BottomLeft",
                           "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    for (const THEIFCompression compression : {THEIFCompression::Hevc, THEIFCompression::Av1})
        for (int o = 1; o <= 8; ++o) {
            const bool avif = compression == THEIFCompression::Av1;
            SCOPED_TRACE(Cat(avif ? "AVIF" : "HEIC", " orientation ", std::to_string(o)));
            // The stored pixels are the source's; the boxes say how to show them.
            heif_context* context = heif_context_alloc();
            heif_encoder* encoder = nullptr;
            ASSERT_EQ(heif_context_get_encoder_for_format(context, avif ? heif_compression_AV1 : heif_compression_HEVC,
                                                          &encoder)
                          .code,
                      heif_error_Ok);
            heif_encoder_set_lossy_quality(encoder, 95);
            heif_image* image = nullptr;
            const int w = source_->Width(), h = source_->Height();
            heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
            heif_image_add_plane(image, heif_channel_interleaved, w, h, 8);
            int stride = 0;
            uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const TColor c = source_->GetPixelColor(x, y);
                    uint8_t* p = plane + y * stride + x * 3;
                    p[0] = GetRValue(c);
                    p[1] = GetGValue(c);
                    p[2] = GetBValue(c);
                }
            heif_encoding_options* options = heif_encoding_options_alloc();
            options->image_orientation = static_cast<heif_orientation>(o);
            EXPECT_EQ(heif_context_encode_image(context, image, encoder, options, nullptr).code, heif_error_Ok);
            const std::string path = Cat(dir_, "o", std::to_string(o), avif ? ".avif" : ".heic");
            EXPECT_EQ(heif_context_write_to_file(context, path.c_str()).code, heif_error_Ok);
            heif_encoding_options_free(options);
            heif_image_release(image);
            heif_encoder_release(encoder);
            heif_context_free(context);

            const Pixels upright =
                MagickRead(dir_ + "src.png", false, std::string("-orient ") + names[o] + " -auto-orient");
            const Pic got = Load(path);
            ASSERT_EQ(got->Width(), upright.width);
            ASSERT_EQ(got->Height(), upright.height);
            // Lossy: close on the whole; a wrong turn of this pattern is far off.
            double error = 0;
            for (int y = 0; y < upright.height; ++y)
                for (int x = 0; x < upright.width; ++x) {
                    const uint8_t* q = upright.bytes.data() + (size_t(y) * upright.width + x) * 3;
                    const TColor c = got->GetPixelColor(x, y);
                    error +=
                        std::abs(GetRValue(c) - q[0]) + std::abs(GetGValue(c) - q[1]) + std::abs(GetBValue(c) - q[2]);
                }
            EXPECT_LT(error / (upright.width * upright.height * 3.0), 6.0);
        }
}

// Debian's libaom 3.6 asserts (ending the process) in AV1 encodes of more
// than 8 bits through libheif 1.15, whatever the size: heif-enc trips it on
// any 16-bit or paletted PNG. Our writer hands libheif 8 bits only; pictures
// of one pixel, one row or column, odd sides, with and without alpha, must
// each make a file that reads back. Each is written in a child process, so
// that an abort fails this test instead of ending the suite.
TEST_F(FormatsTest, TinyAndOddSizedAvifResultsAreWritten) {
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 3}, {3, 2}, {9, 5}, {1, 33}, {65, 1}};
    for (const bool alpha : {false, true})
        for (const auto& [w, h] : sizes) {
            const std::string name = Cat(std::to_string(w), "x", std::to_string(h), alpha ? "a" : "");
            SCOPED_TRACE(name);
            const std::string path = dir_ + name + ".avif";
            std::fflush(nullptr);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                int status = 1;
                try {
                    TBitmap b;
                    b.SetPixelFormat(alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
                    b.SetSize(w, h);
                    b.SetAlphaChannel(alpha);
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < b.GetStride(); ++x) b.GetScanline(y)[x] = uint8_t(x * 37 + y * 101);
                    Write(b, path, Kind::Avif);
                    const Pic back = Load(path);
                    status = back->Width() == w && back->Height() == h && back->GetAlphaChannel() == alpha ? 0 : 2;
                } catch (...) {
                    status = 3;
                }
                std::_Exit(status);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
            EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
        }
}

// ---- Damaged and oversized files

TEST_F(FormatsTest, DamagedFilesAreRefusedWithAnError) {
    Shell("cwebp -quiet -q 80 '" + dir_ + "src.png' -o '" + dir_ + "good.webp'");
    Shell("convert '" + dir_ + "src.png' -compress zip '" + dir_ + "good.tif'");
    Shell("heif-enc -q 50 '" + dir_ + "src.png' -o '" + dir_ + "good.heic'");
    for (const char* name : {"good.webp", "good.tif", "good.heic"}) {
        SCOPED_TRACE(name);
        const auto bytes = ReadBytes(dir_ + name);
        const std::string ext = fs::path(name).extension().string();
        for (size_t keep : {size_t{0}, size_t{10}, bytes.size() / 2}) {
            WriteFile(dir_ + "cut" + ext, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(keep)));
            EXPECT_NE(LoadError(dir_ + "cut" + ext), "(loaded)") << keep;
        }
        auto scrambled = bytes;
        for (size_t i = 16; i < scrambled.size(); i += 3) scrambled[i] ^= 0x5A;
        WriteFile(dir_ + "scrambled" + ext, scrambled);
        (void)LoadError(dir_ + "scrambled" + ext);  // refused or read, never a crash
    }
}

TEST_F(FormatsTest, OversizedPicturesAreRefusedBeforeDecoding) {
    // An animation whose canvas says 20000 x 20000 (a still WebP cannot pass 16384 a side).
    if (!Have("img2webp")) GTEST_SKIP() << "img2webp is not installed";
    Shell("convert '" + dir_ + "src.png' -negate '" + dir_ + "second.png'");
    Shell("img2webp -lossless '" + dir_ + "src.png' '" + dir_ + "second.png' -o '" + dir_ + "huge.webp'");
    auto webp = ReadBytes(dir_ + "huge.webp");
    ASSERT_EQ(std::string(webp.begin() + 12, webp.begin() + 16), "VP8X");
    for (size_t at : {size_t{24}, size_t{27}}) {
        webp[at] = (20000 - 1) & 0xFF;
        webp[at + 1] = ((20000 - 1) >> 8) & 0xFF;
        webp[at + 2] = 0;
    }
    WriteFile(dir_ + "huge.webp", webp);
    EXPECT_EQ(LoadError(dir_ + "huge.webp"), "WebP image too large to load: 20000 x 20000 pixels");

    // A TIFF that says 100000 x 100000 over one tiny strip.
    Shell("convert -size 1x1 xc:red -compress none '" + dir_ + "one.tif'");
    Shell("tiffset -s 256 100000 '" + dir_ + "one.tif'");
    Shell("tiffset -s 257 100000 '" + dir_ + "one.tif'");
    EXPECT_EQ(LoadError(dir_ + "one.tif"), "TIFF image too large to load: 100000 x 100000 pixels");

    // A HEIC whose image size box says 40000 x 40000.
    Shell("heif-enc -q 50 '" + dir_ + "src.png' -o '" + dir_ + "big.heic'");
    auto heic = ReadBytes(dir_ + "big.heic");
    const std::string text(heic.begin(), heic.end());
    std::vector<uint8_t> size;
    Put(size, 40000, 4, true);
    Put(size, 40000, 4, true);
    // Every image of the file: the coded one and the cropped one shown.
    for (size_t ispe = text.find("ispe"); ispe != std::string::npos; ispe = text.find("ispe", ispe + 1))
        std::copy(size.begin(), size.end(), heic.begin() + long(ispe + 8));
    WriteFile(dir_ + "big.heic", heic);
    EXPECT_EQ(LoadError(dir_ + "big.heic"), "HEIF image too large to load: 40000 x 40000 pixels");
}

// ---- Writing

TEST_F(FormatsTest, EveryResultFormatReadsBackInIndependentReaders) {
    TPictureMetadata metadata;
    metadata.Exif = ExifPayload(1, false);
    metadata.Exif.erase(metadata.Exif.begin(), metadata.Exif.begin() + 6);
    metadata.Xmp = {'<', 'x', 'm', 'p', '/', '>'};
    TBitmap& s = *source_;
    ExpectPixels(s, MagickRead(Write(s, dir_ + "r.png", Kind::Png, metadata)));
    ExpectPixels(s, MagickRead(Write(s, dir_ + "r.tif", Kind::Tiff, metadata)));
    ExpectPixels(s, DwebpRead(Write(s, dir_ + "ll.webp", Kind::WebPLossless, metadata)));
    EXPECT_TRUE(WebPFileIsLossless(dir_ + "ll.webp"));
    EXPECT_LT(MeanError(*Load(Write(s, dir_ + "r.webp", Kind::WebP, metadata)), s), 6.0);
    EXPECT_FALSE(WebPFileIsLossless(dir_ + "r.webp"));
    const std::string heic = Write(s, dir_ + "r.heic", Kind::Heic, metadata);
    const std::string avif = Write(s, dir_ + "r.avif", Kind::Avif, metadata);
    EXPECT_NE(Output("heif-info '" + heic + "'").find("main brand: heic"), std::string::npos);
    EXPECT_NE(Output("heif-info '" + avif + "'").find("main brand: avif"), std::string::npos);
    EXPECT_LT(MeanError(*Load(heic), s), 6.0);
    EXPECT_LT(MeanError(*Load(avif), s), 6.0);

    const std::string tiffinfo = Output("tiffinfo '" + dir_ + "r.tif'");
    EXPECT_NE(tiffinfo.find("Deflate"), std::string::npos) << tiffinfo;
    EXPECT_NE(tiffinfo.find("horizontal differencing"), std::string::npos) << tiffinfo;

    // EXIF where the format holds it, as exiftool reads it.
    if (Have("exiftool"))
        for (const char* name : {"r.png", "r.webp", "r.heic", "r.tif"}) {
            SCOPED_TRACE(name);
            const std::string tags = Output(std::string("exiftool -s -Orientation -Make '") + dir_ + name + "'");
            EXPECT_NE(tags.find("Horizontal (normal)"), std::string::npos) << tags;
            EXPECT_NE(tags.find("Phone"), std::string::npos) << tags;
        }
    // The metadata read back from our own files as written.
    for (const char* name : {"r.png", "r.webp", "r.heic", "r.avif", "r.tif"}) {
        SCOPED_TRACE(name);
        TPicture picture;
        picture.LoadFromFile(dir_ + name);
        const auto& got = dynamic_cast<TForeignImage&>(*picture.GetGraphic()).GetMetadata();
        if (std::string(name) != "r.tif") {
            EXPECT_EQ(got.Exif, metadata.Exif);
        }
        EXPECT_EQ(got.Xmp, metadata.Xmp);
    }
}

// A TIFF's EXIF lives in its first directory and the EXIF and GPS
// directories that one points to: read from a TIFF source into every result
// that holds EXIF, and written into TIFF results from any source.
TEST_F(FormatsTest, ExifOfTiffSourcesAndResultsAsExiftoolReadsIt) {
    if (!Have("exiftool")) GTEST_SKIP() << "exiftool is not installed";
    const std::string tif = dir_ + "exif.tif";
    Shell("convert '" + dir_ + "src.png' -compress lzw '" + tif + "'");
    Shell(
        "exiftool -q -q -overwrite_original -Make=VmkCam -Model='M 1' -Artist=Ann -Orientation#=6 "
        "-DateTimeOriginal='2024:05:06 07:08:09' -ExposureTime=1/125 -FNumber=2.8 -ISO=200 "
        "-UserComment='a comment' -GPSLatitude=48.5 -GPSLatitudeRef=N -GPSAltitude=120 '" +
        tif + "'");
    TTIFFImage source;
    source.LoadFromFile(tif);
    EXPECT_EQ(source.GetWidth(), 16);  // turned a quarter, as its orientation says
    ASSERT_FALSE(source.GetMetadata().Exif.empty());
    EXPECT_EQ(ExifBlockOrientation(source.GetMetadata().Exif), TOrientation::Normal);

    TBitmap& upright = source.GetBitmap();
    const std::string tags =
        " -s -s -s -Make -Model -Artist -Orientation -DateTimeOriginal -ExposureTime -FNumber "
        "-ISO -UserComment -GPSLatitude -GPSLatitudeRef -GPSAltitude ";
    const std::string expected =
        "VmkCam\nM 1\nAnn\nHorizontal (normal)\n2024:05:06 07:08:09\n1/125\n2.8\n200\na comment\n"
        "48 deg 30' 0.00\" N\nNorth\n120 m\n";
    const std::pair<Kind, const char*> results[] = {
        {Kind::Tiff, "r.tif"}, {Kind::Png, "r.png"}, {Kind::WebP, "r.webp"}};
    for (const auto& [kind, name] : results) {
        const std::string path = Write(upright, dir_ + name, kind, source.GetMetadata());
        SCOPED_TRACE(path);
        EXPECT_EQ(Output(Cat("exiftool", tags, "'", path, "'")), expected);
    }
    // A TIFF result read as a source carries it on again (libtiff writes the
    // values anew, so the bytes may differ, but not what they say).
    TTIFFImage again;
    again.LoadFromFile(dir_ + "r.tif");
    const std::string rewritten = Write(again.GetBitmap(), dir_ + "again.tif", Kind::Tiff, again.GetMetadata());
    EXPECT_EQ(Output(Cat("exiftool", tags, "'", rewritten, "'")), expected);
    // A TIFF without EXIF or GPS directories carries none, as before.
    TTIFFImage plain;
    Shell("convert '" + dir_ + "src.png' '" + dir_ + "plain.tif'");
    plain.LoadFromFile(dir_ + "plain.tif");
    EXPECT_TRUE(plain.GetMetadata().Exif.empty());
}

// A hostile block: a thousand Make entries, each a long value over the
// same bytes. What is kept stays within what one EXIF segment could hold.
TEST(TiffExif, EntriesPointingAtEverythingAreBounded) {
    std::vector<uint8_t> block(1 << 20, 'x');
    const auto make = [&](uint32_t count) {
        std::memcpy(block.data(), "II*\0\x08\0\0\0", 8);
        block[8] = 0xE8;  // 1000 entries
        block[9] = 0x03;
        for (size_t i = 0; i < 1000; ++i) {
            uint8_t* e = block.data() + 10 + i * 12;
            const uint8_t entry[12] = {0x0F, 0x01, 7, 0, uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16), 0,
                                       0x00, 0x40, 0, 0};  // Make as undefined bytes, at 0x4000
            std::memcpy(e, entry, 12);
        }
        const TExifTree tree = ReadExifTree(block.data(), block.size());
        size_t kept = 0;
        for (const TExifEntry& e : tree.Main) kept += e.Value.size();
        return kept;
    };
    EXPECT_EQ(make(0x80000), 0u);  // each longer than a segment
    const size_t kept = make(60000);
    EXPECT_GT(kept, 0u);
    EXPECT_LE(kept, size_t{1} << 18);
}

// A fuzz finding: an EXIF directory holding only a tag libtiff does not know
// made libtiff fail on an empty directory, and the result was refused. The
// directory is left out; the rest of the EXIF is written.
TEST(TiffExif, DirectoryOfNothingLibtiffTakesIsLeftOut) {
    TExifTree tree;
    tree.Main.push_back({271, 2, 4, {'C', 'a', 'm', 0}});
    tree.Exif.push_back({8, 6, 5, {1, 2, 3, 4, 5}});
    TPictureMetadata metadata;
    metadata.Exif = ExifBlockOf(tree);
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(4, 3);
    TTIFFImage writer;
    writer.Assign(bitmap);
    writer.SetMetadata(metadata);
    TMemoryStream out;
    writer.SaveToStream(out);
    out.SetPosition(0);
    TTIFFImage back;
    back.LoadFromStream(out);
    EXPECT_EQ(back.GetWidth(), 4);
    // No EXIF directory was written, so the file carries no EXIF block.
    EXPECT_TRUE(back.GetMetadata().Exif.empty());
    std::vector<uint8_t> bytes(size_t(out.GetSize()));
    out.SetPosition(0);
    out.ReadBuffer(bytes.data(), out.GetSize());
    const TExifTree written = ReadExifTree(bytes.data(), bytes.size());
    // Make, and the orientation every TIFF result states.
    ASSERT_EQ(written.Main.size(), 2u);
    EXPECT_EQ(written.Main[0].Tag, 271);
    EXPECT_EQ(written.Main[0].Value, (std::vector<uint8_t>{'C', 'a', 'm', 0}));
    EXPECT_TRUE(written.Exif.empty());
}

TEST_F(FormatsTest, TransparencyIsKeptByFormatsThatHoldIt) {
    Shell("convert '" + dir_ + "src.png' -alpha set -channel A -fx '(i%3)/2' '" + dir_ + "alpha.png'");
    Shell("cwebp -quiet -lossless -exact '" + dir_ + "alpha.png' -o '" + dir_ + "alpha.webp'");
    const Pic alpha = Load(dir_ + "alpha.webp");
    const Pixels expected = DwebpRead(dir_ + "alpha.webp");
    ExpectPixels(*alpha, MagickRead(Write(*alpha, dir_ + "a.png", Kind::Png), true), 0, true);
    ExpectPixels(*alpha, DwebpRead(Write(*alpha, dir_ + "a.webp", Kind::WebPLossless)), 0, true);
    // TIFF holds straight (unassociated) alpha, as ImageMagick reads it.
    ExpectPixels(*alpha, MagickRead(Write(*alpha, dir_ + "a.tif", Kind::Tiff), true), 0, true);
    ExpectPixels(*alpha, expected, 0, true);
    // A BMP result keeps it too, in 32 bits with an alpha mask.
    alpha->SaveToFile(dir_ + "a.bmp");
    ExpectPixels(*alpha, MagickRead(dir_ + "a.bmp", true), 0, true);
}

TEST_F(FormatsTest, OnlyAnRgbProfileGoesWithAnRgbResult) {
    std::vector<uint8_t> icc(200, 0);
    std::memcpy(icc.data() + 16, "CMYK", 4);
    EXPECT_FALSE(IsRgbProfile(icc));
    std::memcpy(icc.data() + 16, "RGB ", 4);
    EXPECT_TRUE(IsRgbProfile(icc));
    // A profile spread over JPEG segments comes back whole.
    icc.resize(150000);
    for (size_t i = 0; i < icc.size(); ++i) icc[i] = uint8_t(i * 31);
    TPictureMetadata m;
    m.Icc = icc;
    const TJPEGMarkers markers = MarkersFromMetadata(m);
    EXPECT_EQ(markers.size(), 3u);
    EXPECT_EQ(MetadataFromMarkers(markers).Icc, icc);
    TJPEGMarkers missing(markers.begin(), markers.end() - 1);
    EXPECT_TRUE(MetadataFromMarkers(missing).Icc.empty());
}

}  // namespace
