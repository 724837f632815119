// The PNG reader against ImageMagick's own decoding of the same files, one file
// per colour type, bit depth and interlace method; and hostile files refused.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "imaging/PngCodec.h"
#include "support/Cat.h"

using namespace vmk;
using vmk::test::Cat;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

std::string Magick() {
    for (const char* name : {"convert-im6.q16", "convert"})
        if (std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0) return name;
    return "";
}

uint32_t Crc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, Crc(out.data() + start, out.size() - start));
}

// A PNG header for a picture of the given size and nothing after it.
std::vector<uint8_t> HeaderOnly(uint32_t width, uint32_t height) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Put32(ihdr, width);
    Put32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    return out;
}

class PngCodecTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = (std::filesystem::temp_directory_path() / ("vmk_png_" + std::to_string(::getpid()))).string() + "/";
        std::filesystem::create_directories(dir_);
        // Noise, so every value and every filter of the encoder is met.
        uint32_t seed = 12345;
        auto next = [&] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
        std::vector<uint8_t> narrow(kW * kH * 4), wide(kW * kH * 8);
        for (auto& b : narrow) b = next();
        for (auto& b : wide) b = next();
        WriteFile(dir_ + "s8.rgba", narrow);
        WriteFile(dir_ + "s16.rgba", wide);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static constexpr int kW = 37, kH = 23;
    std::string dir_;
};

struct Kind {
    const char* name;
    const char* args;  // made from 8-bit (s8) or 16-bit (s16) noise
    int depth, colorType, interlace;
    bool transparent;
    const char* format = "";  // ImageMagick's output prefix
};

TEST_F(PngCodecTest, EveryColourTypeDepthAndInterlaceMatchesImageMagick) {
    const std::string magick = Magick();
    if (magick.empty()) GTEST_SKIP() << "ImageMagick missing";
    const Kind kinds[] = {
        {"g1", "s8 -alpha off -colorspace gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1", 1, 0,
         0, false},
        {"g2", "s8 -alpha off -colorspace gray -depth 2 -define png:color-type=0 -define png:bit-depth=2", 2, 0, 0,
         false},
        {"g4i",
         "s8 -alpha off -colorspace gray -depth 4 -define png:color-type=0 -define png:bit-depth=4 -interlace PNG", 4,
         0, 1, false},
        {"g8", "s8 -alpha off -colorspace gray -define png:color-type=0 -define png:bit-depth=8", 8, 0, 0, false},
        {"g16", "s16 -alpha off -colorspace gray -define png:color-type=0 -define png:bit-depth=16", 16, 0, 0, false},
        {"gt",
         "s8 -alpha off -colorspace gray -threshold 50% -transparent black -define png:color-type=0 "
         "-define png:bit-depth=8",
         8, 0, 0, true},
        {"ga8", "s8 -colorspace gray -define png:color-type=4 -define png:bit-depth=8", 8, 4, 0, true},
        {"ga16", "s16 -colorspace gray -define png:color-type=4 -define png:bit-depth=16", 16, 4, 0, true},
        {"p4", "s8 -alpha off -colors 4 -define png:color-type=3", 4, 3, 0, false},
        {"p8", "s8 -alpha off -colors 16 -define png:bit-depth=8 -define png:color-type=3", 8, 3, 0, false},
        {"p8t", "s8 -channel A -threshold 50% +channel -colors 16", 8, 3, 0, true, "PNG8:"},
        {"rgb8", "s8 -alpha off -define png:color-type=2", 8, 2, 0, false},
        {"rgb16i", "s16 -alpha off -define png:color-type=2 -define png:bit-depth=16 -interlace PNG", 16, 2, 1, false},
        {"rgbt", "s8 -alpha off -threshold 50% -transparent black -define png:color-type=2 -define png:bit-depth=8", 8,
         2, 0, true},
        {"rgba8", "s8 -define png:color-type=6", 8, 6, 0, true},
        {"rgba8i", "s8 -define png:color-type=6 -interlace PNG", 8, 6, 1, true},
        {"rgba16", "s16 -define png:color-type=6 -define png:bit-depth=16", 16, 6, 0, true},
        {"rgba16i", "s16 -define png:color-type=6 -define png:bit-depth=16 -interlace PNG", 16, 6, 1, true},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        const std::string args = k.args;
        const std::string source = args.substr(0, args.find(' '));
        const std::string png = dir_ + k.name + ".png";
        std::string cmd =
            Cat(magick, " -size ", std::to_string(kW), "x", std::to_string(kH), " -depth ", source == "s8" ? "8" : "16",
                " rgba:", dir_, source, ".rgba ", args.substr(args.find(' ') + 1), " ", k.format, png, " 2>/dev/null");
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const auto bytes = ReadFile(png);
        ASSERT_GT(bytes.size(), 33u);
        // The file is of the kind this case is about.
        EXPECT_EQ(bytes[24], k.depth);
        EXPECT_EQ(bytes[25], k.colorType);
        EXPECT_EQ(bytes[28], k.interlace);

        // ImageMagick's samples at the file's depth; 16 bits are rounded to the
        // nearest 8-bit value here (its own -depth 8 rounds down, libspng's
        // RGBA8 output drops the low byte: both are a level off).
        const bool deep = k.depth == 16;
        cmd = Cat(magick, " ", png, " -depth ", deep ? "16" : "8", " rgba:", png, ".raw");
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        auto reference = ReadFile(png + ".raw");
        if (deep) {
            for (size_t i = 0; i < reference.size() / 2; ++i)
                reference[i] = static_cast<uint8_t>(((reference[2 * i] | reference[2 * i + 1] << 8) + 128) / 257);
            reference.resize(reference.size() / 2);
        }
        ASSERT_EQ(reference.size(), size_t{kW * kH * 4});

        TBitmap bitmap;
        const png::PngInfo info = png::DecodePng(bytes.data(), bytes.size(), bitmap);
        EXPECT_EQ(info.Width, kW);
        EXPECT_EQ(info.Height, kH);
        EXPECT_EQ(info.HasAlpha, k.transparent);
        EXPECT_EQ(bitmap.GetAlphaChannel(), k.transparent);
        ASSERT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf32bit);
        int wrong = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const uint8_t* p = bitmap.GetScanline(y) + x * 4;
                const uint8_t* r = reference.data() + (y * kW + x) * 4;
                if ((p[2] != r[0] || p[1] != r[1] || p[0] != r[2] || p[3] != r[3]) && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": BGRA " << int(p[0]) << " " << int(p[1]) << " "
                                  << int(p[2]) << " " << int(p[3]) << ", ImageMagick RGBA " << int(r[0]) << " "
                                  << int(r[1]) << " " << int(r[2]) << " " << int(r[3]);
            }
    }
}

