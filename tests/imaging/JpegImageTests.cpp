#include <gtest/gtest.h>

#include <cstdio>

#include "JpegTestFiles.h"
#include "imaging/Jpeg.h"

#include <jerror.h>

namespace vmk {
namespace {

using testing::JpegRecipe;
using testing::Layout;
using testing::MakeJpeg;
using testing::Near;
using testing::PatternColor;

struct ProgressLog {
    std::vector<TProgressStage> stages;
    std::vector<TRect> rects;
    std::vector<int> percents;
    void Attach(TGraphic& graphic) {
        graphic.OnProgress = [this](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect& rect,
                                    const std::string&) {
            stages.push_back(stage);
            percents.push_back(percent);
            rects.push_back(rect);
        };
    }
    int Count(TProgressStage stage) const {
        int n = 0;
        for (auto s : stages) n += s == stage;
        return n;
    }
};

void Load(TJPEGImage& image, const std::vector<uint8_t>& bytes) {
    TMemoryStream stream;
    testing::FillStream(stream, bytes);
    image.LoadFromStream(stream);
}

std::vector<uint8_t> Save(TJPEGImage& image) {
    TMemoryStream stream;
    image.SaveToStream(stream);
    return stream.Bytes();
}

// Checks the pattern at the centre of each of its three areas.
void ExpectPattern(const TBitmap& bitmap, int tolerance) {
    const int w = bitmap.Width(), h = bitmap.Height();
    for (auto [x, y] : {std::pair{w / 4, h / 4}, std::pair{w * 3 / 4, h / 4}, std::pair{w / 2, h * 7 / 8}}) {
        const TColor got = bitmap.GetPixelColor(x, y);
        EXPECT_TRUE(Near(got, PatternColor(x, y, w, h), tolerance))
            << "at " << x << "," << y << " got 0x" << std::hex << got;
    }
}

class JpegImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = StartupOptions;
        DisplayDefaults(24);
    }
    void TearDown() override {
        StartupOptions = saved_;
        SetCodecTickSource(nullptr);
    }
    TJPEGOptions saved_;
};

TEST_F(JpegImageTest, LoadReadsOnlyTheHeader) {
    TJPEGImage image;
    int changes = 0;
    image.OnChange = [&](TGraphic&) { ++changes; };
    Load(image, MakeJpeg({.width = 70, .height = 33}));
    EXPECT_EQ(image.GetDecodedBitmap(), nullptr);
    EXPECT_EQ(image.GetWidth(), 70);
    EXPECT_EQ(image.GetHeight(), 33);
    EXPECT_EQ(image.GetDecodedBitmap(), nullptr);
    EXPECT_FALSE(image.GetEmpty());
    EXPECT_FALSE(image.GetMultiScan());
    EXPECT_TRUE(image.GetPaletteModified());
    EXPECT_EQ(changes, 1);
}

TEST_F(JpegImageTest, DecodesOnceOnFirstDrawAndKeepsTheBitmap) {
    TJPEGImage image;
    // A clock that stands still: no step is slow enough for a running report.
    SetCodecTickSource([] { return uint64_t{1000}; });
    ProgressLog log;
    log.Attach(image);
    Load(image, MakeJpeg({}));
    TBitmap canvasBitmap;
    canvasBitmap.SetPixelFormat(TPixelFormat::pf24bit);
    canvasBitmap.SetSize(64, 48);
    canvasBitmap.GetCanvas().Draw(0, 0, image);
    const TBitmap* first = image.GetDecodedBitmap();
    ASSERT_NE(first, nullptr);
    canvasBitmap.GetCanvas().Draw(0, 0, image);
    TBitmap copy;
    copy.Assign(image);
    EXPECT_EQ(image.GetDecodedBitmap(), first);
    EXPECT_EQ(log.Count(TProgressStage::psStarting), 1);
    EXPECT_EQ(log.Count(TProgressStage::psEnding), 1);
    // Fast work reports only its start and end.
    EXPECT_EQ(log.Count(TProgressStage::psRunning), 0);
    EXPECT_EQ(copy.GetPixelFormat(), TPixelFormat::pf24bit);
    ExpectPattern(copy, 12);
    ExpectPattern(canvasBitmap, 12);
}

