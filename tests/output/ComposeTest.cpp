// The composing steps on their own: names, folders, places, formats.

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <thread>
#include <tuple>

#include "compose/Compose.h"
#include "core/FileUtils.h"
#include "core/Streams.h"
#include "core/TempFolder.h"
#include "imaging/Jpeg.h"
#include "support/PictureBytes.h"
#include "support/WindowFixture.h"

using namespace vmk;
using namespace vmk::test;

TEST(Compose, ExtensionTest) {
    for (const char* ok : {"/p/a.bmp", "/p/a.BMP", "/p/a.JPG", "/p/a.Jpeg", "/p/x.y.jpg", "a.jpeg"})
        EXPECT_TRUE(IsPicturePath(ok)) << ok;
    for (const char* ok : {"/p/a.png", "/p/a.Tif", "/p/a.tiff", "/p/a.WEBP", "/p/a.heic", "/p/a.heif", "/p/a.avif"})
        EXPECT_TRUE(IsPicturePath(ok)) << ok;
    for (const char* bad : {"/p/a.jpe", "/p/a.gif", "/p/a", "/p.jpg/a", "/p/a.bmp.txt", "/p/.bmpx", "/p/a.png.txt"})
        EXPECT_FALSE(IsPicturePath(bad)) << bad;
}

TEST(Compose, OutputFolder) {
    const std::string app = "/opt/vmk/";
    EXPECT_EQ(OutputFolder("", "/pics/a.jpg", app), "/pics/");
    EXPECT_EQ(OutputFolder("/out", "/pics/a.jpg", app), "/out/");
    EXPECT_EQ(OutputFolder("/out/", "/pics/a.jpg", app), "/out/");
    EXPECT_EQ(OutputFolder("out", "/pics/a.jpg", app), "/opt/vmk/out/");
    EXPECT_EQ(OutputFolder("out/sub/", "/pics/a.jpg", app), "/opt/vmk/out/sub/");
    // Taken exactly as typed, blanks included.
    EXPECT_EQ(OutputFolder(" out ", "/pics/a.jpg", app), "/opt/vmk/ out /");
    EXPECT_EQ(OutputFolder("/", "/pics/a.jpg", app), "/");
}

namespace {

// Sets an environment variable (null: unsets it) for one scope.
struct ScopedEnv {
    ScopedEnv(const char* n, const char* value)
        : name(n), had(std::getenv(n) != nullptr), old(had ? std::getenv(n) : "") {
        value ? setenv(n, value, 1) : unsetenv(n);
    }
    ~ScopedEnv() { had ? setenv(name, old.c_str(), 1) : unsetenv(name); }
    const char* name;
    bool had;
    std::string old;
};

}  // namespace

TEST(Compose, OutputFolderInTheHomeFolder) {
    ScopedEnv home("HOME", "/home/ann");
    const std::string base = "/opt/vmk/bin/";
    EXPECT_EQ(OutputFolder("~", "/pics/a.jpg", base), "/home/ann/");
    EXPECT_EQ(OutputFolder("~/out/sub", "/pics/a.jpg", base), "/home/ann/out/sub/");
    // Only "~" itself means home: "~bob" and a "~" further on are folder names.
    EXPECT_EQ(OutputFolder("~bob/out", "/pics/a.jpg", base), "/opt/vmk/bin/~bob/out/");
    EXPECT_EQ(OutputFolder("out/~", "/pics/a.jpg", base), "/opt/vmk/bin/out/~/");
}