TEST_F(PngCodecTest, DamagedFilesAreRefusedAndLeaveTheBitmapAsItWas) {
    const std::string magick = Magick();
    if (magick.empty()) GTEST_SKIP() << "ImageMagick missing";
    const std::string png = dir_ + "good.png";
    const std::string cmd = magick + " -size " + std::to_string(kW) + "x" + std::to_string(kH) +
                            " -depth 8 rgba:" + dir_ + "s8.rgba " + png;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const auto good = ReadFile(png);

    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(3, 2);
    auto refused = [&](std::vector<uint8_t> bytes, const std::string& says) {
        try {
            png::DecodePng(bytes.data(), bytes.size(), bitmap);
            ADD_FAILURE() << "accepted, expected: " << says;
        } catch (const EPNG& e) {
            EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
        }
        EXPECT_EQ(bitmap.Width(), 3);
        EXPECT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf24bit);
    };
    const size_t idat = std::string(good.begin(), good.end()).find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    for (size_t cut : {size_t{0}, size_t{7}, size_t{20}, size_t{40}, idat + 30, good.size() / 2})
        refused(std::vector<uint8_t>(good.begin(), good.begin() + long(cut)), "PNG");
    auto flipped = good;
    flipped[flipped.size() / 2] ^= 0x40;  // a CRC no longer matches
    refused(flipped, "Invalid PNG image");
    refused(HeaderOnly(0, 5), "Invalid PNG image");
    // Sizes past the bound are refused from the header, before any pixel.
    refused(HeaderOnly(100000, 100000), "PNG image too large to load: 100000 x 100000 pixels");
    refused(HeaderOnly(1u << 29, 1), "PNG image too large to load");
    // Within the pixel bound, but the 16-bit pass would pass the memory bound.
    auto deep = HeaderOnly(16384, 16384);
    deep[24] = 16;
    const uint32_t crc = Crc(deep.data() + 12, 17);
    for (int i = 0; i < 4; ++i) deep[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    refused(deep, "PNG image too large to load: 16384 x 16384 pixels");
}

TEST_F(PngCodecTest, MetadataChunksAreKept) {
    const std::string magick = Magick();
    if (magick.empty()) GTEST_SKIP() << "ImageMagick missing";
    const std::string png = dir_ + "plain.png";
    const std::string cmd = magick + " -size 4x3 xc:red -define png:color-type=2 " + png;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    auto bytes = ReadFile(png);
    // eXIf and an XMP iTXt chunk placed after the header.
    std::vector<uint8_t> extra;
    const std::vector<uint8_t> exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
    PutChunk(extra, "eXIf", exif);
    std::string itxt = std::string("XML:com.adobe.xmp") + '\0' + '\0' + '\0' + '\0' + '\0' + "<x:xmpmeta/>";
    PutChunk(extra, "iTXt", std::vector<uint8_t>(itxt.begin(), itxt.end()));
    bytes.insert(bytes.begin() + 33, extra.begin(), extra.end());

    TBitmap bitmap;
    const png::PngInfo info = png::DecodePng(bytes.data(), bytes.size(), bitmap);
    EXPECT_EQ(info.Exif, exif);
    EXPECT_EQ(info.Xmp, "<x:xmpmeta/>");
    EXPECT_FALSE(info.HasAlpha);
    EXPECT_EQ(bitmap.GetPixelColor(3, 2), RGBColor(255, 0, 0));
    EXPECT_EQ(bitmap.GetScanline(0)[3], 255);
}

}  // namespace
