#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "imaging/Graphics.h"

using namespace vmk;

// Conformance run over BMP Suite: good files load and match their reference,
// questionable ones match a reference or are refused cleanly, bad ones are
// refused (or read tolerantly) without crashing.
namespace {

const std::string kSuite = std::string(VMK_TESTDATA) + "/bmpsuite/";

struct Entry {
    std::string file;
    std::vector<std::string> references;
};

std::vector<Entry> ReadReferenceList() {
    std::vector<Entry> out;
    std::ifstream in(kSuite + "reference.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        Entry e;
        words >> e.file;
        for (std::string r; words >> r;)
            if (r != "-") e.references.push_back(r);
        out.push_back(e);
    }
    return out;
}

// Empty when the bitmap matches the picture, else where it first differs.
// Colour only: where the reference is fully transparent it holds no colour. A
// tolerance of one step serves files whose channels are wider than 8 bits.
std::string Difference(const TBitmap& b, const std::string& pngPath, int tolerance) {
    QImage ref(QString::fromStdString(pngPath));
    if (ref.isNull()) return "cannot read " + pngPath;
    ref = ref.convertToFormat(QImage::Format_ARGB32);  // not premultiplied: colour kept under alpha 0
    if (ref.width() != b.Width() || ref.height() != b.Height())
        return "size " + std::to_string(b.Width()) + "x" + std::to_string(b.Height()) + " vs " +
               std::to_string(ref.width()) + "x" + std::to_string(ref.height());
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x) {
            const QRgb p = ref.pixel(x, y);
            if (qAlpha(p) == 0) continue;
            const TColor want = RGBColor(static_cast<uint8_t>(qRed(p)), static_cast<uint8_t>(qGreen(p)),
                                         static_cast<uint8_t>(qBlue(p)));
            const TColor got = b.GetPixelColor(x, y);
            if (std::abs(GetRValue(got) - GetRValue(want)) > tolerance ||
                std::abs(GetGValue(got) - GetGValue(want)) > tolerance ||
                std::abs(GetBValue(got) - GetBValue(want)) > tolerance) {
                std::ostringstream s;
                s << "pixel " << x << "," << y << ": got " << std::hex << got << " want " << want;
                return s.str();
            }
        }
    return "";
}

}  // namespace

TEST(BmpSuite, EveryFileLoadsAsListedOrIsRefusedCleanly) {
    const auto entries = ReadReferenceList();
    ASSERT_GT(entries.size(), 80u);
    int good = 0;
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.file);
        const char kind = e.file[0];
        TBitmap b;
        try {
            b.LoadFromFile(kSuite + e.file);
        } catch (const EInvalidGraphic& ex) {
            EXPECT_NE(kind, 'g') << "refused: " << ex.what();
            EXPECT_GT(std::string(ex.what()).size(), 10u);
            continue;
        }
        if (e.references.empty()) continue;  // tolerated bad file: loading without harm is enough
        std::string why;
        bool matched = false;
        for (const std::string& r : e.references) {
            const std::string d = Difference(b, kSuite + r, kind == 'g' ? 0 : 1);
            if (d.empty()) {
                matched = true;
                break;
            }
            why.append(r).append(": ").append(d).append("; ");
        }
        // A bad file read tolerantly need not match; everything else must, except
        // the one whose colours only come right through its embedded colour
        // profile: profiles are ignored, as most readers do.
        if (kind != 'b' && e.file != "q/rgb24prof2.bmp") {
            EXPECT_TRUE(matched) << why;
        }
        if (kind == 'g' && matched) ++good;
    }
    EXPECT_EQ(good, 27);
}

