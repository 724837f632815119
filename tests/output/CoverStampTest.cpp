// The cover's anchors, margins, size, alpha and opacity: where it lands, how
// large it is, and the exact blend; the same bytes on every path and worker.

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <tuple>

#include "compose/BatchRun.h"
#include "compose/Compose.h"
#include "compose/CoverStamp.h"
#include "support/PictureBytes.h"
#include "support/Pictures.h"

using namespace vmk;
using namespace vmk::test;

namespace {

TCoverSettings Placed(TCoverPlace place, int mx = 0, int my = 0, bool percent = false) {
    TCoverSettings s;
    s.Place = place;
    s.MarginX = mx;
    s.MarginY = my;
    s.MarginPercent = percent;
    return s;
}

// A 32-bit cover with alpha: colours and alpha vary over it.
Pic AlphaCover(int w, int h) {
    Pic c = Painted(w, h, [&](int x, int y) {
        return RGBColor(static_cast<uint8_t>(40 + x * 20), static_cast<uint8_t>(200 - y * 15), 90);
    });
    c->SetPixelFormat(TPixelFormat::pf32bit);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) c->GetScanline(y)[x * 4 + 3] = static_cast<uint8_t>((x * 61 + y * 37) % 256);
    c->SetAlphaChannel(true);
    return c;
}

uint8_t Mix(int c, int p, int w) { return static_cast<uint8_t>((c * w + p * (25500 - w) + 12750) / 25500); }

std::string TempDir(const char* name) {
    std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    return pattern + "/";
}

}  // namespace

TEST(CoverStamp, NineAnchorsWithMargins) {
    using P = TCoverPlace;
    // Landscape 100 x 60 and portrait 60 x 100, cover 11 x 7.
    for (const auto& [W, H] : {std::pair{100, 60}, std::pair{60, 100}}) {
        SCOPED_TRACE(std::to_string(W) + " x " + std::to_string(H));
        const int cx = (W - 11) / 2, cy = (H - 7) / 2;
        const std::vector<std::tuple<P, int, int>> expected = {
            {P::LT, 5, 3},         {P::TC, cx, 3},         {P::RT, W - 11 - 5, 3},
            {P::LM, 5, cy},        {P::CC, cx, cy},        {P::RM, W - 11 - 5, cy},
            {P::LB, 5, H - 7 - 3}, {P::BC, cx, H - 7 - 3}, {P::RB, W - 11 - 5, H - 7 - 3},
        };
        for (const auto& [place, x, y] : expected)
            EXPECT_EQ(CoverPlacement(Placed(place, 5, 3), W, H, 11, 7), (TCoverPosition{x, y}))
                << static_cast<int>(place);
        // In % of the picture's width and height, rounded to nearest: 3 % of
        // 100 is 3, of 60 is 1.8 -> 2; 10 % of 60 is 6, of 100 is 10.
        const int px = W == 100 ? 3 : 2, py = H == 60 ? 6 : 10;
        EXPECT_EQ(CoverPlacement(Placed(P::RB, 3, 10, true), W, H, 11, 7), (TCoverPosition{W - 11 - px, H - 7 - py}));
        EXPECT_EQ(CoverPlacement(Placed(P::BC, 3, 10, true), W, H, 11, 7), (TCoverPosition{cx, H - 7 - py}));
    }
    // Centred axes round down, also for a cover larger than the picture; the
    // free offset and no button at all ignore margins.
    EXPECT_EQ(CoverPlacement(Placed(P::CC), 10, 10, 3, 4), (TCoverPosition{3, 3}));
    EXPECT_EQ(CoverPlacement(Placed(P::CC), 10, 10, 13, 15), (TCoverPosition{-2, -3}));
    TCoverSettings other = Placed(P::Other, 50, 50);
    other.Left = -4;
    other.Top = 9;
    EXPECT_EQ(CoverPlacement(other, 100, 60, 11, 7), (TCoverPosition{-4, 9}));
    EXPECT_EQ(CoverPlacement(Placed(P::None, 50, 50), 100, 60, 11, 7), (TCoverPosition{0, 0}));
    // Huge margins saturate instead of wrapping.
    EXPECT_EQ(CoverPlacement(Placed(P::RB, 99999, 99999), INT32_MAX, 5, 1, 1).Y, 5 - 1 - 99999);
}

