// Camera photos and 32-bit pictures through the real run and previews, checked
// against ImageMagick: upright by EXIF orientation, metadata kept, no holes.

#include <cstdio>

#include "compose/Compose.h"
#include "imaging/JpegTestFiles.h"
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

// An ICC profile of a colour space, as chunk number of count of an APP2 set:
// the whole profile is a bare header with no tags.
TJPEGMarker ProfileChunk(const char* space, int number, int count, size_t from, size_t to) {
    std::vector<uint8_t> profile(132, 0);
    profile[3] = 132;
    std::memcpy(&profile[16], space, 4);
    std::memcpy(&profile[36], "acsp", 4);
    TJPEGMarker m = Segment(0xE2, "ICC_PROFILE", 12);
    m.Data.push_back(uint8_t(number));
    m.Data.push_back(uint8_t(count));
    m.Data.insert(m.Data.end(), profile.begin() + long(from), profile.begin() + long(std::min(to, profile.size())));
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
    const TJPEGMarkers kept = {ProfileChunk("RGB ", 1, 2, 0, 100),
                               ProfileChunk("RGB ", 2, 2, 100, 132),
                               Segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>", 33),
                               {0xED, PhotoshopBlock({{0x0404, {0x1C, 2, 0, 0, 2, 0, 4}}})},
                               Segment(0xFE, "taken on a phone", 16)};
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

// exiftool's reading of a file: its standard output, or "missing" without exiftool.
std::string ExifTool(const std::string& args, const std::string& path) {
    if (std::system("command -v exiftool >/dev/null") != 0) return "missing";
    std::string out;
    const std::string cmd = "exiftool " + args + " '" + path + "' 2>/dev/null";
    if (FILE* pipe = popen(cmd.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

bool Holds(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

const char kXmpOrientation6[] =
    "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
    "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" tiff:Orientation=\"6\"/></rdf:RDF></x:xmpmeta>";

TEST_F(PhotoTest, JpegResultHoldsNoUnstampedThumbnailAndDescribesItsOwnPixels) {
    if (std::system("command -v exiftool >/dev/null") != 0) GTEST_SKIP() << "exiftool is not installed";
    const std::vector<uint8_t> thumbnail = EncodeJpeg(*MakeGradient(8, 6), 70);
    // Turned (made whole) and upright (made in bands); sizes a camera wrote before a crop.
    AddPhoto("turned.jpg", 0,
             {{0xE1, CameraExif(6, 3, 4000, 3000, thumbnail, false)},
              Segment(0xE1, kXmpOrientation6, sizeof kXmpOrientation6 - 1)});
    const std::vector<uint8_t> iptc = {0x1C, 2, 0, 0, 2, 0, 4};
    AddPhoto("upright.jpg", 0,
             {{0xE1, CameraExif(1, 3, 4000, 3000, thumbnail, true)},
              {0xED, PhotoshopBlock({{0x0404, iptc}, {0x040C, thumbnail}})}});
    ASSERT_EQ(ExifTool("-b -ThumbnailImage", dir_ + "turned.jpg").size(), thumbnail.size());
    form_->JPG->SetChecked(true);
    RunProcess();
    ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    for (const char* name : {"VMK_turned.jpg", "VMK_upright.jpg"}) {
        const std::vector<uint8_t> result = ReadBytes(dir_ + name);
        EXPECT_FALSE(Holds(result, std::vector<uint8_t>(thumbnail.begin() + 2, thumbnail.begin() + 40))) << name;
        EXPECT_FALSE(Holds(result, std::vector<uint8_t>(thumbnail.end() - 40, thumbnail.end()))) << name;
    }
    size_t scan = 0;
    const TJPEGMarkers segments = SegmentsOf(ReadBytes(dir_ + "VMK_upright.jpg"), scan);
    EXPECT_EQ(std::count(segments.begin(), segments.end(), TJPEGMarker{0xED, PhotoshopBlock({{0x0404, iptc}})}), 1);
    // A line a file, "-" for a tag it lacks: no thumbnail, no warning of a damaged block.
    EXPECT_EQ(ExifTool("-T -n -ImageSize -ExifImageWidth -ExifImageHeight -EXIF:Orientation -XMP-tiff:Orientation "
                       "-Make -ThumbnailImage -ThumbnailOffset -Warning -Error",
                       dir_ + "VMK_turned.jpg' '" + dir_ + "VMK_upright.jpg"),
              "12 16\t12\t16\t1\t1\tPhone\t-\t-\t-\t-\n"
              "16 12\t16\t12\t1\t-\tPhone\t-\t-\t-\t-\n");
}

TEST_F(PhotoTest, LongOrientationsAndThousandsOfSegmentsComeOutUpright) {
    const auto comments = [](size_t n) { return TJPEGMarkers(n, TJPEGMarker{0xFE, {'x'}}); };
    AddPhoto("short.jpg", 6);
    AddPhoto("long.jpg", 0, {{0xE1, CameraExif(6, 4, 16, 12, {}, false)}});
    AddPhoto("longbig.jpg", 0, {{0xE1, CameraExif(6, 4, 16, 12, {}, true)}});
    AddPhoto("many.jpg", 6, comments(kMaxKeptSegments + 1));
    RunProcess();
    ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    const Pic upright = LoadBmp(dir_ + "VMK_short.bmp");
    ASSERT_EQ(upright->Width(), 12);
    for (const char* name : {"VMK_long.bmp", "VMK_longbig.bmp", "VMK_many.bmp"}) {
        SCOPED_TRACE(name);
        ExpectSamePixels(*LoadBmp(dir_ + name), *upright);
    }
    form_->JPG->SetChecked(true);
    RunProcess();
    ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    const Pic result = DecodeJpeg(dir_ + "VMK_long.jpg");  // read back: upright as it stands
    EXPECT_EQ(result->Width(), 12);
    size_t scan = 0;
    for (const TJPEGMarker& m : SegmentsOf(ReadBytes(dir_ + "VMK_many.jpg"), scan))
        EXPECT_LT(m.Code, 0xE1) << "too many segments to keep: none are";
}

TEST_F(PhotoTest, ColourProfileIsKeptOnlyWhereItDescribesTheResult) {
    const auto write = [&](const std::string& name, std::vector<uint8_t> jpeg, const TJPEGMarkers& segments) {
        jpeg = WithSegments(jpeg, segments);
        std::ofstream(dir_ + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), long(jpeg.size()));
        AddSource(dir_ + name);
    };
    const auto whole = [](const char* space) { return TJPEGMarkers{ProfileChunk(space, 1, 1, 0, 132)}; };
    // A profile in two chunks, the second first in the file.
    const TJPEGMarkers rgb = {ProfileChunk("RGB ", 2, 2, 100, 132), ProfileChunk("RGB ", 1, 2, 0, 100)};
    write("cmyk.jpg", vmk::testing::MakeJpeg({.width = 16, .height = 12, .cmyk = true}), whole("CMYK"));
    write("rgb.jpg", EncodeJpeg(*MakeGradient(16, 12), 90), rgb);
    write("cut.jpg", EncodeJpeg(*MakeGradient(16, 12), 90), {rgb[1]});
    write("gray.jpg", vmk::testing::MakeJpeg({.width = 16, .height = 12, .gray = true}), whole("GRAY"));
    write("rgbturned.jpg", EncodeJpeg(*MakeGradient(16, 12), 90), {{0xE1, ExifPayload(6, false)}, rgb[0], rgb[1]});
    form_->JPG->SetChecked(true);
    RunProcess();
    ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    const auto profiles = [&](const std::string& name) {
        size_t scan = 0;
        TJPEGMarkers got = SegmentsOf(ReadBytes(dir_ + "VMK_" + name), scan);
        std::erase_if(got, [](const TJPEGMarker& m) { return m.Code != 0xE2; });
        return got;
    };
    EXPECT_EQ(profiles("cmyk.jpg"), TJPEGMarkers{}) << "a CMYK profile on RGB rows";
    EXPECT_EQ(profiles("rgb.jpg"), rgb);
    EXPECT_EQ(profiles("rgbturned.jpg"), rgb);
    EXPECT_EQ(profiles("cut.jpg"), TJPEGMarkers{}) << "half a profile";
    EXPECT_EQ(profiles("gray.jpg"), TJPEGMarkers{}) << "results are colour JPEGs";
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
