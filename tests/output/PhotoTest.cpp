// Camera photos and 32-bit pictures through the real run and previews, checked
// against ImageMagick: upright by EXIF orientation, metadata kept, no holes.

#include <cstdio>
#include <sstream>

#include "OutputTestSupport.h"
#include "support/PictureBytes.h"

using namespace vmk;
using namespace vmk::test;

namespace {

const TColor kTrans = RGBColor(255, 0, 255);

// ImageMagick's convert; empty when it is not installed (scripts/setup.sh installs it).
std::string Magick() {
    for (const char* name : {"convert-im6.q16", "convert"})
        if (std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0) return name;
    return "";
}

#define NEED_MAGICK()                                                                  \
    if (Magick().empty()) GTEST_SKIP() << "ImageMagick is not installed (scripts/setup.sh)"

// ImageMagick's own reading of a file as 8-bit channels ("rgb" or "rgba"), after args.
std::vector<uint8_t> MagickPixels(const std::string& path, const std::string& args, const std::string& map) {
    const std::string out = path + "." + map;
    const std::string cmd = Magick() + " '" + path + "' " + args + " -depth 8 " + map + ":'" + out + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    auto bytes = ReadBytes(out);
    std::remove(out.c_str());
    return bytes;
}

// ImageMagick's upright picture of a JPEG: its own decoding (libjpeg's integer
// transform, as ours) and its own turn by the EXIF orientation.
Pic MagickUpright(const std::string& jpeg, int width, int height) {
    const auto rgb = MagickPixels(jpeg, "-define jpeg:dct-method=islow -auto-orient", "rgb");
    Pic out = std::make_unique<TBitmap>();
    out->SetPixelFormat(TPixelFormat::pf24bit);
    out->SetSize(width, height);
    EXPECT_EQ(rgb.size(), static_cast<size_t>(width * height * 3));
    if (rgb.size() != static_cast<size_t>(width * height * 3)) return out;
    for (int i = 0; i < width * height; ++i)
        out->GetCanvas().SetPixel(i % width, i / width, RGBColor(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]));
    return out;
}

// The segments before the scan, walked by their length fields.
TJPEGMarkers SegmentsOf(const std::vector<uint8_t>& jpeg, size_t* scanStart = nullptr) {
    TJPEGMarkers out;
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        if (at + 2 + length > jpeg.size()) break;
        out.push_back({jpeg[at + 1], std::vector<uint8_t>(jpeg.begin() + static_cast<ptrdiff_t>(at + 4),
                                                          jpeg.begin() + static_cast<ptrdiff_t>(at + 2 + length))});
        at += 2 + length;
    }
    if (scanStart) *scanStart = at;
    return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

class PhotoTest : public FormTest {
protected:
    // A 16 x 12 photo stored in the given orientation (0: no EXIF at all).
    std::string WritePhoto(const std::string& name, int orientation, const TJPEGMarkers& more = {}) {
        TJPEGMarkers segments = more;
        if (orientation > 0) segments.insert(segments.begin(), TJPEGMarker{0xE1, ExifPayload(orientation, orientation % 2 == 0)});
        WriteFile(dir_ + name, WithSegments(EncodeJpeg(*MakeGradient(16, 12), 90), segments));
        return dir_ + name;
    }
};

TEST_F(PhotoTest, EveryOrientationComesOutUprightAtEveryPlacement) {
    NEED_MAGICK();
    Pic cover = MakeCover(5, 3, kTrans, {RGBColor(0, 255, 0), RGBColor(0, 0, 255)});
    WriteCover(*cover);
    std::vector<Pic> upright;
    for (int o = 0; o <= 8; ++o) {
        const std::string path = WritePhoto("o" + std::to_string(o) + ".jpg", o);
        AddSource(path);
        upright.push_back(o >= 5 ? MagickUpright(path, 12, 16) : MagickUpright(path, 16, 12));
    }
    struct Case { TRadioButton* button; bool right, bottom; } cases[] = {
        {form_->LT, false, false}, {form_->RT, true, false}, {form_->LB, false, true},
        {form_->RB, true, true}, {form_->OtherPos, false, false}};
    for (const Case& c : cases) {
        Place(c.button, 3, 2);
        RunProcess();
        ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
        for (int o = 0; o <= 8; ++o) {
            SCOPED_TRACE(c.button->GetName() + " orientation " + std::to_string(o));
            const TBitmap& ref = *upright[static_cast<size_t>(o)];
            const int x = c.button == form_->OtherPos ? 3 : c.right ? ref.Width() - 5 : 0;
            const int y = c.button == form_->OtherPos ? 2 : c.bottom ? ref.Height() - 3 : 0;
            ExpectSamePixels(*LoadBmp(dir_ + "VMK_o" + std::to_string(o) + ".bmp"),
                             *Expected(ref, *cover, x, y, true, kTrans));
        }
    }

    // The file preview and the save preview show the same upright picture.
    RegisterJpegFormat();  // as start-up does; the file preview picks the class by extension
    struct Unregister { ~Unregister() { UnregisterJpegFormat(); } } unregister;
    form_->FilesList->SelectByUser(6);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 12);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetHeight(), 16);
    ExpectSamePixels(form_->PreviewFiles->GetPicture().GetBitmap(), *upright[6]);
    Place(form_->RB);
    form_->FileListSave->SelectByUser(6);
    ExpectSamePixels(form_->PreviewSave->GetPicture().GetBitmap(), *Expected(*upright[6], *cover, 7, 13, true, kTrans));
}