TEST(BmpSuite, ReportsWhatIsWrong) {
    struct Case {
        const char* file;
        const char* message;
    } cases[] = {
        {"b/badbitcount.bmp", "Invalid bitmap: bit count 30000 is not a bitmap depth"},
        {"b/badplanes.bmp", "Invalid bitmap: it has 30000 colour planes, not 1"},
        {"b/badwidth.bmp", "Invalid bitmap: negative width -127"},
        {"b/badheadersize.bmp", "Invalid bitmap: unsupported header size 66"},
        {"b/reallybig.bmp", "Bitmap of 3000000 x 2000000 pixels is too large (the limit is 268435456 pixels)"},
        {"b/rletopdown.bmp", "Invalid bitmap: a compressed bitmap cannot be stored top-down"},
        {"b/shortfile.bmp", "Invalid bitmap: the file is truncated (1024 bytes of pixels expected, 211 present)"},
        {"q/rgb24png.bmp", "Bitmaps holding PNG data are not supported"},
        {"q/rgba64.bmp", "64-bit bitmaps are not supported"},
    };
    for (const Case& c : cases) {
        TBitmap b;
        b.SetSize(2, 2);
        try {
            b.LoadFromFile(kSuite + c.file);
            ADD_FAILURE() << c.file << " loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), c.message) << c.file;
        }
        EXPECT_EQ(b.Width(), 2) << "a refused file leaves the bitmap as it was";
    }
}

TEST(BmpSuite, PickedFormatsKeepWhatTheFileHolds) {
    struct Case {
        const char* file;
        TPixelFormat format;
        size_t paletteSize;
    } cases[] = {
        {"g/pal1.bmp", TPixelFormat::pf1bit, 2},
        {"q/pal2.bmp", TPixelFormat::pf4bit, 4},
        {"g/pal4rle.bmp", TPixelFormat::pf4bit, 12},
        {"g/pal8rle.bmp", TPixelFormat::pf8bit, 252},
        {"g/pal8os2.bmp", TPixelFormat::pf8bit, 256},
        {"q/pal8os2sp.bmp", TPixelFormat::pf8bit, 252},
        {"g/rgb16.bmp", TPixelFormat::pf15bit, 0},
        {"g/rgb16-565.bmp", TPixelFormat::pf16bit, 0},
        {"q/rgb16-231.bmp", TPixelFormat::pf24bit, 0},
        {"q/rgba16-4444.bmp", TPixelFormat::pf32bit, 0},
        {"g/rgb24.bmp", TPixelFormat::pf24bit, 0},
        {"g/rgb32bf.bmp", TPixelFormat::pf32bit, 0},
        {"q/pal8oversizepal.bmp", TPixelFormat::pf8bit, 256},
    };
    for (const Case& c : cases) {
        TBitmap b;
        b.LoadFromFile(kSuite + c.file);
        EXPECT_EQ(b.GetPixelFormat(), c.format) << c.file;
        EXPECT_EQ(b.GetPalette() ? b.GetPalette()->Entries.size() : 0u, c.paletteSize) << c.file;
        EXPECT_EQ(b.GetTransparentMode(), TTransparentMode::tmAuto);
    }
}

// Cut and corrupted copies of real files: each either loads or is refused with
// our exception; the sanitizer build catches any stray read or write.
TEST(BmpSuite, DamagedFilesNeverCrash) {
    const char* files[] = {"g/pal1.bmp",      "g/pal4rle.bmp",   "g/pal8rle.bmp",      "g/pal8os2.bmp",
                           "g/rgb16-565.bmp", "q/rgba32h56.bmp", "q/pal8os2v2-16.bmp", "q/pal2.bmp"};
    int refused = 0, loaded = 0;
    for (const char* file : files) {
        TMemoryStream original;
        original.LoadFromFile(kSuite + file);
        const std::vector<uint8_t> bytes = original.Bytes();
        auto tryLoad = [&](const std::vector<uint8_t>& data) {
            TMemoryStream s;
            s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
            s.SetPosition(0);
            TBitmap b;
            try {
                b.LoadFromStream(s);
                for (int y = 0; y < b.Height(); y += 7)
                    for (int x = 0; x < b.Width(); x += 7) (void)b.GetPixelColor(x, y);
                ++loaded;
            } catch (const Exception&) {
                ++refused;
            }
        };
        for (size_t cut = 0; cut < bytes.size(); cut += cut < 80 ? 1 : 97)
            tryLoad(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        for (size_t at = 0; at < bytes.size(); at += at < 80 ? 1 : 13)
            for (uint8_t v : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
                std::vector<uint8_t> damaged = bytes;
                damaged[at] = v;
                tryLoad(damaged);
            }
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(loaded, 100);
}
