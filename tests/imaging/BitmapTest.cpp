#include <gtest/gtest.h>

#include <cstring>

#include "imaging/Graphics.h"

using namespace vmk;

namespace {

void Fill(TBitmap& b, TColor c) {
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) b.GetCanvas().SetPixel(x, y, c);
}

}  // namespace

TEST(TBitmap, SizeFormatAndPixels) {
    TBitmap b;
    EXPECT_TRUE(b.GetEmpty());
    EXPECT_EQ(b.GetPixelFormat(), TPixelFormat::pf24bit);
    b.SetSize(5, 3);
    EXPECT_EQ(b.GetWidth(), 5);
    EXPECT_EQ(b.GetHeight(), 3);
    EXPECT_EQ(b.GetStride(), 16);
    b.GetCanvas().SetPixel(4, 2, RGBColor(1, 2, 3));
    EXPECT_EQ(b.GetPixelColor(4, 2), RGBColor(1, 2, 3));
    const uint8_t* row = b.GetScanline(2);
    EXPECT_EQ(row[12], 3);  // blue first
    EXPECT_EQ(row[14], 1);
    // Out of range reads are harmless; writes are ignored.
    EXPECT_EQ(b.GetPixelColor(-1, 0), 0u);
    EXPECT_EQ(b.GetPixelColor(5, 0), 0u);
    EXPECT_EQ(b.GetCanvas().GetPixel(0, 3), 0u);
    b.GetCanvas().SetPixel(-1, 7, clWhite);
    EXPECT_THROW(b.GetScanline(3), EInvalidGraphicOperation);
    EXPECT_THROW(b.GetScanline(-1), EInvalidGraphicOperation);
    EXPECT_THROW(b.SetSize(-1, 2), EInvalidGraphicOperation);
    EXPECT_THROW(b.SetSize(1 << 20, 1 << 20), EInvalidGraphic);
    EXPECT_EQ(b.GetWidth(), 5);

    // Growing keeps the old pixels.
    b.SetSize(7, 4);
    EXPECT_EQ(b.GetPixelColor(4, 2), RGBColor(1, 2, 3));
    EXPECT_EQ(b.GetPixelColor(6, 3), 0u);
}

TEST(TBitmap, PixelFormatConversionsKeepColours) {
    const TColor colours[] = {clBlack, clWhite, RGBColor(255, 0, 0), RGBColor(0, 255, 0), RGBColor(0, 0, 255)};
    for (TPixelFormat f : {TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf15bit, TPixelFormat::pf16bit,
                           TPixelFormat::pf32bit}) {
        TBitmap b;
        b.SetSize(5, 2);
        for (int i = 0; i < 5; ++i) b.GetCanvas().SetPixel(i, 1, colours[i]);
        b.SetPixelFormat(f);
        EXPECT_EQ(b.GetPixelFormat(), f);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(b.GetPixelColor(i, 1), colours[i]) << BitsPerPixel(f) << " " << i;
        if (BitsPerPixel(f) <= 8) {
            ASSERT_TRUE(b.GetPalette());
            EXPECT_LE(b.GetPalette()->Entries.size(), 1u << BitsPerPixel(f));
        }
        b.SetPixelFormat(TPixelFormat::pf24bit);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(b.GetPixelColor(i, 1), colours[i]);
    }
    TBitmap mono;
    mono.SetSize(9, 1);
    mono.GetCanvas().SetPixel(8, 0, RGBColor(200, 210, 220));
    mono.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_EQ(mono.GetStride(), 4);
    EXPECT_EQ(mono.GetPixelColor(8, 0), clWhite);
    EXPECT_EQ(mono.GetPixelColor(7, 0), clBlack);
}

// What the screen shows of a bitmap is read a row span at a time: each format
// must give the colours one-pixel reads give, and a span must stay inside.
TEST(TBitmap, RowColoursAgreeWithPixelColoursAndStayInside) {
    const TColor colours[] = {clBlack, clWhite, RGBColor(255, 0, 0), RGBColor(0, 255, 0), RGBColor(0, 0, 255)};
    for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf15bit,
                           TPixelFormat::pf16bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        TBitmap b;
        b.SetSize(11, 2);
        for (int i = 0; i < 11; ++i) b.GetCanvas().SetPixel(i, 1, colours[i % 5]);
        b.SetPixelFormat(f);
        TColor span[8] = {};
        b.GetRowColors(1, 3, 8, span);  // odd start: the sub-byte formats start mid-byte
        for (int i = 0; i < 8; ++i) EXPECT_EQ(span[i], b.GetPixelColor(3 + i, 1)) << BitsPerPixel(f) << " " << i;
        EXPECT_THROW(b.GetRowColors(1, 4, 8, span), EInvalidGraphicOperation) << BitsPerPixel(f);
        EXPECT_THROW(b.GetRowColors(1, -1, 2, span), EInvalidGraphicOperation);
        EXPECT_THROW(b.GetRowColors(2, 0, 1, span), EInvalidGraphicOperation);
        EXPECT_THROW(b.GetRowColors(-1, 0, 1, span), EInvalidGraphicOperation);
        EXPECT_NO_THROW(b.GetRowColors(0, 11, 0, span));
    }
}