TEST(Compose, FoldersOfAnInstalledCopy) {
    TempFolder temp;
    const std::string own = temp.Path();
    fs::create_directories(temp.Path("runtime"));
    fs::create_directories(temp.Path("tmp"));
    ScopedEnv home("HOME", "/home/ann");
    ScopedEnv runtime("XDG_RUNTIME_DIR", temp.Path("runtime").c_str());
    ScopedEnv tmp("TMPDIR", temp.Path("tmp").c_str());
    // A folder the program may write keeps everything, as in a build folder.
    EXPECT_EQ(RelativeOutputBase(own), own);
    EXPECT_EQ(TrialFolder(own), own);
    // One it may not (here: one that is not there) sends relative results
    // home and the trial file to the runtime folder.
    const std::string installed = own + "missing/bin/";
    EXPECT_EQ(RelativeOutputBase(installed), "/home/ann/");
    EXPECT_EQ(TrialFolder(installed), temp.Path("runtime/"));
    {
        // Unset or relative (meaningless to a program started anywhere): the next.
        ScopedEnv relativeRuntime("XDG_RUNTIME_DIR", "run");
        EXPECT_EQ(TrialFolder(installed), temp.Path("tmp/"));
        ScopedEnv noTmp("TMPDIR", nullptr);
        EXPECT_EQ(TrialFolder(installed), "/tmp/");
    }
    // A relative or empty HOME is no home either: the account's own serves.
    for (const char* relative : {"ann", "", static_cast<const char*>(nullptr)}) {
        ScopedEnv noHome("HOME", relative);
        EXPECT_EQ(RelativeOutputBase(installed), UserHomeFolder());
        EXPECT_EQ(RelativeOutputBase(installed).front(), '/');
        EXPECT_EQ(RelativeOutputBase(installed).back(), '/');
        EXPECT_EQ(OutputFolder("~/out", "/pics/a.jpg", installed), UserHomeFolder() + "out/");
    }
}

// A runtime folder that is set but cannot take the trial file (gone, not a
// folder, or not the user's to write after su) is passed over for the next.
TEST(Compose, TrialFolderPassesOverUnusableRuntimeFolders) {
    TempFolder temp;
    const std::string installed = temp.Path("missing/bin/");
    fs::create_directories(temp.Path("tmp"));
    fs::create_directories(temp.Path("readonly"));
    fs::permissions(temp.Path("readonly"), fs::perms::owner_read | fs::perms::owner_exec);
    std::ofstream(temp.Path("file")) << "not a folder";
    ScopedEnv tmp("TMPDIR", temp.Path("tmp").c_str());
    std::vector<std::string> unusable{temp.Path("gone"), temp.Path("file")};
    // Root may write any folder; another user may not write this one.
    if (geteuid() != 0) unusable.push_back(temp.Path("readonly"));
    for (const std::string& runtime : unusable) {
        SCOPED_TRACE(runtime);
        ScopedEnv set("XDG_RUNTIME_DIR", runtime.c_str());
        EXPECT_EQ(TrialFolder(installed), temp.Path("tmp/"));
        ScopedEnv badTmp("TMPDIR", runtime.c_str());
        EXPECT_EQ(TrialFolder(installed), "/tmp/");
    }
    // The whole preview works there.
    ScopedEnv gone("XDG_RUNTIME_DIR", temp.Path("gone").c_str());
    Pic picture = MakeGradient(16, 8);
    TBitmap working;
    working.Assign(*picture);
    JpegTrial(working, 50, TrialFolder(installed));
    EXPECT_GT(MeanError(working, *picture), 0.0);
    EXPECT_TRUE(Listing(temp.Path("tmp")).empty());
}

TEST(Compose, OutputFileName) {
    TOutputSettings s;
    s.FileFix = "VMK_";
    s.Prefix = true;
    s.SaveAs = TSaveAs::JPG;
    EXPECT_EQ(OutputFileName("/pics/Beach.JPG", s), "VMK_Beach.jpg");
    s.Prefix = false;
    s.SaveAs = TSaveAs::AsIs;
    EXPECT_EQ(OutputFileName("/pics/Beach.JPG", s), "BeachVMK_.JPG");
    EXPECT_EQ(OutputFileName("/pics/Photo.JPEG", s), "PhotoVMK_.JPEG");
    EXPECT_EQ(OutputFileName("/pics/x.BMP", s), "xVMK_.BMP");
    s.FileFix = "_x";
    s.SaveAs = TSaveAs::BMP;
    EXPECT_EQ(OutputFileName("/pics/Beach.jpg", s), "Beach_x.bmp");
    EXPECT_EQ(OutputFileName("/pics/a.b.jpg", s), "a.b_x.bmp");
    EXPECT_EQ(OutputFileName("/pics/noext", s), "noext_x.bmp");
    s.FileFix = "";
    s.Prefix = true;
    EXPECT_EQ(OutputFileName("/pics/Beach.jpg", s), "Beach.bmp");
    s.SaveAs = TSaveAs::PNG;
    EXPECT_EQ(OutputFileName("/pics/Beach.heic", s), "Beach.png");
    s.SaveAs = TSaveAs::WEBP;
    EXPECT_EQ(OutputFileName("/pics/Beach.jpg", s), "Beach.webp");
    s.SaveAs = TSaveAs::TIFF;
    EXPECT_EQ(OutputFileName("/pics/Beach.png", s), "Beach.tif");
    s.SaveAs = TSaveAs::AsIs;
    EXPECT_EQ(OutputFileName("/pics/Phone.HEIC", s), "Phone.HEIC");
}

