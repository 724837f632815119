// With every cover control at its default, the drawing step gives exactly the
// bytes it gave before covers learnt alpha, opacity, sizes and margins. The
// digests below were taken from the build before that change.

#include <cinttypes>
#include <cstdio>

#include "compose/Compose.h"
#include "support/PictureBytes.h"
#include "support/Pictures.h"

using namespace vmk;
using namespace vmk::test;

namespace {

uint64_t Fnv(uint64_t h, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

}  // namespace

TEST(CoverDefaults, ResultsAreTheBytesOfTheBuildBefore) {
    char pattern[] = "/tmp/vmk-defaults-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = std::string(pattern) + "/";
    const std::vector<TColor> colours = {RGBColor(255, 0, 255), RGBColor(10, 200, 30), RGBColor(250, 250, 5),
                                         RGBColor(0, 0, 0), RGBColor(90, 40, 160)};

    // Sources: 24-bit, palette and 32-bit bitmaps, a JPEG and an EXIF-turned JPEG.
    Pic photo = MakeGradient(53, 70);
    photo->SaveToFile(dir + "s24.bmp");
    MakePicture(TPixelFormat::pf8bit, 31, 17, colours, 1)->SaveToFile(dir + "s8.bmp");
    {
        Pic p = MakeGradient(19, 23);
        p->SetPixelFormat(TPixelFormat::pf32bit);
        p->SaveToFile(dir + "s32.bmp");
    }
    SaveJpeg(*photo, dir + "photo.jpg", 92);
    {
        const auto plain = ReadBytes(dir + "photo.jpg");
        const auto bytes = WithSegments(plain, {{0xE1, ExifPayload(6, false)}});
        std::ofstream(dir + "turned.jpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // Covers: 24-bit, palette and 32-bit without alpha.
    MakeCover(9, 21, RGBColor(255, 0, 255), {RGBColor(0, 255, 0), RGBColor(0, 0, 255)})->SaveToFile(dir + "c24.bmp");
    MakePicture(TPixelFormat::pf4bit, 7, 5, colours, 2)->SaveToFile(dir + "c4.bmp");
    {
        Pic c = MakeCover(6, 4, RGBColor(10, 200, 30), {RGBColor(200, 10, 10), RGBColor(1, 2, 3)});
        c->SetPixelFormat(TPixelFormat::pf32bit);
        c->SaveToFile(dir + "c32.bmp");
    }

    std::vector<uint64_t> digests;
    for (const char* source : {"s24.bmp", "s8.bmp", "s32.bmp", "photo.jpg", "turned.jpg"}) {
        uint64_t h = 0xCBF29CE484222325ull;
        for (const char* coverName : {"c24.bmp", "c4.bmp", "c32.bmp"})
            for (TCoverPlace place : {TCoverPlace::None, TCoverPlace::LT, TCoverPlace::RT, TCoverPlace::LB,
                                      TCoverPlace::RB, TCoverPlace::Other})
                for (int transparency = 0; transparency < 3; ++transparency) {
                    TCoverSettings s;
                    s.CoverFile = dir + coverName;
                    s.Place = place;
                    s.Left = 5;
                    s.Top = -3;
                    s.Transparent = transparency > 0;
                    s.AutoDetTrans = transparency == 1;
                    s.TransColor = RGBColor(10, 200, 30);
                    TBitmap cover;
                    PrepareCover(cover, s);
                    TBitmap working;
                    LoadSource(working, dir + source);
                    DrawCover(working, cover, s);
                    TMemoryStream bmp;
                    EncodeResult(working, bmp, TWriteFormat::Bmp, 0);
                    h = Fnv(h, bmp.Bytes());
                }
        digests.push_back(h);
    }
    const std::vector<uint64_t> before = {0xB9D8535B7319B8BAull, 0xEA0DFA4381FB237Aull, 0x4AC69B531B8801A7ull,
                                          0x74A21E55E8CFEAE6ull, 0x7FCFB2841CA91D3Aull};
    EXPECT_EQ(digests, before);
    if (digests != before)
        for (uint64_t d : digests) std::printf("0x%016" PRIX64 "ull\n", d);
    std::filesystem::remove_all(dir);
}
