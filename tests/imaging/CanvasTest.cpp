#include <gtest/gtest.h>

#include <string>

#include "imaging/Graphics.h"

using namespace vmk;

namespace {

constexpr TColor R = RGBColor(255, 0, 0), G = RGBColor(0, 255, 0), B = RGBColor(0, 0, 255), W = clWhite, K = clBlack;

// Rows of colours, top row first.
void Paint(TBitmap& b, TPixelFormat f, std::initializer_list<std::initializer_list<TColor>> rows) {
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(static_cast<int>(rows.begin()->size()), static_cast<int>(rows.size()));
    int y = 0;
    for (const auto& row : rows) {
        int x = 0;
        for (TColor c : row) b.GetCanvas().SetPixel(x++, y, c);
        ++y;
    }
    b.SetPixelFormat(f);
}

std::string Dump(const TBitmap& b) {
    std::string s;
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x) {
            const TColor c = b.GetPixelColor(x, y);
            s += c == R ? 'R' : c == G ? 'G' : c == B ? 'B' : c == W ? 'W' : c == K ? 'K' : '?';
        }
        s += '|';
    }
    return s;
}

const TPixelFormat kFormats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit,
                                 TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                 TPixelFormat::pf32bit};

}  // namespace

TEST(TCanvasDraw, ClipsAtEveryEdge) {
    TBitmap cover;
    Paint(cover, TPixelFormat::pf24bit, {{R, G}, {B, W}});
    struct Case {
        int x, y;
        const char* expected;
    } cases[] = {
        {0, 0, "RGK|BWK|KKK|"},   {1, 1, "KKK|KRG|KBW|"},           {2, 2, "KKK|KKK|KKR|"},
        {-1, -1, "WKK|KKK|KKK|"}, {-1, 2, "KKK|KKK|GKK|"},          {3, 0, "KKK|KKK|KKK|"},
        {0, -2, "KKK|KKK|KKK|"},  {-2000000000, 5, "KKK|KKK|KKK|"}, {2000000000, 0, "KKK|KKK|KKK|"},
    };
    for (const Case& c : cases) {
        TBitmap target;
        target.SetSize(3, 3);
        target.GetCanvas().Draw(c.x, c.y, cover);
        EXPECT_EQ(Dump(target), c.expected) << c.x << "," << c.y;
    }
    // A cover larger than the target fills it and nothing more.
    TBitmap big;
    Paint(big, TPixelFormat::pf24bit, {{R, R, R, R}, {R, G, B, R}, {R, R, R, R}});
    TBitmap target;
    target.SetSize(2, 2);
    target.GetCanvas().Draw(-1, -1, big);
    EXPECT_EQ(Dump(target), "GB|RR|");
}

TEST(TCanvasDraw, TransparencySkipsTheKeyColour) {
    TBitmap cover;
    Paint(cover, TPixelFormat::pf24bit, {{R, G}, {W, W}});
    TBitmap target;
    Paint(target, TPixelFormat::pf24bit, {{B, B}, {B, B}});

    TBitmap opaque;
    opaque.Assign(target);
    opaque.GetCanvas().Draw(0, 0, cover);
    EXPECT_EQ(Dump(opaque), "RG|WW|");

    cover.SetTransparent(true);  // automatic: bottom-left pixel, white
    target.GetCanvas().Draw(0, 0, cover);
    EXPECT_EQ(Dump(target), "RG|BB|");

    cover.SetTransparentColor(G);
    Paint(target, TPixelFormat::pf24bit, {{B, B}, {B, B}});
    target.GetCanvas().Draw(0, 0, cover);
    EXPECT_EQ(Dump(target), "RB|WW|");
}

TEST(TCanvasDraw, EveryFormatOntoEveryFormat) {
    for (TPixelFormat sf : kFormats) {
        for (TPixelFormat df : kFormats) {
            TBitmap cover;
            Paint(cover, sf, {{K, W, K}, {W, K, K}});
            if (sf != TPixelFormat::pf1bit) Paint(cover, sf, {{R, G, B}, {W, K, W}});
            cover.SetTransparent(true);  // key: white, bottom-left
            TBitmap target;
            Paint(target, df, {{W, W, W, W}, {W, W, W, W}, {W, W, W, W}});
            target.GetCanvas().Draw(1, 1, cover);
            // A 1-bit picture has black and white only: red, green and blue become black.
            const std::string want = sf == TPixelFormat::pf1bit   ? "WWWW|WKWK|WWKK|"
                                     : df == TPixelFormat::pf1bit ? "WWWW|WKKK|WWKW|"
                                                                  : "WWWW|WRGB|WWKW|";
            EXPECT_EQ(Dump(target), want) << BitsPerPixel(sf) << " onto " << BitsPerPixel(df);
            EXPECT_EQ(target.GetPixelFormat(), df);
        }
    }
}

TEST(TCanvasDraw, DrawingOntoItselfReadsTheOriginal) {
    TBitmap b;
    Paint(b, TPixelFormat::pf24bit, {{R, G, B}});
    b.GetCanvas().Draw(1, 0, b);
    EXPECT_EQ(Dump(b), "RRG|");
    TBitmap copy;
    copy.Assign(b);
    copy.GetCanvas().Draw(-1, 0, copy);
    EXPECT_EQ(Dump(copy), "RGG|");
    EXPECT_EQ(Dump(b), "RRG|");
}

TEST(TCanvasStretchDraw, NearestNeighbourAndClipping) {
    TBitmap cover;
    Paint(cover, TPixelFormat::pf24bit, {{R, G}, {B, W}});
    TBitmap target;
    target.SetSize(4, 4);
    target.GetCanvas().StretchDraw(TRect{0, 0, 4, 4}, cover);
    EXPECT_EQ(Dump(target), "RRGG|RRGG|BBWW|BBWW|");
    TBitmap small;
    small.SetSize(3, 3);
    small.GetCanvas().StretchDraw(TRect{-2, -2, 2, 2}, cover);
    EXPECT_EQ(Dump(small), "WWK|WWK|KKK|");
    small.GetCanvas().StretchDraw(TRect{0, 0, 1, 1}, cover);
    EXPECT_EQ(Dump(small), "RWK|WWK|KKK|");
    small.GetCanvas().StretchDraw(TRect{2, 2, 0, 0}, cover);  // inverted: nothing
    EXPECT_EQ(Dump(small), "RWK|WWK|KKK|");
    // A rectangle wider than the int range is scaled without overflow: the target
    // starts at its centre, where the cover's bottom-right pixel begins.
    small.GetCanvas().StretchDraw(TRect{-2147483647, -2147483647, 2147483647, 2147483647}, cover);
    EXPECT_EQ(Dump(small), "WWW|WWW|WWW|");
    cover.SetTransparent(true);
    cover.SetTransparentColor(R);
    TBitmap keyed;
    Paint(keyed, TPixelFormat::pf8bit, {{K, K, K, K}});
    keyed.GetCanvas().StretchDraw(TRect{0, 0, 4, 1}, cover);
    EXPECT_EQ(Dump(keyed), "KKGG|");
}
