#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "imaging/Graphics.h"

using namespace vmk;

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}

// A 5 x 3 picture of distinct colours that every format can hold exactly.
void Sample(TBitmap& b) {
    const TColor colours[] = {clBlack, clWhite, RGBColor(255, 0, 0), RGBColor(0, 255, 0), RGBColor(0, 0, 255)};
    b.SetSize(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) b.GetCanvas().SetPixel(x, y, colours[(x + y) % 5]);
}

}  // namespace

TEST(BmpWrite, RoundTripsEveryFormat) {
    struct Case {
        TPixelFormat format;
        uint16_t bits;
        uint32_t compression;
    } cases[] = {{TPixelFormat::pf1bit, 1, 0},   {TPixelFormat::pf4bit, 4, 0},   {TPixelFormat::pf8bit, 8, 0},
                 {TPixelFormat::pf15bit, 16, 0}, {TPixelFormat::pf16bit, 16, 3}, {TPixelFormat::pf24bit, 24, 0},
                 {TPixelFormat::pf32bit, 32, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(BitsPerPixel(c.format));
        TBitmap b;
        Sample(b);
        b.SetPixelFormat(c.format);
        TMemoryStream s;
        b.SaveToStream(s);
        const auto& bytes = s.Bytes();
        ASSERT_GT(bytes.size(), 54u);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(U32(bytes, 2), bytes.size());
        EXPECT_EQ(U32(bytes, 14), 40u);
        EXPECT_EQ(U32(bytes, 22), 3u);  // positive height: bottom-up rows
        EXPECT_EQ(bytes[28], c.bits);
        EXPECT_EQ(U32(bytes, 30), c.compression);
        EXPECT_EQ(U32(bytes, 10) + U32(bytes, 34), bytes.size());

        s.SetPosition(0);
        TBitmap back;
        back.LoadFromStream(s);
        EXPECT_EQ(back.GetPixelFormat(), c.format);
        ASSERT_EQ(back.Width(), 5);
        ASSERT_EQ(back.Height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(back.GetPixelColor(x, y), b.GetPixelColor(x, y)) << x << "," << y;
        if (BitsPerPixel(c.format) <= 8) {
            EXPECT_EQ(back.GetPalette()->Entries, b.GetPalette()->Entries);
        }
        EXPECT_TRUE(back.Equals(b));
    }
}

TEST(BmpWrite, KeepsPaletteIndexesAndLoadsFromMidStream) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf8bit);
    b.SetSize(3, 2);
    auto pal = std::make_shared<TLogPalette>();
    pal->Entries = {{1, 2, 3, 0}, {4, 5, 6, 0}, {4, 5, 6, 0}};  // a duplicate colour keeps its own index
    b.SetPalette(pal);
    b.GetScanline(0)[2] = 2;
    b.GetScanline(1)[0] = 1;
    TMemoryStream s;
    s.WriteBuffer("xyz", 3);
    b.SaveToStream(s);
    s.SetPosition(3);
    TBitmap back;
    std::vector<TProgressStage> stages;
    int changes = 0;
    back.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        stages.push_back(stage);
    };
    back.OnChange = [&](TGraphic&) { ++changes; };
    back.LoadFromStream(s);
    EXPECT_EQ(stages, (std::vector<TProgressStage>{TProgressStage::psStarting, TProgressStage::psEnding}));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(back.GetPalette()->Entries.size(), 3u);
    EXPECT_EQ(back.GetScanline(0)[2], 2);
    EXPECT_EQ(back.GetScanline(1)[0], 1);
    EXPECT_EQ(back.GetScanline(1)[1], 0);
}

TEST(BmpWrite, EmptyBitmapRoundTrips) {
    TBitmap b;
    TMemoryStream s;
    b.SaveToStream(s);
    s.SetPosition(0);
    TBitmap back;
    back.SetSize(3, 3);
    back.LoadFromStream(s);
    EXPECT_TRUE(back.GetEmpty());
}

TEST(BmpWrite, SaveToFileIsWholeOrNothing) {
    const auto dir = std::filesystem::temp_directory_path() / ("vmk_bmpwrite_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "taken.bmp");
    TBitmap b;
    Sample(b);
    const std::string target = (dir / "out.bmp").string();
    b.SaveToFile(target);
    TBitmap back;
    back.LoadFromFile(target);
    EXPECT_TRUE(back.Equals(b));
    // A save that fails leaves no file behind and the old one as it was.
    EXPECT_THROW(b.SaveToFile((dir / "taken.bmp").string()), EStreamError);
    EXPECT_THROW(b.SaveToFile((dir / "missing" / "x.bmp").string()), EStreamError);
    const auto size = std::filesystem::file_size(target);
    TBitmap other;
    other.SetSize(1, 1);
    other.SaveToFile(target);
    EXPECT_LT(std::filesystem::file_size(target), size);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
    std::filesystem::remove_all(dir);
}
