// Camera photos and 32-bit pictures through the real run and previews, checked
// against ImageMagick: upright by EXIF orientation, metadata kept, no holes.

#include "compose/Compose.h"
#include "output/FormSettings.h"
#include "support/PictureBytes.h"
#include "support/WindowFixture.h"

using namespace vmk;
using namespace vmk::test;

namespace {

const TColor kTrans = RGBColor(255, 0, 255);

// ImageMagick's convert (scripts/setup.sh installs it); empty when missing.
std::string Magick() {
    for (const char* name : {"convert-im6.q16", "convert"})
        if (std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0) return name;
    return "";
}

// ImageMagick's own reading of a file, after args, as 8-bit "rgb" or "rgba".
std::vector<uint8_t> MagickPixels(const std::string& path, const std::string& args, const std::string& map) {
    const std::string cmd = Magick() + " '" + path + "' " + args + " -depth 8 " + map + ":'" + path + ".raw'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return ReadBytes(path + ".raw");
}

// ImageMagick's upright picture of a JPEG: its own decoding (libjpeg's integer
// transform, as ours) and its own turn by the EXIF orientation.
Pic MagickUpright(const std::string& jpeg, int width, int height) {
    const auto rgb = MagickPixels(jpeg, "-define jpeg:dct-method=islow -auto-orient", "rgb");
    Pic out = MakeGradient(width, height);
    EXPECT_EQ(rgb.size(), static_cast<size_t>(width * height * 3));
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        out->GetCanvas().SetPixel(int(i / 3) % width, int(i / 3) / width, RGBColor(rgb[i], rgb[i + 1], rgb[i + 2]));
    return out;
}

// The segments before the scan, and where the scan starts.
TJPEGMarkers SegmentsOf(const std::vector<uint8_t>& jpeg, size_t& at) {
    TJPEGMarkers out;
    for (at = 2; at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA; at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]))
        out.push_back(
            {jpeg[at + 1], std::vector<uint8_t>(jpeg.begin() + long(at) + 4,
                                                jpeg.begin() + long(at) + 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]))});
    return out;
}

TJPEGMarker Segment(uint8_t code, const char* text, size_t textSize, size_t filler = 0) {
    TJPEGMarker m{code, std::vector<uint8_t>(text, text + textSize)};
    for (size_t i = 0; i < filler; ++i) m.Data.push_back(static_cast<uint8_t>(i * 7));
    return m;
}

class PhotoTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        cover_ = MakeCover(5, 3, kTrans, {RGBColor(0, 255, 0), RGBColor(0, 0, 255)});
        WriteCover(*cover_);
    }
    // A 16 x 12 photo stored in the given orientation (0: no EXIF at all).
    std::string AddPhoto(const std::string& name, int orientation, TJPEGMarkers segments = {}) {
        if (orientation > 0) segments.insert(segments.begin(), {0xE1, ExifPayload(orientation, orientation % 2)});
        const auto bytes = WithSegments(EncodeJpeg(*MakeGradient(16, 12), 90), segments);
        std::ofstream(dir_ + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
        AddSource(dir_ + name);
        return dir_ + name;
    }
    Pic cover_;
};

TEST_F(PhotoTest, EveryOrientationComesOutUprightAtEveryPlacement) {
    if (Magick().empty()) GTEST_SKIP() << "ImageMagick is not installed";
    std::vector<Pic> upright;
    for (int o = 0; o <= 8; ++o)
        upright.push_back(
            MagickUpright(AddPhoto("o" + std::to_string(o) + ".jpg", o), o >= 5 ? 12 : 16, o >= 5 ? 16 : 12));
    for (TRadioButton* place : {form_->LT, form_->RT, form_->LB, form_->RB, form_->OtherPos}) {
        Place(place, 3, 2);
        RunProcess();
        ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
        for (int o = 0; o <= 8; ++o) {
            SCOPED_TRACE(place->GetName() + " orientation " + std::to_string(o));
            const TBitmap& ref = *upright[size_t(o)];
            const TCoverPosition at = CoverPlacement(CoverSettingsOf(*form_), ref.Width(), ref.Height(), 5, 3);
            ExpectSamePixels(*LoadBmp(dir_ + "VMK_o" + std::to_string(o) + ".bmp"),
                             *Expected(ref, *cover_, at.X, at.Y, true, kTrans));
        }
    }
    // The file preview and the save preview show the same upright picture.
    RegisterJpegFormat();  // as start-up does: the file preview picks the class by extension
    struct Unregister {
        ~Unregister() { UnregisterJpegFormat(); }
    } unregister;
    form_->FilesList->SelectByUser(6);
    ExpectSamePixels(form_->PreviewFiles->GetPicture().GetBitmap(), *upright[6]);
    Place(form_->RB);
    form_->FileListSave->SelectByUser(6);
    ExpectSamePixels(form_->PreviewSave->GetPicture().GetBitmap(),
                     *Expected(*upright[6], *cover_, 7, 13, true, kTrans));
}

