// The JPEG picture under pressure: files that promise more memory than they are
// worth, allocations that fail, and progress handlers that copy or replace the
// picture while the codec works on it.

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <utility>

#include "JpegTestFiles.h"
#include "imaging/Jpeg.h"

namespace vmk {
namespace {

using testing::JpegRecipe;
using testing::Layout;
using testing::MakeJpeg;
using testing::PatternColor;

void Load(TJPEGImage& image, const std::vector<uint8_t>& bytes) {
    TMemoryStream stream;
    testing::FillStream(stream, bytes);
    image.LoadFromStream(stream);
}

// The same file with another size in its frame header.
std::vector<uint8_t> WithFrameSize(std::vector<uint8_t> bytes, int width, int height) {
    for (size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] >= 0xC0 && bytes[i + 1] <= 0xC2) {
            bytes[i + 5] = static_cast<uint8_t>(height >> 8);
            bytes[i + 6] = static_cast<uint8_t>(height);
            bytes[i + 7] = static_cast<uint8_t>(width >> 8);
            bytes[i + 8] = static_cast<uint8_t>(width);
            return bytes;
        }
    }
    ADD_FAILURE() << "no frame header";
    return bytes;
}

template <class Action>
std::string MessageOf(Action action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no exception)";
}

// Every codec step looks slow: a running report at each one.
class SlowClock {
public:
    SlowClock() {
        now = 1000;
        SetCodecTickSource([] { return now += 600; });
    }
    ~SlowClock() { SetCodecTickSource(nullptr); }

private:
    static inline uint64_t now = 0;
};

class JpegBounds : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = StartupOptions;
        DisplayDefaults(24);
    }
    void TearDown() override { StartupOptions = saved_; }
    TJPEGOptions saved_;
};

// ---- memory follows the picture

TEST_F(JpegBounds, MultiScanFilesCountTheCoefficientsTheCodecKeeps) {
    // A few hundred bytes that would cost gigabytes: refused at load, and again
    // when decoding is asked for anyway, before the codec allocates anything.
    const auto huge = WithFrameSize(MakeJpeg({.width = 16, .height = 16, .layout = Layout::Progressive}), 16384, 16384);
    ASSERT_LT(huge.size(), 1000u);
    const std::string refused = "JPEG image too large to load: 16384 x 16384 pixels";
    TJPEGImage image;
    EXPECT_EQ(MessageOf([&] { Load(image, huge); }), refused);
    ASSERT_NE(image.GetSharedData()->JpegBytes, nullptr);
    EXPECT_EQ(MessageOf([&] { image.ToBitmap(); }), refused);
    TJPEGImage passes;
    passes.SetShowPasses(true);
    EXPECT_EQ(MessageOf([&] { Load(passes, huge); }), refused);
    EXPECT_EQ(MessageOf([&] { passes.ToBitmap(); }), refused);

    // Well inside the pixel bound, but full-resolution colour coefficients on
    // top of the pixels are too much.
    const auto wide = WithFrameSize(
        MakeJpeg({.width = 16, .height = 16, .layout = Layout::Progressive, .hSampling = 1, .vSampling = 1}), 12000,
        12000);
    EXPECT_EQ(MessageOf([&] { Load(image, wide); }), "JPEG image too large to load: 12000 x 12000 pixels");

    // One scan keeps no coefficients: the same frames load (the header only).
    TJPEGImage baseline;
    EXPECT_NO_THROW(Load(baseline, WithFrameSize(MakeJpeg({.width = 16, .height = 16}), 16384, 16384)));
    EXPECT_EQ(baseline.GetWidth(), 16384);
    EXPECT_NO_THROW(Load(
        baseline, WithFrameSize(MakeJpeg({.width = 16, .height = 16, .hSampling = 1, .vSampling = 1}), 12000, 12000)));
    // Small progressive pictures are nowhere near the bound.
    TJPEGImage small;
    Load(small, MakeJpeg({.width = 300, .height = 200, .layout = Layout::Progressive}));
    EXPECT_EQ(small.ToBitmap().Width(), 300);
}

