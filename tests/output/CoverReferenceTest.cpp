// The drawing step against ImageMagick: its composite with -dissolve, -gravity
// and -geometry for alpha, opacity, anchors and margins, and its Mitchell
// resize for scaled covers, on BMP, JPEG and EXIF-turned sources.

#include <sys/stat.h>

#include <cmath>

#include "compose/Compose.h"
#include "compose/CoverStamp.h"
#include "support/Cat.h"
#include "support/PictureBytes.h"
#include "support/Pictures.h"

using namespace vmk;
using namespace vmk::test;

namespace {

std::string Magick() {
    for (const char* name : {"convert-im6.q16", "convert"})
        if (std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0) return name;
    return "";
}

std::string CompositeTool(const std::string& convert) {
    return convert == "convert-im6.q16" ? "composite-im6.q16" : "composite";
}

bool Shell(const std::string& cmd) {
    const bool ok = std::system((cmd + " 2>/dev/null").c_str()) == 0;
    EXPECT_TRUE(ok) << cmd;
    return ok;
}

// The 8-bit RGB samples of a picture file as ImageMagick reads it.
std::vector<uint8_t> MagickRgb(const std::string& magick, const std::string& path, const std::string& args = "") {
    Shell(magick + " '" + path + "' " + args + " -depth 8 rgb:'" + path + ".rgb'");
    return ReadBytes(path + ".rgb");
}

struct Diff {
    int most = 0;
    double psnr = 99;
};

Diff Compare(const TBitmap& ours, const std::vector<uint8_t>& theirs) {
    Diff d;
    EXPECT_EQ(theirs.size(), static_cast<size_t>(ours.Width()) * static_cast<size_t>(ours.Height()) * 3);
    if (theirs.size() != static_cast<size_t>(ours.Width()) * static_cast<size_t>(ours.Height()) * 3) return {255, 0};
    double sum = 0;
    for (int y = 0; y < ours.Height(); ++y)
        for (int x = 0; x < ours.Width(); ++x) {
            const TColor c = ours.GetPixelColor(x, y);
            const uint8_t* r = theirs.data() + (static_cast<size_t>(y) * static_cast<size_t>(ours.Width()) + x) * 3;
            for (const auto& [a, b] : {std::pair{GetRValue(c), r[0]}, {GetGValue(c), r[1]}, {GetBValue(c), r[2]}}) {
                const int e = std::abs(a - b);
                d.most = std::max(d.most, e);
                sum += e * e;
            }
        }
    const double mse = sum / (3.0 * ours.Width() * ours.Height());
    d.psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
    return d;
}

const char* Gravity(TCoverPlace p) {
    switch (p) {
    case TCoverPlace::LT: return "NorthWest";
    case TCoverPlace::TC: return "North";
    case TCoverPlace::RT: return "NorthEast";
    case TCoverPlace::LM: return "West";
    case TCoverPlace::CC: return "Center";
    case TCoverPlace::RM: return "East";
    case TCoverPlace::LB: return "SouthWest";
    case TCoverPlace::BC: return "South";
    case TCoverPlace::RB: return "SouthEast";
    default: return "NorthWest";
    }
}

}  // namespace