TEST_F(JpegImageTest, DecodesEveryVariantItWasGiven) {
    struct Case {
        const char* name;
        JpegRecipe recipe;
        bool multiScan;
    };
    const Case cases[] = {
        {"baseline 4:2:0", {}, false},
        {"4:2:2", {.hSampling = 2, .vSampling = 1}, false},
        {"4:4:4", {.hSampling = 1, .vSampling = 1}, false},
        {"progressive", {.layout = Layout::Progressive}, true},
        {"arithmetic", {.layout = Layout::Arithmetic}, false},
        {"restart markers", {.width = 67, .height = 45, .restartRows = 1}, false},
        {"odd size", {.width = 1, .height = 1}, false},
        {"CMYK", {.cmyk = true}, false},
        {"YCCK", {.cmyk = true, .ycck = true}, false},
        {"progressive CMYK", {.layout = Layout::Progressive, .cmyk = true}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJPEGImage image;
        Load(image, MakeJpeg(c.recipe));
        EXPECT_EQ(image.GetMultiScan(), c.multiScan);
        TBitmap& bitmap = image.ToBitmap();
        EXPECT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf24bit);
        EXPECT_EQ(bitmap.Width(), c.recipe.width);
        EXPECT_EQ(bitmap.Height(), c.recipe.height);
        if (c.recipe.width > 1) ExpectPattern(bitmap, 16);
    }
}

TEST_F(JpegImageTest, GrayscaleAlwaysDecodesToEightBitsWithAGrayPalette) {
    TJPEGImage image;
    Load(image, MakeJpeg({.gray = true}));
    EXPECT_TRUE(image.GetSharedData()->IsGray);
    TBitmap& bitmap = image.ToBitmap();
    EXPECT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf8bit);
    HPALETTE palette = bitmap.GetPalette();
    ASSERT_TRUE(palette);
    EXPECT_LE(palette->Entries.size(), 236u);
    for (const TPaletteEntry& e : palette->Entries) {
        EXPECT_EQ(e.Red, e.Green);
        EXPECT_EQ(e.Green, e.Blue);
    }
    const TColor left = bitmap.GetPixelColor(8, 8);
    const int expected = (220 * 77 + 20 * 150 + 20 * 29) >> 8;
    EXPECT_NEAR(GetRValue(left), expected, 8);
}

TEST_F(JpegImageTest, OutputDepthFollowsTheDisplay) {
    DisplayDefaults(8);
    EXPECT_EQ(StartupOptions.OutputDepth, TJPEGOutputDepth::Depth8);
    {
        TJPEGImage image;
        Load(image, MakeJpeg({}));
        TBitmap& bitmap = image.ToBitmap();
        EXPECT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf8bit);
        ASSERT_TRUE(bitmap.GetPalette());
        EXPECT_LE(bitmap.GetPalette()->Entries.size(), 236u);
        ExpectPattern(bitmap, 24);
    }
    {
        // No colour conversion in libjpeg for CMYK: converted rows, then reduced.
        TJPEGImage image;
        Load(image, MakeJpeg({.cmyk = true}));
        EXPECT_EQ(image.ToBitmap().GetPixelFormat(), TPixelFormat::pf8bit);
    }
    DisplayDefaults(32);
    EXPECT_EQ(StartupOptions.OutputDepth, TJPEGOutputDepth::Depth24);
    TJPEGImage image;
    EXPECT_EQ(image.GetOutputDepth(), TJPEGOutputDepth::Depth24);
    EXPECT_FALSE(image.GetPalette());
}

TEST_F(JpegImageTest, GrayOnlyDecodesColourAndCmykToGray) {
    for (bool cmyk : {false, true}) {
        TJPEGImage image;
        image.SetGrayOnly(true);
        Load(image, MakeJpeg({.cmyk = cmyk}));
        TBitmap& bitmap = image.ToBitmap();
        EXPECT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf8bit);
        const TColor c = bitmap.GetPixelColor(50, 8);
        EXPECT_EQ(GetRValue(c), GetBValue(c));
    }
}