TEST_F(JpegBounds, FailedAllocationSaysOutOfMemoryAndNamesThePicture) {
    SlowClock clock;
    auto exhausted = [](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::psRunning) throw std::bad_alloc();
    };
    TJPEGImage loaded;
    Load(loaded, MakeJpeg({.width = 64, .height = 256}));
    loaded.OnProgress = exhausted;
    EXPECT_EQ(MessageOf([&] { loaded.ToBitmap(); }), "Out of memory decoding a JPEG image of 64 x 256 pixels");

    TBitmap bitmap;
    testing::MakePatternBitmap(bitmap, 48, 300);
    TJPEGImage fresh;
    fresh.Assign(bitmap);
    fresh.OnProgress = exhausted;
    TMemoryStream out;
    EXPECT_EQ(MessageOf([&] { fresh.SaveToStream(out); }), "Out of memory encoding a JPEG image of 48 x 300 pixels");
    EXPECT_EQ(fresh.GetSharedData()->JpegBytes, nullptr);
}

// ---- palettes the codec may or may not take

// Every pixel an index into the bitmap's own palette, and the colour it gives gray.
void ExpectGrayWithinPalette(TBitmap& bitmap) {
    ASSERT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf8bit);
    HPALETTE palette = bitmap.GetPalette();
    ASSERT_TRUE(palette);
    const size_t entries = palette->Entries.size();
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = std::as_const(bitmap).GetScanline(y);
        for (int x = 0; x < bitmap.Width(); ++x) ASSERT_LT(row[x], entries) << "at " << x << "," << y;
    }
    const int w = bitmap.Width(), h = bitmap.Height();
    for (auto [x, y] : {std::pair{w / 4, h / 4}, std::pair{w * 3 / 4, h / 4}, std::pair{w / 2, h * 7 / 8}}) {
        const TColor want = PatternColor(x, y, w, h);
        const int luma = (GetRValue(want) * 77 + GetGValue(want) * 150 + GetBValue(want) * 29) >> 8;
        const TColor got = bitmap.GetPixelColor(x, y);
        EXPECT_EQ(GetRValue(got), GetGValue(got));
        EXPECT_EQ(GetGValue(got), GetBValue(got));
        EXPECT_NEAR(GetRValue(got), luma, 6) << "at " << x << "," << y;
    }
}

HPALETTE PatternPalette() {
    auto palette = std::make_shared<TLogPalette>();
    palette->Entries = {{220, 20, 20, 0}, {20, 20, 220, 0}, {0, 200, 0, 0}, {0, 0, 0, 0}};
    return palette;
}

TEST_F(JpegBounds, PendingPaletteNeverMismatchesThePixels) {
    // Gray output gets the codec's own gray map, whatever palette was pending.
    for (bool grayFile : {true, false}) {
        TJPEGImage image;
        image.SetOutputDepth(TJPEGOutputDepth::Depth8);
        image.SetGrayOnly(!grayFile);
        Load(image, MakeJpeg({.width = 40, .height = 40, .gray = grayFile}));
        image.SetPalette(PatternPalette());
        SCOPED_TRACE(grayFile ? "grayscale file" : "GrayOnly");
        ExpectGrayWithinPalette(image.ToBitmap());
    }

    // Passes shown, and the final pass quantised in two passes: the given
    // palette is the map of every pass, the last one included.
    for (auto speed : {TJPEGDecodeSpeed::FavourQuality, TJPEGDecodeSpeed::FavourSpeed}) {
        TJPEGImage image;
        image.SetOutputDepth(TJPEGOutputDepth::Depth8);
        image.SetShowPasses(true);
        image.SetDecodeSpeed(speed);
        Load(image, MakeJpeg({.width = 48, .height = 32, .layout = Layout::Progressive}));
        image.SetPalette(PatternPalette());
        TBitmap& bitmap = image.ToBitmap();
        ASSERT_TRUE(bitmap.GetPalette());
        EXPECT_EQ(bitmap.GetPalette()->Entries, PatternPalette()->Entries);
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x)
                ASSERT_LT(std::as_const(bitmap).GetScanline(y)[x], 4) << x << "," << y;
        EXPECT_EQ(bitmap.GetPixelColor(10, 5), RGBColor(220, 20, 20));
        EXPECT_EQ(bitmap.GetPixelColor(38, 5), RGBColor(20, 20, 220));
        EXPECT_EQ(bitmap.GetPixelColor(24, 30), RGBColor(0, 200, 0));
    }
}

