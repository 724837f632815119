// Re-encoding a JPEG a band of rows at a time: the bytes of decoding the whole
// picture, editing it and saving it, with only a band held; pictures that must be
// whole are left to the whole-picture path.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/Jpeg.h"
#include "imaging/JpegTestFiles.h"
#include "support/PictureBytes.h"

using namespace vmk;
using namespace vmk::testing;

namespace {

std::unique_ptr<TJPEGImage> Loaded(const std::vector<uint8_t>& bytes) {
    auto jpeg = std::make_unique<TJPEGImage>();
    TMemoryStream stream;
    FillStream(stream, bytes);
    jpeg->LoadFromStream(stream);
    return jpeg;
}

// A mark that shows where each band was: a dot at (top mod width, 0) of it.
void MarkBand(TBitmap& band, int top) { band.GetCanvas().SetPixel(top % band.Width(), 0, RGBColor(1, 2, 3)); }

// What the usual path makes: the whole picture decoded, marked band by band
// (the same edits at the same places), given to a writer and saved.
std::string WholeOutcome(const std::vector<uint8_t>& bytes, int quality, int band) {
    try {
        auto source = Loaded(bytes);
        TBitmap picture;
        picture.Assign(*source);
        for (int top = 0; top < picture.Height(); top += band)
            picture.GetCanvas().SetPixel(top % picture.Width(), top, RGBColor(1, 2, 3));
        TJPEGImage writer;
        writer.Assign(picture);
        writer.SetSaveQuality(static_cast<uint8_t>(quality));
        writer.SetMarkers(source->GetMarkers());
        TMemoryStream out;
        writer.SaveToStream(out);
        return std::string(out.Bytes().begin(), out.Bytes().end());
    } catch (const std::exception& e) {
        return std::string("failed: ") + e.what();
    }
}

struct BandOutcome {
    bool banded = false;
    std::string result;                      // the bytes, or "failed: " and the message
    std::vector<std::pair<int, int>> bands;  // top and height of each band edited
};

BandOutcome Banded(const std::vector<uint8_t>& bytes, int quality) {
    BandOutcome outcome;
    try {
        auto source = Loaded(bytes);
        TJPEGImage writer;
        writer.SetSaveQuality(static_cast<uint8_t>(quality));
        writer.SetMarkers(source->GetMarkers());
        TMemoryStream out;
        outcome.banded = writer.TranscodeInBands(*source, out, [&](TBitmap& band, int top) {
            EXPECT_EQ(band.GetPixelFormat(), TPixelFormat::pf24bit);
            outcome.bands.emplace_back(top, band.Height());
            MarkBand(band, top);
        });
        outcome.result.assign(out.Bytes().begin(), out.Bytes().end());
    } catch (const std::exception& e) {
        outcome.result = std::string("failed: ") + e.what();
    }
    return outcome;
}

}  // namespace

TEST(JpegBands, EveryPlainColourLayoutGivesTheWholePicturesBytes) {
    const JpegRecipe recipes[] = {
        {.width = 37, .height = 53},                                  // 4:2:0, a short last band
        {.width = 64, .height = 48, .hSampling = 1, .vSampling = 1},  // 4:4:4
        {.width = 40, .height = 33, .hSampling = 2, .vSampling = 1},  // 4:2:2
        {.width = 50, .height = 41, .layout = Layout::Progressive},
        {.width = 45, .height = 70, .restartRows = 1},
        {.width = 33, .height = 17, .layout = Layout::Arithmetic},
        {.width = 1, .height = 1},
        {.width = 300, .height = 16},
    };
    for (const JpegRecipe& recipe : recipes) {
        SCOPED_TRACE(std::to_string(recipe.width) + " x " + std::to_string(recipe.height));
        const std::vector<uint8_t> bytes = MakeJpeg(recipe);
        const BandOutcome banded = Banded(bytes, 85);
        EXPECT_TRUE(banded.banded);
        EXPECT_EQ(banded.result.substr(0, 2), "\xFF\xD8");
        EXPECT_TRUE(banded.result == WholeOutcome(bytes, 85, 16)) << banded.result.substr(0, 80);
        // Bands of at most 16 rows, in order, covering every row once.
        int next = 0;
        for (const auto& [top, height] : banded.bands) {
            EXPECT_EQ(top, next);
            EXPECT_GE(height, 1);
            EXPECT_LE(height, 16);
            next = top + height;
        }
        EXPECT_EQ(next, recipe.height);
    }
}

TEST(JpegBands, KeptMetadataAndAnUprightOrientationGoThrough) {
    const std::vector<uint8_t> plain = MakeJpeg({.width = 40, .height = 30});
    const char comment[] = "taken at dusk";
    const auto bytes =
        vmk::test::WithSegments(plain, {{0xE1, vmk::test::ExifPayload(1, false)},
                                        {0xFE, std::vector<uint8_t>(comment, comment + sizeof comment - 1)}});
    const BandOutcome banded = Banded(bytes, 70);
    EXPECT_TRUE(banded.banded);
    EXPECT_TRUE(banded.result == WholeOutcome(bytes, 70, 16));
    EXPECT_NE(banded.result.find("taken at dusk"), std::string::npos);
}