TEST_F(JpegImageTest, ShowPassesGivesTheSamePictureAsOneGo) {
    const auto bytes = MakeJpeg({.width = 80, .height = 60, .layout = Layout::Progressive});
    for (auto depth : {TJPEGOutputDepth::Depth24, TJPEGOutputDepth::Depth8}) {
        TJPEGImage plain, passes;
        plain.SetOutputDepth(depth);
        passes.SetOutputDepth(depth);
        passes.SetShowPasses(true);
        Load(plain, bytes);
        Load(passes, bytes);
        TBitmap& a = plain.ToBitmap();
        TBitmap& b = passes.ToBitmap();
        ASSERT_EQ(a.Width(), b.Width());
        ASSERT_EQ(a.Height(), b.Height());
        ExpectPattern(b, 24);
    }
    TJPEGImage gray;
    gray.SetShowPasses(true);
    Load(gray, MakeJpeg({.layout = Layout::Progressive, .gray = true}));
    TBitmap& bitmap = gray.ToBitmap();
    EXPECT_EQ(bitmap.GetPixelFormat(), TPixelFormat::pf8bit);
    EXPECT_NEAR(GetRValue(bitmap.GetPixelColor(8, 8)), (220 * 77 + 20 * 150 + 20 * 29) >> 8, 8);
}

TEST_F(JpegImageTest, ReducedSizeComesFromTheCodec) {
    TJPEGImage image;
    Load(image, MakeJpeg({.width = 80, .height = 60}));
    image.SetReduceBy(TJPEGReduceBy::ReduceQuarter);
    EXPECT_EQ(image.GetWidth(), 20);
    EXPECT_EQ(image.GetHeight(), 15);
    EXPECT_EQ(image.GetDecodedBitmap(), nullptr);
    EXPECT_EQ(image.ToBitmap().Width(), 20);
}

// The size queries are const and read the header into a cache: it must follow
// a new reduction and new bytes, and learn the scan layout on the way.
TEST_F(JpegImageTest, ConstSizeQueriesFollowReductionAndNewBytes) {
    TJPEGImage image;
    Load(image, MakeJpeg({.width = 80, .height = 60}));
    const TGraphic& graphic = image;
    image.SetReduceBy(TJPEGReduceBy::ReduceHalf);
    EXPECT_EQ(graphic.GetWidth(), 40);
    image.SetReduceBy(TJPEGReduceBy::ReduceEighth);
    EXPECT_EQ(graphic.GetWidth(), 10);
    EXPECT_EQ(graphic.GetHeight(), 8);  // libjpeg rounds a partial row up

    TJPEGImage progressive;
    Load(progressive, MakeJpeg({.width = 32, .height = 16, .layout = Layout::Progressive}));
    image.Assign(progressive);
    EXPECT_FALSE(image.GetMultiScan());
    EXPECT_EQ(graphic.GetWidth(), 4);
    EXPECT_EQ(graphic.GetHeight(), 2);
    EXPECT_TRUE(image.GetMultiScan());
    EXPECT_EQ(image.GetDecodedBitmap(), nullptr);
}

TEST_F(JpegImageTest, EncodesOnceAndSavesIdenticalBytes) {
    TBitmap bitmap;
    testing::MakePatternBitmap(bitmap, 40, 30);
    TJPEGImage image;
    image.Assign(bitmap);
    image.SetSaveQuality(75);
    SetCodecTickSource([] { return uint64_t{1000}; });  // never a slow step
    ProgressLog log;
    log.Attach(image);

    TMemoryStream persisted;
    image.WriteData(persisted);
    EXPECT_EQ(persisted.Bytes(), (std::vector<uint8_t>{0, 0, 0, 0}));  // nothing encoded yet

    const auto first = Save(image);
    const auto second = Save(image);
    ASSERT_GT(first.size(), 100u);
    EXPECT_EQ(first, second);
    EXPECT_EQ(image.GetSharedData()->ImageWidth, 40);
    EXPECT_EQ(log.Count(TProgressStage::psStarting), 1);  // encoded once
    EXPECT_EQ(log.Count(TProgressStage::psRunning), 0);
    EXPECT_EQ(log.percents.back(), 100);

    persisted.Clear();
    image.WriteData(persisted);
    ASSERT_EQ(persisted.Bytes().size(), first.size() + 4);
    const auto size = static_cast<uint32_t>(first.size());
    EXPECT_EQ(persisted.Bytes()[0], size & 0xFF);
    EXPECT_EQ(persisted.Bytes()[1], (size >> 8) & 0xFF);

    TJPEGImage back;
    persisted.SetPosition(0);
    back.ReadData(persisted);
    EXPECT_EQ(Save(back), first);
    EXPECT_EQ(back.GetWidth(), 40);
    ExpectPattern(back.ToBitmap(), 16);
}