TEST(Compose, LossyTrialsShowTheLossesOfTheirFormat) {
    Pic picture = MakeGradient(40, 30);
    for (TWriteFormat format : {TWriteFormat::WebP, TWriteFormat::Heic, TWriteFormat::Avif}) {
        TBitmap working;
        working.Assign(*picture);
        ResultTrial(working, format, 20);
        ASSERT_EQ(working.Width(), 40);
        const double error = MeanError(working, *picture);
        EXPECT_GT(error, 0.0);  // at quality 20 something is lost
        EXPECT_LT(error, 12.0);
    }
    TBitmap working;
    working.Assign(*picture);
    ResultTrial(working, TWriteFormat::Tiff, 20);  // lossless: the very pixels
    ExpectSamePixels(working, *picture);
    EXPECT_THROW(ResultTrial(working, TWriteFormat::Bmp, 20), EInvalidGraphicOperation);
}

TEST(Compose, WriteFormatForEachChoiceAndSource) {
    EXPECT_EQ(WriteFormatFor(TSaveAs::PNG, "/p/a.jpg"), TWriteFormat::Png);
    EXPECT_EQ(WriteFormatFor(TSaveAs::WEBP, "/p/a.bmp"), TWriteFormat::WebP);
    EXPECT_EQ(WriteFormatFor(TSaveAs::TIFF, "/p/a.heic"), TWriteFormat::Tiff);
    EXPECT_EQ(WriteFormatFor(TSaveAs::JPG, "/p/a.png"), TWriteFormat::Jpeg);
    // As it is: the source's own format, by its extension in any case.
    EXPECT_EQ(WriteFormatFor(TSaveAs::AsIs, "/p/a.PNG"), TWriteFormat::Png);
    EXPECT_EQ(WriteFormatFor(TSaveAs::AsIs, "/p/a.tiff"), TWriteFormat::Tiff);
    EXPECT_EQ(WriteFormatFor(TSaveAs::AsIs, "/p/a.Tif"), TWriteFormat::Tiff);
    EXPECT_EQ(WriteFormatFor(TSaveAs::AsIs, "/p/a.heif"), TWriteFormat::Heic);
    EXPECT_EQ(WriteFormatFor(TSaveAs::AsIs, "/p/a.avif"), TWriteFormat::Avif);
    EXPECT_EQ(WriteFormatFor(TSaveAs::AsIs, "/p/a.jpeg"), TWriteFormat::Jpeg);
    // A WebP that cannot be read says lossy: the quality then applies.
    EXPECT_EQ(WriteFormatFor(TSaveAs::AsIs, "/nowhere/a.webp"), TWriteFormat::WebP);
    EXPECT_TRUE(IsLossyFormat(TWriteFormat::Heic));
    EXPECT_FALSE(IsLossyFormat(TWriteFormat::WebPLossless));
    EXPECT_FALSE(IsLossyFormat(TWriteFormat::Tiff));
}

TEST(Compose, CoverPlacement) {
    TCoverSettings s;
    const auto at = [&](TCoverPlace place, int W, int H, int w, int h) {
        s.Place = place;
        return CoverPlacement(s, W, H, w, h);
    };
    EXPECT_EQ(at(TCoverPlace::None, 100, 80, 10, 20), (TCoverPosition{0, 0}));
    EXPECT_EQ(at(TCoverPlace::LT, 100, 80, 10, 20), (TCoverPosition{0, 0}));
    EXPECT_EQ(at(TCoverPlace::LB, 100, 80, 10, 20), (TCoverPosition{0, 60}));
    EXPECT_EQ(at(TCoverPlace::RT, 100, 80, 10, 20), (TCoverPosition{90, 0}));
    EXPECT_EQ(at(TCoverPlace::RB, 100, 80, 10, 20), (TCoverPosition{90, 60}));
    // A cover larger than the picture: its bottom-right corner stays on the picture's.
    EXPECT_EQ(at(TCoverPlace::RB, 10, 5, 30, 12), (TCoverPosition{-20, -7}));
    EXPECT_EQ(at(TCoverPlace::RB, 0, 0, 1 << 28, 1), (TCoverPosition{-(1 << 28), -1}));
    s.Left = -2147483647 - 1;
    s.Top = 2147483647;
    EXPECT_EQ(at(TCoverPlace::Other, 10, 10, 3, 3), (TCoverPosition{-2147483647 - 1, 2147483647}));
}