TEST(TBitmap, PaletteSetAndLookup) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf8bit);
    b.SetSize(2, 1);
    auto pal = std::make_shared<TLogPalette>();
    pal->Entries = {{10, 20, 30, 0}, {40, 50, 60, 0}};
    b.SetPalette(pal);
    b.GetScanline(0)[1] = 1;
    EXPECT_EQ(b.GetPixelColor(0, 0), RGBColor(10, 20, 30));
    EXPECT_EQ(b.GetPixelColor(1, 0), RGBColor(40, 50, 60));
    b.GetScanline(0)[1] = 200;  // beyond the palette: black, never a stray read
    EXPECT_EQ(b.GetPixelColor(1, 0), 0u);
    TColor row[2] = {1, 1};
    b.GetRowColors(0, 0, 2, row);
    EXPECT_EQ(row[0], RGBColor(10, 20, 30));
    EXPECT_EQ(row[1], 0u);
    // Drawing onto a palette bitmap picks the nearest entry.
    b.GetCanvas().SetPixel(0, 0, RGBColor(38, 52, 61));
    EXPECT_EQ(b.GetScanline(0)[0], 1);
    auto big = std::make_shared<TLogPalette>();
    big->Entries.resize(257);
    EXPECT_THROW(b.SetPalette(big), EInvalidGraphicOperation);
}

TEST(TBitmap, AssignSharesUntilWritten) {
    TBitmap a;
    a.SetSize(3, 3);
    Fill(a, RGBColor(9, 8, 7));
    a.SetTransparentColor(RGBColor(9, 8, 7));
    a.SetTransparent(true);
    TBitmap b;
    b.Assign(a);
    EXPECT_EQ(static_cast<const TBitmap&>(a).GetScanline(0), static_cast<const TBitmap&>(b).GetScanline(0));
    EXPECT_TRUE(b.GetTransparent());
    EXPECT_EQ(b.GetTransparentMode(), TTransparentMode::tmFixed);
    b.GetScanline(1)[0] = 0xFF;
    EXPECT_NE(static_cast<const TBitmap&>(a).GetScanline(0), static_cast<const TBitmap&>(b).GetScanline(0));
    EXPECT_EQ(a.GetPixelColor(0, 1), RGBColor(9, 8, 7));
    EXPECT_EQ(b.GetPixelColor(0, 1), RGBColor(9, 8, 0xFF));
    a.GetCanvas().SetPixel(2, 2, clWhite);
    EXPECT_EQ(b.GetPixelColor(2, 2), RGBColor(9, 8, 7));
    a.FreeImage();
    EXPECT_TRUE(a.GetEmpty());
    EXPECT_EQ(b.GetWidth(), 3);
}

TEST(TBitmap, TransparentColourModes) {
    TBitmap b;
    b.SetSize(2, 2);
    b.GetCanvas().SetPixel(0, 1, RGBColor(1, 2, 3));
    EXPECT_EQ(b.GetTransparentMode(), TTransparentMode::tmAuto);
    EXPECT_EQ(b.GetTransparentColor(), RGBColor(1, 2, 3));
    b.SetTransparentColor(0x02FFFFFF);
    EXPECT_EQ(b.GetTransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(b.GetTransparentColor(), clWhite);
    b.SetTransparentMode(TTransparentMode::tmAuto);
    EXPECT_EQ(b.GetTransparentColor(), RGBColor(1, 2, 3));
    TBitmap empty;
    EXPECT_EQ(empty.GetTransparentColor(), 0u);
}

TEST(TBitmap, ChangeNotifications) {
    TBitmap b;
    int changes = 0;
    b.OnChange = [&](TGraphic& sender) {
        EXPECT_EQ(&sender, &b);
        ++changes;
    };
    b.SetSize(2, 2);
    b.SetTransparent(true);
    b.SetTransparent(true);  // no change, no notification
    b.GetCanvas().SetPixel(0, 0, clWhite);
    EXPECT_EQ(changes, 3);
}

TEST(TGraphic, AssignBetweenUnrelatedKindsFails) {
    struct TOther : TGraphic {
        std::unique_ptr<TGraphic> NewInstance() const override { return std::make_unique<TOther>(); }
        const char* ClassName() const override { return "TOther"; }
        bool GetEmpty() const override { return true; }
        int GetWidth() const override { return 0; }
        int GetHeight() const override { return 0; }
        void SetWidth(int) override {}
        void SetHeight(int) override {}
        void LoadFromStream(TStream&) override {}
        void SaveToStream(TStream&) override {}
        void Draw(TCanvas&, const TRect&) override {}
    };
    TBitmap b;
    TOther o;
    try {
        b.Assign(o);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TOther to a TBitmap");
    }
    EXPECT_THROW(o.Assign(b), EConvertError);
}

// The memory of a freed picture serves the next one, which must still start
// black and must not disturb a bitmap that shares the old pixels.
TEST(TBitmap, ReusedPictureMemoryStartsClean) {
    TBitmap first;
    first.SetSize(1024, 512);  // big enough to be passed on
    for (int y = 0; y < first.Height(); ++y) std::memset(first.GetScanline(y), 0xAB, 1024 * 3);

    TBitmap sharer;
    sharer.Assign(first);
    first.FreeImage();  // shared: nothing to hand on
    EXPECT_EQ(sharer.GetPixelColor(5, 5), 0xABABABu);

    sharer.FreeImage();  // alone now: its pixels wait for the next picture
    TBitmap next;
    next.SetSize(1000, 500);
    for (int y = 0; y < next.Height(); y += 97)
        for (int x = 0; x < next.Width(); x += 89) ASSERT_EQ(next.GetPixelColor(x, y), 0u) << x << "," << y;
    EXPECT_EQ(next.GetPixelColor(999, 499), 0u);
}