TEST_F(JpegImageTest, EncodingReadsThirtyTwoBitRowsAsTheyAre) {
    TBitmap bitmap24;
    testing::MakePatternBitmap(bitmap24, 33, 17);
    TBitmap bitmap32;
    bitmap32.Assign(bitmap24);
    bitmap32.SetPixelFormat(TPixelFormat::pf32bit);
    TJPEGImage a, b;
    a.Assign(bitmap24);
    b.Assign(bitmap32);
    EXPECT_EQ(Save(a), Save(b));
}

TEST_F(JpegImageTest, ShortWriteWhileSavingFails) {
    class FullDisk : public TMemoryStream {
    public:
        int64_t Write(const void* buffer, int64_t count) override { return TMemoryStream::Write(buffer, count / 2); }
    };
    TBitmap bitmap;
    testing::MakePatternBitmap(bitmap, 16, 16);
    TJPEGImage image;
    image.Assign(bitmap);
    FullDisk out;
    EXPECT_THROW(image.SaveToStream(out), EWriteError);
}

TEST_F(JpegImageTest, QualityIsClampedByTheCodec) {
    TBitmap bitmap;
    testing::MakePatternBitmap(bitmap, 32, 32);
    auto encode = [&](uint8_t quality) {
        TJPEGImage image;
        image.Assign(bitmap);
        image.SetSaveQuality(quality);
        return Save(image);
    };
    EXPECT_EQ(encode(0), encode(1));
    EXPECT_EQ(encode(200), encode(100));
    EXPECT_NE(encode(1), encode(100));
}

TEST_F(JpegImageTest, GrayOnlyAndMultiScanShapeTheEncodedFile) {
    TBitmap bitmap;
    testing::MakePatternBitmap(bitmap, 32, 32);
    TJPEGImage image;
    image.Assign(bitmap);
    image.SetGrayOnly(true);
    image.SetMultiScan(true);
    const auto bytes = Save(image);
    EXPECT_TRUE(image.GetSharedData()->IsGray);
    TJPEGImage back;
    Load(back, bytes);
    EXPECT_TRUE(back.GetSharedData()->IsGray);
    EXPECT_TRUE(back.GetMultiScan());
    EXPECT_EQ(back.ToBitmap().GetPixelFormat(), TPixelFormat::pf8bit);
}

// Zero bytes are no JPEG file: a picture of no rows or no columns (a BMP of
// 0 x 5 pixels, say) is refused, and nothing is written.
TEST_F(JpegImageTest, AnEmptyPictureIsRefusedAndNothingWritten) {
    TJPEGImage never;
    EXPECT_TRUE(never.GetEmpty());
    EXPECT_EQ(never.GetWidth(), 0);
    const std::pair<int, int> sizes[] = {{0, 5}, {5, 0}, {0, 0}};
    for (const auto& [width, height] : sizes) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        bitmap.SetSize(width, height);
        TJPEGImage image;
        image.Assign(bitmap);
        TMemoryStream out;
        try {
            image.SaveToStream(out);
            ADD_FAILURE() << width << " x " << height << " saved";
        } catch (const EJPEG& e) {
            EXPECT_EQ(e.Message(), "JPEG image cannot be empty: " + std::to_string(width) + " x " +
                                       std::to_string(height) + " pixels");
        }
        EXPECT_EQ(out.GetSize(), 0);
        // Refused again, never saved as the zero bytes of a first try.
        EXPECT_THROW(image.SaveToStream(out), EJPEG);
        EXPECT_EQ(out.GetSize(), 0);
    }
    TMemoryStream out;
    EXPECT_THROW(never.SaveToStream(out), EJPEG);
    EXPECT_EQ(out.GetSize(), 0);
    EXPECT_TRUE(never.GetEmpty());
    // Bytes present but none of them: decoding says the input is empty.
    TJPEGImage zero;
    Load(zero, {});
    EXPECT_FALSE(zero.GetEmpty());
    try {
        zero.ToBitmap();
        FAIL() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), JpegErrorText(JERR_INPUT_EMPTY));
    }
    // The failed decode is not retried: the bitmap stays, empty.
    EXPECT_NO_THROW(zero.ToBitmap());
}