TEST_F(PhotoTest, JpegResultKeepsTheMetadataByteForByte) {
    WriteCover(*MakeCover(5, 3, kTrans, {RGBColor(0, 255, 0)}));
    Place(form_->RB);
    const TJPEGMarkers kept = {Segment(0xE2, std::string("ICC_PROFILE\0\1\2", 14), 300),
                               Segment(0xE2, std::string("ICC_PROFILE\0\2\2", 14), 120),
                               Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>", 41)),
                               Segment(0xED, std::string("Photoshop 3.0\0008BIM", 18), 40),
                               Segment(0xFE, "taken on a phone")};
    TJPEGMarkers all = kept;
    all.push_back(Segment(0xE2, std::string("MPF\0MM", 6), 30));  // offsets into the old file: dropped
    all.push_back(Segment(0xEF, "vendor junk"));
    AddSource(WritePhoto("photo.jpg", 6, all));
    AddSource(WritePhoto("plain.jpg", 0));
    RunProcess();  // BMP first: the pixels the JPEG result must hold
    form_->JPG->SetChecked(true);
    RunProcess();
    ASSERT_EQ(TakeBoxes(), (std::vector<std::string>{kDone, kDone}));

    const auto result = ReadBytes(dir_ + "VMK_photo.jpg");
    size_t scan = 0;
    TJPEGMarkers got = SegmentsOf(result, &scan);
    ASSERT_GE(got.size(), 1u);
    EXPECT_EQ(got[0].Code, 0xE0);  // libjpeg's own JFIF header
    TJPEGMarkers expected = {TJPEGMarker{0xE1, ExifPayload(1, true)}};
    expected.insert(expected.end(), kept.begin(), kept.end());
    TJPEGMarkers metadata;
    for (size_t i = 1; i < got.size(); ++i)
        if (got[i].Code >= 0xE0) metadata.push_back(got[i]);
    EXPECT_EQ(metadata, expected);

    // Everything else is the file the writer makes of those pixels without them.
    const auto plain = EncodeJpeg(*LoadBmp(dir_ + "VMK_photo.bmp"), 85);
    size_t plainScan = 0;
    const TJPEGMarkers plainSegments = SegmentsOf(plain, &plainScan);
    std::erase_if(got, [](const TJPEGMarker& m) { return m.Code >= 0xE1; });
    EXPECT_EQ(got, plainSegments);
    EXPECT_EQ(std::vector<uint8_t>(result.begin() + static_cast<ptrdiff_t>(scan), result.end()),
              std::vector<uint8_t>(plain.begin() + static_cast<ptrdiff_t>(plainScan), plain.end()));
    // A source without metadata gives a result with none.
    for (const TJPEGMarker& m : SegmentsOf(ReadBytes(dir_ + "VMK_plain.jpg")))
        EXPECT_FALSE(m.Code >= 0xE1) << std::hex << int{m.Code};

    // The save preview's trial carries them too and stays the run's twin: upright, once.
    form_->FileListSave->SelectByUser(0);
    ExpectSamePixels(form_->PreviewSave->GetPicture().GetBitmap(), *DecodeJpeg(dir_ + "VMK_photo.jpg"));
    EXPECT_EQ(DecodeJpeg(dir_ + "VMK_photo.jpg")->Width(), 12);
}

TEST_F(PhotoTest, ThirtyTwoBitResultHasNoHoleWhereTheCoverLies) {
    NEED_MAGICK();
    Pic cover = MakeCover(5, 3, kTrans, {RGBColor(0, 255, 0), RGBColor(0, 0, 255)});
    WriteCover(*cover);
    Place(form_->RB);
    const auto translucent = [](int x, int) { return uint8_t(x == 0 ? 128 : 255); };
    const auto unused = [](int, int) { return uint8_t(0); };
    struct Case { const char* name; bool v5; std::function<uint8_t(int, int)> alpha; bool hasAlpha; } cases[] = {
        {"v5", true, translucent, true}, {"plain", false, translucent, true}, {"opaque", false, unused, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir_ + c.name + ".bmp", Bmp32(c.v5, c.alpha));
        FilePaths().Clear();
        AddSource(dir_ + c.name + ".bmp");
        RunProcess();
        ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
        const std::string result = dir_ + "VMK_" + c.name + ".bmp";
        Pic expected = Expected(*LoadBmp(dir_ + c.name + ".bmp"), *cover, 3, 3, true, kTrans);
        const auto rgba = MagickPixels(result, "", "rgba");
        ASSERT_EQ(rgba.size(), 8u * 6 * 4);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                const uint8_t* p = &rgba[static_cast<size_t>(4 * (y * 8 + x))];
                const bool drawn = x >= 3 && y >= 3 && cover->GetPixelColor(x - 3, y - 3) != kTrans;
                EXPECT_EQ(RGBColor(p[0], p[1], p[2]), expected->GetPixelColor(x, y)) << x << "," << y;
                EXPECT_EQ(p[3], drawn || !c.hasAlpha ? 255 : c.alpha(x, y)) << x << "," << y;
            }
    }
}

}  // namespace