TEST(CoverStamp, SizeFollowsThePicture) {
    TCoverSettings s;
    s.SizePercent = 20;
    const auto size = [&](TCoverSizing sizing, int W, int H, int w, int h) {
        s.Sizing = sizing;
        return ScaledCoverSize(s, W, H, w, h);
    };
    EXPECT_EQ(size(TCoverSizing::AsIs, 4000, 3000, 300, 100), (TCoverSize{300, 100}));
    EXPECT_EQ(size(TCoverSizing::Width, 4000, 3000, 300, 100), (TCoverSize{800, 267}));  // 266.67
    EXPECT_EQ(size(TCoverSizing::Height, 4000, 3000, 300, 100), (TCoverSize{1800, 600}));
    EXPECT_EQ(size(TCoverSizing::Shorter, 4000, 3000, 300, 100), (TCoverSize{600, 200}));
    EXPECT_EQ(size(TCoverSizing::Shorter, 3000, 4000, 300, 100), (TCoverSize{600, 200}));  // the same share turned
    // At least one pixel, however thin the cover.
    EXPECT_EQ(size(TCoverSizing::Width, 50, 50, 1000, 2), (TCoverSize{10, 1}));
    s.SizePercent = 1;
    EXPECT_EQ(size(TCoverSizing::Width, 7, 7, 10, 10), (TCoverSize{1, 1}));
}

// The blend, pixel by pixel: cover x a + picture x (1 - a), a = alpha x opacity.
TEST(CoverStamp, BlendIsExactOnEveryTarget) {
    Pic cover = AlphaCover(7, 5);
    for (const TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit, TPixelFormat::pf16bit}) {
        Pic picture = MakeGradient(12, 9);
        picture->SetPixelFormat(format);
        for (int opacity : {100, 50, 1}) {
            for (bool keyed : {false, true}) {
                SCOPED_TRACE(std::to_string(BitsPerPixel(format)) + " bits, " + std::to_string(opacity) + " %" +
                             (keyed ? ", keyed" : ""));
                cover->SetTransparent(keyed);
                const TColor key = cover->GetTransparentColor();
                TBitmap working;
                working.Assign(*picture);
                working.GetCanvas().DrawBlended(3, 2, *cover, opacity);
                // Through the row colours, as a 16-bit target stores them.
                Pic expected = Painted(12, 9, [&](int x, int y) {
                    const TColor p = picture->GetPixelColor(x, y);
                    if (x < 3 || y < 2 || x >= 10 || y >= 7) return p;
                    const TColor c = cover->GetPixelColor(x - 3, y - 2);
                    const int w = keyed && c == key ? 0 : cover->GetScanline(y - 2)[(x - 3) * 4 + 3] * opacity;
                    return RGBColor(Mix(GetRValue(c), GetRValue(p), w), Mix(GetGValue(c), GetGValue(p), w),
                                    Mix(GetBValue(c), GetBValue(p), w));
                });
                expected->SetPixelFormat(format);
                ExpectSamePixels(working, *expected);
            }
        }
    }
    // An opaque cover at 50 %: a = 0.5, rounded to nearest.
    Pic white = Painted(2, 1, [](int, int) { return clWhite; });
    Pic black = Painted(2, 1, [](int, int) { return clBlack; });
    black->GetCanvas().DrawBlended(0, 0, *white, 50);
    EXPECT_EQ(black->GetPixelColor(1, 0), RGBColor(128, 128, 128));
}

TEST(CoverStamp, ScaledCoverKeepsAlphaAndDropsTheKey) {
    // Green key colour on the left half, red on the right: once scaled, no
    // green reaches any pixel, and the key's place is see-through.
    Pic cover = Painted(40, 40, [](int x, int) { return x < 20 ? RGBColor(0, 255, 0) : RGBColor(255, 0, 0); });
    cover->SetTransparentColor(RGBColor(0, 255, 0));
    cover->SetTransparent(true);
    const auto scaled = ScaleCover(*cover, 10, 10);
    ASSERT_EQ(scaled->Width(), 10);
    EXPECT_TRUE(scaled->GetAlphaChannel());
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const uint8_t* p = scaled->GetScanline(y) + x * 4;
            if (p[3] > 0) {
                EXPECT_LE(p[1], 1) << x << "," << y;  // no green bleeds in
            }
        }
    EXPECT_EQ(scaled->GetScanline(5)[0 * 4 + 3], 0);
    EXPECT_EQ(scaled->GetScanline(5)[9 * 4 + 3], 255);
}