TEST_F(JpegImageTest, SizeCannotBeChanged) {
    TJPEGImage image;
    Load(image, MakeJpeg({.width = 20, .height = 10}));
    for (int which = 0; which < 2; ++which) {
        try {
            which == 0 ? image.SetWidth(5) : image.SetHeight(5);
            FAIL() << "no exception";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(e.Message(), "Cannot change the size of a JPEG image");
        }
    }
    EXPECT_EQ(image.GetWidth(), 20);
    EXPECT_EQ(image.GetHeight(), 10);
}

TEST_F(JpegImageTest, AssignSharesBytesAndEqualsFollowsTheRecord) {
    TJPEGImage source;
    Load(source, MakeJpeg({}));
    TJPEGImage copy;
    copy.Assign(source);
    EXPECT_EQ(copy.GetSharedData(), source.GetSharedData());
    EXPECT_TRUE(copy.Equals(source));
    EXPECT_EQ(copy.GetDecodedBitmap(), nullptr);
    source.ToBitmap();
    TJPEGImage decodedCopy;
    decodedCopy.Assign(source);
    ASSERT_NE(decodedCopy.GetDecodedBitmap(), nullptr);
    EXPECT_EQ(decodedCopy.GetWidth(), 64);

    // Without bytes, equal exactly when sharing one record.
    TBitmap bitmap;
    testing::MakePatternBitmap(bitmap, 8, 8);
    TJPEGImage a, b;
    a.Assign(bitmap);
    b.Assign(bitmap);
    EXPECT_FALSE(a.Equals(b));
    TJPEGImage c;
    c.Assign(a);
    EXPECT_TRUE(c.Equals(a));
    EXPECT_FALSE(a.Equals(bitmap));

    // With bytes on both sides the bytes decide.
    TJPEGImage d, e;
    Load(d, MakeJpeg({}));
    Load(e, MakeJpeg({}));
    EXPECT_TRUE(d.Equals(e));
    Load(e, MakeJpeg({.quality = 50}));
    EXPECT_FALSE(d.Equals(e));
}

TEST_F(JpegImageTest, PaletteQueryAndPendingPalette) {
    DisplayDefaults(8);
    TJPEGImage image;
    image.SetOutputDepth(TJPEGOutputDepth::Depth24);
    HPALETTE halftone = image.GetPalette();
    ASSERT_TRUE(halftone);
    EXPECT_LE(halftone->Entries.size(), 236u);
    EXPECT_EQ(image.GetPalette(), halftone);
    DisplayDefaults(24);

    // Decoding into a given palette at 8 bits uses exactly its colours.
    auto palette = std::make_shared<TLogPalette>();
    palette->Entries = {{220, 20, 20, 0}, {20, 20, 220, 0}, {0, 200, 0, 0}, {0, 0, 0, 0}};
    TJPEGImage paletted;
    paletted.SetOutputDepth(TJPEGOutputDepth::Depth8);
    Load(paletted, MakeJpeg({}));
    paletted.SetPalette(palette);
    TBitmap& bitmap = paletted.ToBitmap();
    EXPECT_EQ(bitmap.GetPalette(), HPALETTE(palette));
    ExpectPattern(bitmap, 0);

    // A different palette drops the decoded bitmap and says so.
    int changes = 0;
    paletted.OnChange = [&](TGraphic&) { ++changes; };
    paletted.SetPalette(CreateHalftonePalette());
    EXPECT_EQ(paletted.GetDecodedBitmap(), nullptr);
    EXPECT_EQ(changes, 1);
}