TEST(CoverReference, AlphaOpacityAnchorsAndSizesMatchImageMagick) {
    const std::string magick = Magick();
    if (magick.empty()) GTEST_SKIP() << "ImageMagick missing";
    const std::string composite = CompositeTool(magick);
    std::string dir = (fs::temp_directory_path() / "vmk-reference-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir += "/";

    // Sources: a landscape BMP, a portrait JPEG and a JPEG turned upright by EXIF.
    MakeGradient(120, 80)->SaveToFile(dir + "land.bmp");
    SaveJpeg(*MakeGradient(70, 110), dir + "port.jpg", 95);
    {
        const auto plain = ReadBytes(dir + "port.jpg");
        const auto bytes = WithSegments(plain, {{0xE1, ExifPayload(6, false)}});
        std::ofstream(dir + "turned.jpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // A soft-edged logo: a disc whose alpha falls off towards its rim.
    ASSERT_TRUE(Shell(magick + " -size 31x23 radial-gradient:white-none -channel RGB -fx 'i/w' +channel " +
                      "-define png:color-type=6 '" + dir + "logo.png'"));

    struct Case {
        TCoverPlace place;
        int mx, my;
        bool percent;
        int opacity;
        TCoverSizing sizing;
    };
    const std::vector<Case> cases = {
        {TCoverPlace::LT, 0, 0, false, 100, TCoverSizing::AsIs},
        {TCoverPlace::TC, 4, 6, false, 70, TCoverSizing::AsIs},
        {TCoverPlace::RT, 5, 3, false, 50, TCoverSizing::AsIs},
        {TCoverPlace::LM, 7, 9, false, 100, TCoverSizing::AsIs},
        {TCoverPlace::CC, 3, 3, true, 35, TCoverSizing::AsIs},
        {TCoverPlace::RM, 3, 4, true, 100, TCoverSizing::AsIs},
        {TCoverPlace::LB, 2, 5, true, 80, TCoverSizing::AsIs},
        {TCoverPlace::BC, 0, 4, true, 100, TCoverSizing::AsIs},
        {TCoverPlace::RB, 3, 3, true, 50, TCoverSizing::Width},
        {TCoverPlace::BC, 0, 4, true, 70, TCoverSizing::Shorter},
        {TCoverPlace::RB, 6, 2, false, 100, TCoverSizing::Height},
    };
    for (const char* source : {"land.bmp", "port.jpg", "turned.jpg"})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(source) + " " + Gravity(c.place) + " opacity " + std::to_string(c.opacity) +
                         " sizing " + std::to_string(static_cast<int>(c.sizing)));
            TCoverSettings s;
            s.CoverFile = dir + "logo.png";
            s.Transparent = false;
            s.Place = c.place;
            s.MarginX = c.mx;
            s.MarginY = c.my;
            s.MarginPercent = c.percent;
            s.Opacity = c.opacity;
            s.Sizing = c.sizing;
            s.SizePercent = 20;
            TBitmap cover, working;
            PrepareCover(cover, s);
            LoadSource(working, dir + source);
            const int W = working.Width(), H = working.Height();
            DrawCover(working, cover, s);

            // The same in ImageMagick: its own upright picture, its resize, its
            // placement by gravity (centred axes take no offset), its dissolve.
            const TCoverSize size = ScaledCoverSize(s, W, H, cover.Width(), cover.Height());
            const int mx = c.percent ? (c.mx * W * 2 + 100) / 200 : c.mx;
            const int my = c.percent ? (c.my * H * 2 + 100) / 200 : c.my;
            const bool centreX = c.place == TCoverPlace::TC || c.place == TCoverPlace::BC || c.place == TCoverPlace::CC;
            const bool centreY = c.place == TCoverPlace::LM || c.place == TCoverPlace::RM || c.place == TCoverPlace::CC;
            std::string logo = Cat(dir, "logo.png");
            if (c.sizing != TCoverSizing::AsIs) {
                logo = Cat(dir, "scaled.png");
                Shell(Cat(magick, " '", dir, "logo.png' -filter Mitchell -resize ", std::to_string(size.Width), "x",
                          std::to_string(size.Height), "! '", logo, "'"));
            }
            const std::string upright = Cat(dir, "upright.png");
            Shell(Cat(magick, " '", dir, source, "' -define jpeg:dct-method=islow -auto-orient '", upright, "'"));
            const std::string out = dir + "reference.png";
            // ImageMagick centres at W / 2 - w / 2; the cover's rule is (W - w) / 2
            // rounded down, a pixel less when W is even and w odd.
            const auto signed_ = [](int v) { return (v < 0 ? "-" : "+") + std::to_string(std::abs(v)); };
            const int dx = centreX ? (W - size.Width) / 2 - (W / 2 - size.Width / 2) : mx;
            const int dy = centreY ? (H - size.Height) / 2 - (H / 2 - size.Height / 2) : my;
            Shell(Cat(composite, " -dissolve ", std::to_string(c.opacity), " -gravity ", Gravity(c.place),
                      " -geometry ", signed_(dx), signed_(dy), " '", logo, "' '", upright, "' '", out, "'"));
            const Diff d = Compare(working, MagickRgb(magick, out));
            if (c.sizing == TCoverSizing::AsIs)
                EXPECT_LE(d.most, 1);
            else
                EXPECT_GE(d.psnr, 40.0) << "largest difference " << d.most;
        }
    fs::remove_all(dir);
}