TEST(CoverStamp, OneScaledCoverPerSize) {
    Pic cover = AlphaCover(20, 10);
    TCoverSettings s;
    s.Sizing = TCoverSizing::Width;
    TCoverCache cache(*cover, s);
    const auto a = cache.For(400, 300);
    EXPECT_EQ(a->Width(), 80);
    EXPECT_EQ(cache.For(400, 300).get(), a.get());
    EXPECT_EQ(cache.For(400, 900).get(), a.get());  // the same cover size
    EXPECT_NE(cache.For(500, 300).get(), a.get());
    s.Sizing = TCoverSizing::AsIs;
    TCoverCache plain(*cover, s);
    EXPECT_EQ(plain.For(400, 300)->Width(), 20);
}

// A PNG alpha cover at 20 % of the width and 50 % opacity: the band path is
// the whole picture's, and many workers write the bytes of one.
TEST(CoverStamp, BandsAndWorkersGiveTheSameBytes) {
    const std::string dir = TempDir("vmk-stamp");
    Pic photo = MakeGradient(160, 120);
    SaveJpeg(*photo, dir + "a.jpg", 90);
    {
        const auto plain = ReadBytes(dir + "a.jpg");
        const auto bytes = WithSegments(plain, {{0xE1, ExifPayload(6, false)}});
        std::ofstream(dir + "turned.jpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    MakeGradient(90, 130)->SaveToFile(dir + "b.bmp");
    SaveJpeg(*MakeGradient(64, 200), dir + "c.jpg", 80);
    Pic cover = AlphaCover(30, 12);
    cover->SaveToFile(dir + "cover.bmp");  // 32 bits with alpha
    std::string coverFile = dir + "cover.bmp";
    if (std::system(("convert '" + dir + "cover.bmp' '" + dir + "cover.png' 2>/dev/null").c_str()) == 0)
        coverFile = dir + "cover.png";

    TCoverSettings s;
    s.CoverFile = coverFile;
    s.Place = TCoverPlace::RB;
    s.MarginX = 3;
    s.MarginY = 3;
    s.MarginPercent = true;
    s.Opacity = 50;
    s.Sizing = TCoverSizing::Width;
    s.SizePercent = 20;
    TBitmap prepared;
    PrepareCover(prepared, s);
    ASSERT_TRUE(prepared.GetAlphaChannel());
    for (const char* name : {"a.jpg", "turned.jpg", "b.bmp", "c.jpg"}) {
        SCOPED_TRACE(name);
        TBitmap working;
        TJPEGMarkers markers;
        LoadSource(working, dir + name, markers);
        DrawCover(working, prepared, s);
        TMemoryStream whole;
        EncodeResult(working, whole, TWriteFormat::Jpeg, 75, markers);
        TMemoryStream banded;
        ComposeJpegResult(working, dir + name, prepared, s, 75, banded);
        EXPECT_TRUE(whole.Bytes() == banded.Bytes());
    }

    TOutputSettings output;
    output.SaveAs = TSaveAs::AsIs;
    output.Quality = 75;
    std::vector<std::string> sources;
    for (int i = 0; i < 3; ++i)
        for (const char* name : {"a.jpg", "turned.jpg", "b.bmp", "c.jpg"}) sources.push_back(dir + name);
    std::map<int, std::map<std::string, std::vector<uint8_t>>> results;
    for (int workers : {1, 4}) {
        output.Path = dir + "out" + std::to_string(workers);
        output.FileFix = "";
        output.Prefix = true;
        // Each name a result of its own: fix text per source index.
        std::vector<TBatchEntry> entries = PlanBatch(sources, output, dir);
        for (size_t i = 0; i < entries.size(); ++i) entries[i].Target += std::to_string(i);
        TBatchRun run(entries, prepared, s, 75, workers);
        for (int i = 0; i < run.Count(); ++i) {
            run.WaitReady(i);
            run.Commit(i);
        }
        run.Finish();
        while (!run.Finished()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        run.CheckWrites();
        for (const std::string& f : Listing(output.Path)) results[workers][f] = ReadBytes(output.Path + "/" + f);
    }
    EXPECT_EQ(results[1].size(), sources.size());
    EXPECT_TRUE(results[1] == results[4]);
    fs::remove_all(dir);
}