TEST(Compose, JpegQualityStaysInOneByteRange) {
    EXPECT_EQ(JpegQuality(85), 85);
    EXPECT_EQ(JpegQuality(0), 1);
    EXPECT_EQ(JpegQuality(-5), 1);
    EXPECT_EQ(JpegQuality(300), 100);  // not 300 mod 256
}

TEST(Compose, TrialFileNameSkipsTakenNames) {
    const TempFolder temp;
    const std::string dir = temp.Path();
    TMemoryStream bytes;
    bytes.WriteBuffer("jpeg", 4);
    EXPECT_EQ(WriteTrialFile(dir, bytes), dir + "Test0.jpg");
    EXPECT_EQ(ReadBytes(dir + "Test0.jpg"), (std::vector<uint8_t>{'j', 'p', 'e', 'g'}));
    fs::create_directory(dir + "Test1.jpg");
    EXPECT_EQ(WriteTrialFile(dir, bytes), dir + "Test2.jpg");
}

// The trial file is deleted after use: it never takes the name of an entry of the
// user's, a dangling link or a pipe included, nor one another trial has just made.
TEST(Compose, TrialNameSkipsEveryEntry) {
    const TempFolder temp;
    const std::string dir = temp.Path();
    fs::create_symlink(dir + "nowhere.jpg", dir + "Test0.jpg");
    ASSERT_EQ(mkfifo((dir + "Test1.jpg").c_str(), 0600), 0);
    TMemoryStream bytes;
    EXPECT_EQ(WriteTrialFile(dir, bytes), dir + "Test2.jpg");
    EXPECT_FALSE(fs::exists(dir + "nowhere.jpg"));

    // Previews in several programs at once: each gets a file of its own.
    std::vector<std::string> made(8);
    std::vector<std::thread> trials;
    trials.reserve(made.size());
    for (auto& path : made) trials.emplace_back([&] { path = WriteTrialFile(dir, bytes); });
    for (auto& t : trials) t.join();
    std::sort(made.begin(), made.end());
    EXPECT_EQ(std::adjacent_find(made.begin(), made.end()), made.end());
}

// A trial that cannot write its file fails and leaves the picture as it was.
TEST(Compose, TrialInAFolderThatCannotBeWritten) {
    const TempFolder temp;
    const std::string dir = temp.Path();
    std::ofstream(dir + "blocker") << "a file in the way";
    Pic picture = MakeGradient(16, 8);
    TBitmap working;
    working.Assign(*picture);
    EXPECT_THROW(JpegTrial(working, 50, dir + "blocker/"), Exception);
    ExpectSamePixels(working, *picture);
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"blocker"});

    JpegTrial(working, 50, dir);
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"blocker"});
    EXPECT_EQ(ReadBytes(dir + "blocker").size(), 17u);
    EXPECT_GT(MeanError(working, *picture), 0.0);
}

// JPEG holds no alpha: see-through pixels are laid on white in the result and
// in its trial alike; formats that hold alpha keep it.
TEST(Compose, AJpegResultLaysASeeThroughPictureOnWhite) {
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf32bit);
    picture.SetAlphaChannel(true);
    picture.SetSize(16, 16);
    for (int y = 0; y < 16; ++y) {
        uint8_t* row = picture.GetScanline(y);
        for (int x = 0; x < 16; ++x) {
            uint8_t* p = row + x * 4;  // B, G, R, A: clear black left, half red right
            const bool left = x < 8;
            p[0] = 0, p[1] = 0, p[2] = left ? 0 : 255, p[3] = left ? 0 : 128;
        }
    }
    const auto near = [](const TBitmap& b, int x, int y, int blue, int green, int red) {
        const uint8_t* p = b.GetScanline(y) + x * (b.GetPixelFormat() == TPixelFormat::pf32bit ? 4 : 3);
        return std::abs(p[0] - blue) <= 6 && std::abs(p[1] - green) <= 6 && std::abs(p[2] - red) <= 6;
    };
    TMemoryStream bytes;
    EncodeResult(picture, bytes, TWriteFormat::Jpeg, 95, {});
    bytes.SetPosition(0);
    TJPEGImage result;
    result.LoadFromStream(bytes);
    TBitmap shown;
    shown.Assign(result);
    EXPECT_TRUE(near(shown, 2, 8, 255, 255, 255));   // white, not the hidden black
    EXPECT_TRUE(near(shown, 13, 8, 127, 127, 255));  // red at half over white
    const TempFolder temp;
    TBitmap trial;
    trial.Assign(picture);
    JpegTrial(trial, 95, temp.Path());
    EXPECT_TRUE(near(trial, 2, 8, 255, 255, 255));
    EXPECT_TRUE(near(trial, 13, 8, 127, 127, 255));
    // The picture itself keeps its alpha for the formats that hold it.
    EXPECT_TRUE(picture.GetAlphaChannel());
    EXPECT_EQ(picture.GetScanline(8)[3], 0);
}