TEST_F(PhotoTest, JpegResultKeepsTheMetadataByteForByte) {
    const TJPEGMarkers kept = {Segment(0xE2, "ICC_PROFILE\0\1\2", 14, 300), Segment(0xE2, "ICC_PROFILE\0\2\2", 14, 120),
                               Segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>", 33),
                               Segment(0xED, "Photoshop 3.0\0008BIM", 18, 40), Segment(0xFE, "taken on a phone", 16)};
    TJPEGMarkers all = kept;
    all.push_back(Segment(0xE2, "MPF\0MM", 6, 30));  // offsets into the old file: dropped
    all.push_back(Segment(0xEF, "vendor", 6));
    AddPhoto("photo.jpg", 6, all);
    AddPhoto("plain.jpg", 0);
    RunProcess();  // BMP first: the pixels the JPEG result must hold
    form_->JPG->SetChecked(true);
    RunProcess();
    ASSERT_EQ(TakeBoxes(), (std::vector<std::string>{kDone, kDone}));

    const auto result = ReadBytes(dir_ + "VMK_photo.jpg");
    size_t scan = 0;
    TJPEGMarkers got = SegmentsOf(result, scan);
    TJPEGMarkers expected = {{0xE1, ExifPayload(1, false)}};  // the same block, orientation 1
    expected.insert(expected.end(), kept.begin(), kept.end());
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].Code, 0xE0);  // libjpeg's JFIF header leads
    EXPECT_EQ(TJPEGMarkers(got.begin() + 1, got.begin() + 1 + long(std::min(got.size() - 1, expected.size()))),
              expected);
    // Everything else is what the writer makes of those pixels without them.
    const auto plain = EncodeJpeg(*LoadBmp(dir_ + "VMK_photo.bmp"), 85);
    size_t plainScan = 0;
    const TJPEGMarkers plainSegments = SegmentsOf(plain, plainScan);
    std::erase_if(got, [](const TJPEGMarker& m) { return m.Code >= 0xE1; });
    EXPECT_EQ(got, plainSegments);
    EXPECT_TRUE(std::equal(result.begin() + long(scan), result.end(), plain.begin() + long(plainScan), plain.end()));
    for (const TJPEGMarker& m : SegmentsOf(ReadBytes(dir_ + "VMK_plain.jpg"), scan))
        EXPECT_LT(m.Code, 0xE1) << "a source without metadata gives a result with none";
    // The save preview's trial carries them too and stays the run's twin, turned once.
    form_->FileListSave->SelectByUser(0);
    ExpectSamePixels(form_->PreviewSave->GetPicture().GetBitmap(), *DecodeJpeg(dir_ + "VMK_photo.jpg"));
}

TEST_F(PhotoTest, ThirtyTwoBitResultHasNoHoleWhereTheCoverLies) {
    if (Magick().empty()) GTEST_SKIP() << "ImageMagick is not installed";
    Place(form_->RB);
    const auto translucent = [](int x, int) { return uint8_t(x == 0 ? 128 : 255); };
    const auto unused = [](int, int) { return uint8_t(0); };
    const std::function<uint8_t(int, int)> alphas[] = {translucent, translucent, unused};
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        const std::string name = "pic" + std::to_string(c) + ".bmp";
        const auto source = Bmp32(c == 0, alphas[c]);
        std::ofstream(dir_ + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(source.data()), long(source.size()));
        FilePaths().Clear();
        AddSource(dir_ + name);
        RunProcess();
        ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
        Pic expected = Expected(*LoadBmp(dir_ + name), *cover_, 3, 3, true, kTrans);
        const auto rgba = MagickPixels(dir_ + "VMK_" + name, "", "rgba");
        ASSERT_EQ(rgba.size(), 8u * 6 * 4);
        for (int i = 0; i < 48; ++i) {
            const int x = i % 8, y = i / 8;
            const bool drawn = x >= 3 && y >= 3 && cover_->GetPixelColor(x - 3, y - 3) != kTrans;
            const uint8_t* p = &rgba[4 * static_cast<size_t>(i)];
            EXPECT_EQ(RGBColor(p[0], p[1], p[2]), expected->GetPixelColor(x, y)) << x << "," << y;
            EXPECT_EQ(p[3], drawn || c == 2 ? 255 : alphas[c](x, y)) << x << "," << y;
        }
    }
}

}  // namespace