TEST(JpegBands, PicturesThatMustBeWholeAreLeftAlone) {
    std::vector<std::pair<std::string, std::unique_ptr<TJPEGImage>>> pictures;
    pictures.emplace_back("gray", Loaded(MakeJpeg({.gray = true})));
    pictures.emplace_back("CMYK", Loaded(MakeJpeg({.cmyk = true})));
    pictures.emplace_back("turned",
                          Loaded(vmk::test::WithSegments(MakeJpeg({}), {{0xE1, vmk::test::ExifPayload(6, true)}})));
    pictures.emplace_back("passes shown", Loaded(MakeJpeg({.layout = Layout::Progressive})));
    pictures.back().second->SetShowPasses(true);
    pictures.emplace_back("to a palette", Loaded(MakeJpeg({})));
    pictures.back().second->SetOutputDepth(TJPEGOutputDepth::Depth8);
    pictures.emplace_back("decoded already", Loaded(MakeJpeg({})));
    pictures.back().second->ToBitmap();
    pictures.emplace_back("empty", std::make_unique<TJPEGImage>());
    for (auto& [name, picture] : pictures) {
        TJPEGImage writer;
        TMemoryStream out;
        bool edited = false;
        EXPECT_FALSE(writer.TranscodeInBands(*picture, out, [&](TBitmap&, int) { edited = true; })) << name;
        EXPECT_FALSE(edited) << name;
        EXPECT_EQ(out.GetSize(), 0) << name;
    }
}

// A damaged file fails, or decodes, exactly as the whole picture does.
TEST(JpegBands, DamagedFilesEndAsTheWholePictureDoes) {
    const std::vector<uint8_t> good = MakeJpeg({.width = 64, .height = 64, .restartRows = 1});
    std::vector<std::vector<uint8_t>> damaged;
    damaged.emplace_back(good.begin(), good.begin() + static_cast<long>(good.size() / 2));  // cut in the scan
    damaged.push_back(good);
    for (size_t i = good.size() / 2; i < good.size() / 2 + 40; ++i) damaged.back()[i] ^= 0x5A;  // scrambled
    damaged.push_back(good);
    damaged.back().resize(good.size() - 2);                  // no end marker
    damaged.emplace_back(good.begin(), good.begin() + 300);  // cut in the tables
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        const BandOutcome banded = Banded(damaged[i], 85);
        EXPECT_TRUE(banded.result == WholeOutcome(damaged[i], 85, 16)) << banded.result.substr(0, 120);
    }
}

// An edit that fails or stops ends the encode: no bytes pass for a result.
TEST(JpegBands, AnEditThatFailsOrStopsEndsTheEncode) {
    const std::vector<uint8_t> bytes = MakeJpeg({.width = 40, .height = 50});
    for (const bool stop : {false, true}) {
        auto source = Loaded(bytes);
        TJPEGImage writer;
        TMemoryStream out;
        int bands = 0;
        try {
            writer.TranscodeInBands(*source, out, [&](TBitmap&, int) {
                if (++bands == 2) {
                    if (stop) throw EAbort("Operation aborted");
                    throw EInvalidGraphicOperation("no room for the cover");
                }
            });
            ADD_FAILURE() << "no failure";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), stop ? "Operation aborted" : "no room for the cover");
        }
        EXPECT_EQ(bands, 2);
    }
}

// A file of more scans than the decoder takes is refused alike on both paths,
// though nobody listens to the band path's progress; one within the limit gives
// the same bytes on both.
TEST(JpegBands, TooManyScansAreRefusedOnBothPaths) {
    const std::vector<uint8_t> many = MakeManyScanJpeg(1001);
    auto source = Loaded(many);
    TJPEGImage writer;
    TMemoryStream out;
    bool edited = false;
    try {
        writer.TranscodeInBands(*source, out, [&](TBitmap&, int) { edited = true; });
        ADD_FAILURE() << "the band path took " << many.size() << " bytes of 1001 scans";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), "JPEG image has too many scans");
    }
    EXPECT_FALSE(edited);
    EXPECT_EQ(out.GetSize(), 0);
    EXPECT_EQ(WholeOutcome(many, 85, 16), "failed: JPEG image has too many scans");
    // Showing passes reads the scans in one at a time, outside the codec's monitor.
    auto shown = Loaded(many);
    shown->SetShowPasses(true);
    try {
        shown->ToBitmap();
        ADD_FAILURE() << "1001 scans shown";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), "JPEG image has too many scans");
    }

    const std::vector<uint8_t> enough = MakeManyScanJpeg(1000);
    const BandOutcome banded = Banded(enough, 85);
    EXPECT_TRUE(banded.banded);
    EXPECT_EQ(banded.result.substr(0, 2), "\xFF\xD8");
    EXPECT_TRUE(banded.result == WholeOutcome(enough, 85, 16)) << banded.result.substr(0, 80);
}