// ---- progress handlers that touch the picture

TEST_F(JpegBounds, RunningReportsStartAboveZeroPercent) {
    SlowClock clock;
    TJPEGImage image;
    std::vector<int> running;
    image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::psRunning) running.push_back(percent);
    };
    Load(image, MakeJpeg({.width = 64, .height = 256, .hSampling = 1, .vSampling = 1}));
    image.ToBitmap();
    ASSERT_FALSE(running.empty());
    EXPECT_GT(running.front(), 0);
}

TEST_F(JpegBounds, CopyTakenFromAProgressHandlerKeepsItsRows) {
    SlowClock clock;
    TJPEGImage image;
    Load(image, MakeJpeg({.width = 64, .height = 256, .hSampling = 1, .vSampling = 1}));
    TBitmap snapshot;
    std::vector<uint8_t> lastRowThen;
    image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage != TProgressStage::psRunning || !lastRowThen.empty()) return;
        snapshot.Assign(image.ToBitmap());  // the bitmap being decoded, shared
        const uint8_t* row = std::as_const(snapshot).GetScanline(255);
        lastRowThen.assign(row, row + snapshot.GetStride());
    };
    TBitmap& decoded = image.ToBitmap();
    ASSERT_FALSE(lastRowThen.empty());
    const uint8_t* row = std::as_const(snapshot).GetScanline(255);
    EXPECT_EQ(std::vector<uint8_t>(row, row + snapshot.GetStride()), lastRowThen);
    EXPECT_TRUE(testing::Near(decoded.GetPixelColor(10, 255), RGBColor(0, 200, 0), 8));
    EXPECT_TRUE(testing::Near(decoded.GetPixelColor(10, 0), RGBColor(220, 20, 20), 8));
}

TEST_F(JpegBounds, ReplacingThePictureFromItsProgressHandler) {
    SlowClock clock;
    // The handler acts once, at the first running report; what the picture
    // holds afterwards is what the handler gave it.
    std::function<void(TJPEGImage&)> change;
    auto attach = [&](TJPEGImage& image) {
        image.OnProgress = [&change](TGraphic& sender, TProgressStage stage, uint8_t, bool, const TRect&,
                                     const std::string&) {
            if (stage != TProgressStage::psRunning || !change) return;
            auto once = std::move(change);
            change = nullptr;
            once(static_cast<TJPEGImage&>(sender));
        };
    };

    // Decoding, when new bytes free those the codec reads.
    const auto otherBytes = MakeJpeg({.width = 32, .height = 16});
    TJPEGImage loaded;
    Load(loaded, MakeJpeg({.width = 64, .height = 256, .layout = Layout::Progressive}));
    attach(loaded);
    change = [&](TJPEGImage& self) { Load(self, otherBytes); };
    TBitmap& bitmap = loaded.ToBitmap();
    EXPECT_FALSE(change);
    EXPECT_EQ(bitmap.Width(), 32);
    EXPECT_EQ(bitmap.Height(), 16);

    // Encoding, when a new bitmap frees the bytes the codec writes.
    TBitmap big, small;
    testing::MakePatternBitmap(big, 64, 256);
    testing::MakePatternBitmap(small, 16, 8);
    TJPEGImage assigned;
    assigned.Assign(big);
    attach(assigned);
    change = [&](TJPEGImage& self) { self.Assign(small); };
    TMemoryStream out;
    assigned.SaveToStream(out);
    EXPECT_FALSE(change);
    TJPEGImage saved;
    Load(saved, out.Bytes());
    EXPECT_EQ(saved.GetWidth(), 16);
    EXPECT_EQ(saved.GetHeight(), 8);
}

}  // namespace
}  // namespace vmk