// Offsets at the ends of the integer range draw nothing and touch nothing else.
TEST(Compose, ExtremeOffsetsDrawNothing) {
    Pic picture = MakeGradient(12, 9);
    Pic cover = MakeCover(5, 4, clBlack, {clWhite});
    TCoverSettings s;
    s.Place = TCoverPlace::Other;
    for (int left : {INT32_MIN, -5, 12, INT32_MAX - 2})
        for (int top : {INT32_MIN, 9, INT32_MAX}) {
            s.Left = left;
            s.Top = top;
            TBitmap working;
            working.Assign(*picture);
            DrawCover(working, *cover, s);
            ExpectSamePixels(working, *picture);
        }
}

// A JPEG result made a band of rows at a time is the one the working bitmap
// gives, wherever the cover lies across the bands, whatever the source.
TEST(Compose, JpegResultInBandsIsTheWholePicturesResult) {
    const TempFolder temp;
    const std::string dir = temp.Path();
    Pic photo = MakeGradient(53, 70);
    SaveJpeg(*photo, dir + "photo.jpg", 92);
    std::ofstream(dir + "turned.jpg", std::ios::binary) << [&] {
        const auto plain = ReadBytes(dir + "photo.jpg");
        const auto bytes = WithSegments(plain, {{0xE1, ExifPayload(6, false)}});
        return std::string(bytes.begin(), bytes.end());
    }();
    Pic gray = MakeGradient(20, 30);
    {
        TJPEGImage writer;
        writer.Assign(*gray);
        writer.SetGrayOnly(true);
        writer.SaveToFile(dir + "gray.jpg");
    }
    photo->SaveToFile(dir + "photo.bmp");
    Pic cover = MakeCover(9, 21, RGBColor(255, 0, 255), {RGBColor(0, 255, 0), RGBColor(0, 0, 255)});

    const auto whole = [&](const std::string& source, const TCoverSettings& s) {
        TBitmap working;
        TJPEGMarkers markers;
        LoadSource(working, source, markers);
        DrawCover(working, *cover, s);
        TMemoryStream out;
        EncodeResult(working, out, TWriteFormat::Jpeg, 60, markers);
        return out.Bytes();
    };
    for (const char* name : {"photo.jpg", "turned.jpg", "gray.jpg", "photo.bmp"})
        for (const auto& [place, left, top] :
             std::vector<std::tuple<TCoverPlace, int, int>>{{TCoverPlace::LT, 0, 0},
                                                            {TCoverPlace::RB, 0, 0},
                                                            {TCoverPlace::None, 0, 0},
                                                            {TCoverPlace::Other, 5, 13},  // across the first band's end
                                                            {TCoverPlace::Other, 30, 60},  // past the bottom
                                                            {TCoverPlace::Other, -4, -7},
                                                            {TCoverPlace::Other, 1000, 1000},
                                                            {TCoverPlace::Other, 3, INT32_MIN},
                                                            {TCoverPlace::Other, 3, INT32_MAX}})
            for (const bool transparent : {true, false}) {
                SCOPED_TRACE(std::string(name) + " at " + std::to_string(left) + ", " + std::to_string(top));
                TCoverSettings s;
                s.Place = place;
                s.Left = left;
                s.Top = top;
                s.Transparent = transparent;
                ApplyCoverTransparency(*cover, s);
                TBitmap working;
                working.Assign(*photo);  // a previous picture, which goes
                TMemoryStream out;
                ComposeJpegResult(working, dir + name, *cover, s, 60, out);
                EXPECT_TRUE(out.Bytes() == whole(dir + name, s));
                EXPECT_TRUE(working.GetEmpty());
            }
}