TEST_F(JpegImageTest, RunningProgressRectanglesCoverNewRowsOnly) {
    // A clock that jumps 600 ms per look makes every codec step "slow".
    static uint64_t now = 0;
    now = 1000;
    SetCodecTickSource([] { return now += 600; });
    TJPEGImage image;
    ProgressLog log;
    log.Attach(image);
    Load(image, MakeJpeg({.width = 64, .height = 256, .hSampling = 1, .vSampling = 1}));
    image.ToBitmap();
    ASSERT_GT(log.Count(TProgressStage::psRunning), 2);
    int lastBottom = 0, lastPercent = -1;
    for (size_t i = 0; i < log.stages.size(); ++i) {
        if (log.stages[i] != TProgressStage::psRunning) continue;
        const TRect& r = log.rects[i];
        EXPECT_EQ(r.Left, 0);
        EXPECT_EQ(r.Right, 64);
        EXPECT_EQ(r.Top, lastBottom);
        EXPECT_GE(r.Bottom, r.Top);
        EXPECT_GT(log.percents[i], lastPercent);
        lastBottom = r.Bottom;
        lastPercent = log.percents[i];
    }
    EXPECT_EQ(log.stages.back(), TProgressStage::psEnding);
    EXPECT_EQ(log.percents.back(), 100);
}

TEST_F(JpegImageTest, CancellingFromProgress) {
    static uint64_t now = 0;
    now = 1000;
    SetCodecTickSource([] { return now += 600; });
    auto cancel = [](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::psRunning) throw EAbort("Operation aborted");
    };

    // Decoding keeps what it stored; the bitmap stays and is not decoded again.
    TJPEGImage loaded;
    Load(loaded, MakeJpeg({.width = 64, .height = 256}));
    loaded.OnProgress = cancel;
    EXPECT_NO_THROW(loaded.ToBitmap());
    ASSERT_NE(loaded.GetDecodedBitmap(), nullptr);
    EXPECT_EQ(loaded.GetDecodedBitmap()->Height(), 256);

    // Encoding drops its bytes; saving then refuses rather than writing nothing.
    TBitmap bitmap;
    testing::MakePatternBitmap(bitmap, 64, 256);
    TJPEGImage fresh;
    fresh.Assign(bitmap);
    fresh.OnProgress = cancel;
    TMemoryStream out;
    EXPECT_THROW(fresh.SaveToStream(out), EAbort);
    EXPECT_EQ(out.GetSize(), 0);
    EXPECT_EQ(fresh.GetSharedData()->JpegBytes, nullptr);

    // Any other failure travels on, and nothing half-made is kept.
    fresh.OnProgress = [](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::psRunning) throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(fresh.SaveToStream(out), std::runtime_error);
    EXPECT_EQ(fresh.GetSharedData()->JpegBytes, nullptr);
    fresh.OnProgress = nullptr;
    SetCodecTickSource(nullptr);
    fresh.SaveToStream(out);
    EXPECT_GT(out.GetSize(), 0);
}

TEST_F(JpegImageTest, PictureHolderLoadsAndCopiesJpegFiles) {
    RegisterJpegFormat(24);
    EXPECT_EQ(TPicture::FileFormatDescription("jpg"), "JPEG Image File");
    EXPECT_EQ(TPicture::FileFormatDescription("jpeg"), "JPEG Image File");
    const std::string path = ::testing::TempDir() + "vmk_jpeg_holder.JPG";
    {
        TBitmap bitmap;
        testing::MakePatternBitmap(bitmap, 48, 36);
        TJPEGImage image;
        image.Assign(bitmap);
        image.SaveToFile(path);
    }
    TPicture picture;
    picture.LoadFromFile(path);
    ASSERT_NE(dynamic_cast<TJPEGImage*>(picture.GetGraphic()), nullptr);
    EXPECT_EQ(picture.GetWidth(), 48);
    TPicture copy;
    copy.Assign(picture.GetGraphic());
    EXPECT_TRUE(copy.GetGraphic()->Equals(*picture.GetGraphic()));
    TBitmap& bitmap = picture.GetBitmap();
    EXPECT_EQ(bitmap.Height(), 36);
    ExpectPattern(bitmap, 16);
    std::remove(path.c_str());
    UnregisterJpegFormat();
    EXPECT_EQ(TPicture::FileFormatDescription("jpg"), "");
}

}  // namespace
}  // namespace vmk
