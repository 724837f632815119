// The batch run through the real main window: what it writes, where, in which
// format, and how it ends when something fails.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "compose/Compose.h"
#include "support/FileSizeLimit.h"
#include "support/WindowFixture.h"

using namespace vmk;
using namespace vmk::test;

namespace {

const TColor kTrans = RGBColor(255, 0, 0);

struct DepthCase {
    TPixelFormat format;
    std::vector<TColor> colours;  // the picture's palette and colours
    std::vector<TColor> ink;      // the cover's visible colours, all held by the palette
};

class RunDepth : public OutputTest, public ::testing::WithParamInterface<DepthCase> {};

// Sets the immutable flag, which even root cannot write past; false when the
// file system or our rights do not allow it.
bool SetImmutable(const std::string& path, bool on) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

}  // namespace

// Every held depth is written back in its own format, pixel for pixel as composed.
TEST_P(RunDepth, BmpResultIsTheComposition) {
    const DepthCase& c = GetParam();
    Pic source = MakePicture(c.format, 23, 17, c.colours, 1);
    source->SaveToFile(dir_ + "pic.bmp");
    Pic cover = MakeCover(9, 6, kTrans, c.ink);
    WriteCover(*cover);
    AddSource(dir_ + "pic.bmp");
    Place(form_->RB);

    RunProcess();

    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    const Pic result = LoadBmp(dir_ + "VMK_pic.bmp");
    EXPECT_EQ(result->GetPixelFormat(), c.format);
    ExpectSamePixels(*result, *Expected(*source, *cover, 23 - 9, 17 - 6, true, kTrans));
}

INSTANTIATE_TEST_SUITE_P(
    Depths, RunDepth,
    ::testing::Values(DepthCase{TPixelFormat::pf1bit, {clBlack, clWhite}, {clBlack, clWhite}},
                      DepthCase{TPixelFormat::pf4bit,
                                {clBlack, clWhite, RGBColor(0, 128, 0), RGBColor(0, 0, 255), RGBColor(128, 128, 0)},
                                {RGBColor(0, 0, 255), clWhite}},
                      DepthCase{TPixelFormat::pf8bit,
                                {clBlack, clWhite, RGBColor(10, 20, 30), RGBColor(40, 50, 60), RGBColor(0, 200, 100)},
                                {RGBColor(40, 50, 60), RGBColor(0, 200, 100)}},
                      DepthCase{TPixelFormat::pf24bit,
                                {RGBColor(1, 2, 3), RGBColor(250, 128, 7), clWhite},
                                {RGBColor(9, 99, 199), RGBColor(77, 0, 0)}},
                      DepthCase{TPixelFormat::pf32bit,
                                {RGBColor(1, 2, 3), RGBColor(250, 128, 7), clWhite},
                                {RGBColor(9, 99, 199), RGBColor(77, 0, 0)}}),
    [](const ::testing::TestParamInfo<DepthCase>& param) {
        return std::to_string(BitsPerPixel(param.param.format)) + "bit";
    });

// Each placement, offsets out of the picture and covers larger than it included.
TEST_F(OutputTest, PlacementsAndTransparency) {
    const std::vector<TColor> colours = {RGBColor(1, 2, 3), RGBColor(100, 110, 120), clWhite};
    Pic source = MakePicture(TPixelFormat::pf24bit, 20, 12, colours);
    source->SaveToFile(dir_ + "pic.bmp");
    AddSource(dir_ + "pic.bmp");
    struct Case {
        TRadioButton* button;
        int left, top;
        int coverW, coverH;
        int x, y;
        bool transparent;
    } cases[] = {
        {form_->LT, 0, 0, 7, 5, 0, 0, true},
        {form_->LB, 0, 0, 7, 5, 0, 7, true},
        {form_->RT, 0, 0, 7, 5, 13, 0, true},
        {form_->RB, 0, 0, 7, 5, 13, 7, true},
        {form_->RB, 0, 0, 31, 17, -11, -5, true},  // larger than the picture
        {form_->OtherPos, -3, 4, 7, 5, -3, 4, true},
        {form_->OtherPos, 20, 12, 7, 5, 20, 12, true},  // beyond it: nothing shows
        {form_->OtherPos, 5, 3, 7, 5, 5, 3, false},     // a full rectangle, see-through colour too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button->GetName() + " " + std::to_string(c.coverW));
        Pic cover = MakeCover(c.coverW, c.coverH, kTrans, {RGBColor(0, 255, 0), RGBColor(0, 0, 255)});
        WriteCover(*cover);
        Place(c.button, c.left, c.top);
        form_->CoverTransparent->SetChecked(c.transparent);
        RunProcess();
        // A cover that lands nowhere is still written, and named at the end.
        const bool outside = c.x >= 20 || c.y >= 12;
        EXPECT_EQ(TakeBoxes(),
                  std::vector<std::string>{outside ? kDone +
                                                         "\n1 picture shows none of the cover: it lies "
                                                         "wholly outside.\n" +
                                                         dir_ + "pic.bmp: the cover lies wholly outside the picture"
                                                   : kDone});
        ExpectSamePixels(*LoadBmp(dir_ + "VMK_pic.bmp"), *Expected(*source, *cover, c.x, c.y, c.transparent, kTrans));
    }
}

TEST_F(OutputTest, FixedTransparentColour) {
    Pic source = MakePicture(TPixelFormat::pf24bit, 10, 10, {clBlack, clWhite});
    source->SaveToFile(dir_ + "pic.bmp");
    AddSource(dir_ + "pic.bmp");
    const TColor fixed = RGBColor(0, 0, 255);
    // Bottom-left is kTrans, which must now be drawn; the fixed colour is skipped.
    Pic cover = MakeCover(6, 6, kTrans, {fixed, RGBColor(0, 255, 0)});
    WriteCover(*cover);
    form_->AutoDetTrans->SetChecked(false);
    form_->TransColor->SetBrushColor(fixed);
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    ExpectSamePixels(*LoadBmp(dir_ + "VMK_pic.bmp"), *Expected(*source, *cover, 0, 0, true, fixed));
}

// JPEG in and out: the names follow the format, and a JPEG result is exactly
// what the writer makes of the composition at the chosen quality.
TEST_F(OutputTest, FormatsAndNames) {
    Pic gradient = MakeGradient(40, 24);
    SaveJpeg(*gradient, dir_ + "photo.JPEG", 90);
    gradient->SaveToFile(dir_ + "x.BMP");
    AddSource(dir_ + "photo.JPEG");
    AddSource(dir_ + "x.BMP");
    Pic cover = MakeCover(8, 8, kTrans, {RGBColor(0, 0, 0), RGBColor(255, 255, 255)});
    WriteCover(*cover);
    Place(form_->RT);
    const Pic decoded = DecodeJpeg(dir_ + "photo.JPEG");
    Pic fromJpeg = Expected(*decoded, *cover, 32, 0, true, kTrans);
    Pic fromBmp = Expected(*gradient, *cover, 32, 0, true, kTrans);

    // BMP: a JPEG source becomes a ".bmp" BMP file in the format decoding gave.
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    ExpectSamePixels(*LoadBmp(dir_ + "VMK_photo.bmp"), *fromJpeg);
    EXPECT_EQ(LoadBmp(dir_ + "VMK_photo.bmp")->GetPixelFormat(), decoded->GetPixelFormat());

    // JPG at two qualities: a BMP source becomes a ".jpg" JPEG file.
    form_->JPG->SetChecked(true);
    for (int quality : {20, 95}) {
        form_->JPGQuality->SetValue(quality);
        RunProcess();
        EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
        EXPECT_EQ(ReadBytes(dir_ + "VMK_x.jpg"), EncodeJpeg(*fromBmp, quality)) << quality;
        EXPECT_EQ(ReadBytes(dir_ + "VMK_photo.jpg"), EncodeJpeg(*fromJpeg, quality)) << quality;
    }
    EXPECT_LT(MeanError(*DecodeJpeg(dir_ + "VMK_x.jpg"), *fromBmp), 4.0);

    // AsIs with a suffix: each result keeps its source's format and extension, case included.
    form_->AsIs->SetChecked(true);
    form_->Suffix->SetChecked(true);
    form_->FileFix->SetText("_x");
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    EXPECT_EQ(ReadBytes(dir_ + "photo_x.JPEG"), EncodeJpeg(*fromJpeg, 95));
    ExpectSamePixels(*LoadBmp(dir_ + "x_x.BMP"), *fromBmp);
}

TEST_F(OutputTest, OutputFolderForms) {
    Pic source = MakePicture(TPixelFormat::pf24bit, 4, 4, {clBlack, clWhite});
    source->SaveToFile(dir_ + "a.b.bmp");
    AddSource(dir_ + "a.b.bmp");
    Pic cover = MakeCover(2, 2, kTrans, {clBlack});
    WriteCover(*cover);
    form_->FileFix->SetText("");

    form_->Path->SetText(dir_ + "out/deeper");  // missing folders are made, "/" added
    RunProcess();
    form_->Path->SetText(dir_ + "out2/");
    RunProcess();
    // Relative: inside the program's own folder.
    const std::string relative = "vmk-run-test-" + std::to_string(getpid());
    form_->Path->SetText(relative + "/sub");
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>(3, kDone));
    EXPECT_TRUE(FileExists(dir_ + "out/deeper/a.b.bmp"));
    EXPECT_TRUE(FileExists(dir_ + "out2/a.b.bmp"));
    EXPECT_TRUE(FileExists(ApplicationFolder() + relative + "/sub/a.b.bmp"));
    fs::remove_all(ApplicationFolder() + relative);
}

TEST_F(OutputTest, FolderDialogResultEndsInSlash) {
    modal_->QueuePaths("SaveLocDlg", {"/home/me/out"});
    form_->Button1->Click();
    EXPECT_EQ(form_->Path->GetText(), "/home/me/out/");
    modal_->QueueCancel("SaveLocDlg");
    form_->Button1->Click();
    EXPECT_EQ(form_->Path->GetText(), "/home/me/out/");
}

// A bad extension is reported and passed over; the run goes on.
TEST_F(OutputTest, InvalidExtensionIsSkipped) {
    Pic gradient = MakeGradient(16, 16);
    SaveJpeg(*gradient, dir_ + "b.jpg");
    std::ofstream(dir_ + "a.gif") << "not a picture";
    AddSource(dir_ + "a.gif");
    AddSource(dir_ + "b.jpg");
    Pic cover = MakeCover(2, 2, kTrans, {clBlack});
    WriteCover(*cover);
    RunProcess();
    // Told as it comes, and again at the end, which no longer says all were saved.
    EXPECT_EQ(TakeBoxes(),
              (std::vector<std::string>{"message: Error with file " + dir_ + "a.gif: Invalid file extension",
                                        "message: Operation done! 1 of 2 files have been saved.\n1 refused.\n" + dir_ +
                                            "a.gif: Invalid file extension"}));
    EXPECT_TRUE(FileExists(dir_ + "VMK_b.bmp"));
    EXPECT_FALSE(FileExists(dir_ + "VMK_a.bmp"));
    EXPECT_FALSE(form_->Label8->GetVisible());
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

// A fix text holding a path would put every result outside the chosen folder:
// the run refuses it before anything is made or written.
TEST_F(OutputTest, NameFixHoldingAPathIsRefused) {
    Pic picture = MakePicture(TPixelFormat::pf24bit, 6, 4, {clWhite}, 1);
    picture->SaveToFile(dir_ + "a.bmp");
    AddSource(dir_ + "a.bmp");
    WriteCover(*MakeCover(2, 2, kTrans, {clBlack}));
    for (const std::string fix : {"../escaped_", "sub/x_", "/"}) {
        SCOPED_TRACE(fix);
        form_->Path->SetText(dir_ + "out/inner");
        form_->FileFix->SetText(fix);
        const auto before = Listing(dir_);
        RunProcess();
        EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"error: The name fix \"" + fix +
                                                        "\" cannot be used: a file name cannot hold \"/\""});
        EXPECT_EQ(Listing(dir_), before);
        EXPECT_FALSE(DirectoryExists(dir_ + "out"));
    }
    form_->FileFix->SetText("x_");  // the check is on the fix alone, not the folder
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    EXPECT_TRUE(FileExists(dir_ + "out/inner/x_a.bmp"));
}

// A picture of no columns or no rows has no JPEG form: the run names the file
// and stops, and a file already there under the result's name stays as it was.
TEST_F(OutputTest, EmptyPictureIsNoJpegResult) {
    for (const auto& [w, h] : {std::pair{0, 5}, std::pair{5, 0}}) {
        TBitmap empty;
        empty.SetPixelFormat(TPixelFormat::pf24bit);
        empty.SetSize(w, h);
        const std::string name = "e" + std::to_string(w) + std::to_string(h);
        empty.SaveToFile(dir_ + name + ".bmp");
        std::ofstream(dir_ + "VMK_" + name + ".jpg") << "earlier result";
        FilePaths().Clear();
        form_->FilesList->GetItems().Clear();
        form_->FileListSave->GetItems().Clear();
        AddSource(dir_ + name + ".bmp");
        WriteCover(*MakeCover(2, 2, kTrans, {clBlack}));
        form_->JPG->SetChecked(true);
        RunProcess();
        EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"error: Error with file " + dir_ + name +
                                                        ".bmp: JPEG image cannot be empty: " + std::to_string(w) +
                                                        " x " + std::to_string(h) + " pixels"});
        const std::vector<uint8_t> kept = ReadBytes(dir_ + "VMK_" + name + ".jpg");
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "earlier result");
    }
}

// "Please Wait..." and the hourglass while the run works, gone for the closing message.
TEST_F(OutputTest, BusyWhileRunning) {
    std::ofstream(dir_ + "a.txt") << "x";
    AddSource(dir_ + "a.txt");
    Pic cover = MakeCover(2, 2, kTrans, {clBlack});
    WriteCover(*cover);
    std::vector<bool> busy;
    modal_->OnBox = [&](const TScriptedModal::Box&) {
        busy.push_back(form_->Label8->GetVisible() && Screen->GetCursor() == crHourGlass);
    };
    RunProcess();
    EXPECT_EQ(busy, (std::vector<bool>{true, false}));
}

TEST_F(OutputTest, EmptyListOnlySaysDone) {
    Pic cover = MakeCover(2, 2, kTrans, {clBlack});
    WriteCover(*cover);
    const auto before = Listing(dir_);
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    EXPECT_EQ(Listing(dir_), before);
}

TEST_F(OutputTest, CoverRemovedAfterThePageWasShown) {
    Pic source = MakePicture(TPixelFormat::pf24bit, 4, 4, {clBlack, clWhite});
    source->SaveToFile(dir_ + "a.bmp");
    AddSource(dir_ + "a.bmp");
    Pic cover = MakeCover(2, 2, kTrans, {clBlack});
    const std::string coverPath = WriteCover(*cover);
    form_->Tabs->SetPageIndex(3);
    ASSERT_TRUE(form_->Process->GetEnabled());
    fs::remove(coverPath);
    const auto before = Listing(dir_);
    RunProcess();
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("error: ", 0), 0u);
    EXPECT_NE(boxes[0].find(coverPath), std::string::npos) << boxes[0];
    EXPECT_EQ(Listing(dir_), before);
    EXPECT_FALSE(form_->Label8->GetVisible());
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

// A write that fails ends the run there: earlier results stay, later entries
// are not touched, every source is as it was, and no half file is left.
TEST_F(OutputTest, FailingWriteEndsTheRun) {
    for (const char* name : {"a", "b", "c"}) {
        Pic source = MakePicture(TPixelFormat::pf8bit, 6, 5, {clBlack, clWhite, RGBColor(9, 9, 9)});
        source->SaveToFile(dir_ + name + ".bmp");
        AddSource(dir_ + name + ".bmp");
    }
    Pic cover = MakeCover(2, 2, kTrans, {clWhite});
    WriteCover(*cover);
    fs::create_directories(dir_ + "out/VMK_b.bmp");  // a folder where b's result should go
    form_->Path->SetText(dir_ + "out");
    std::vector<std::vector<uint8_t>> before;
    for (const char* name : {"a", "b", "c"}) before.push_back(ReadBytes(dir_ + name + ".bmp"));

    RunProcess();

    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("error: ", 0), 0u) << boxes[0];
    EXPECT_EQ(Listing(dir_ + "out"), (std::vector<std::string>{"VMK_a.bmp", "VMK_b.bmp"}));
    EXPECT_TRUE(FileExists(dir_ + "out/VMK_a.bmp"));
    int i = 0;
    for (const char* name : {"a", "b", "c"}) EXPECT_EQ(ReadBytes(dir_ + name + ".bmp"), before[i++]) << name;
    EXPECT_FALSE(form_->Label8->GetVisible());
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

TEST_F(OutputTest, OutputFolderThatCannotBeMade) {
    Pic source = MakePicture(TPixelFormat::pf24bit, 4, 4, {clBlack, clWhite});
    source->SaveToFile(dir_ + "a.bmp");
    AddSource(dir_ + "a.bmp");
    Pic cover = MakeCover(2, 2, kTrans, {clBlack});
    WriteCover(*cover);
    std::ofstream(dir_ + "blocker") << "a file in the way";
    form_->Path->SetText(dir_ + "blocker/out");
    const auto before = Listing(dir_);
    RunProcess();
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("error: ", 0), 0u) << boxes[0];
    EXPECT_EQ(Listing(dir_), before);
}

TEST_F(OutputTest, DamagedSourceEndsTheRun) {
    Pic good = MakePicture(TPixelFormat::pf24bit, 4, 4, {clBlack, clWhite});
    good->SaveToFile(dir_ + "a.bmp");
    auto bytes = ReadBytes(dir_ + "a.bmp");
    bytes.resize(30);
    std::ofstream(dir_ + "b.jpg", std::ios::binary).write("\xFF\xD8\xFF\xE0garbage", 11);
    std::ofstream(dir_ + "c.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 30);
    for (const char* name : {"a.bmp", "b.jpg", "c.bmp"}) AddSource(dir_ + name);
    Pic cover = MakeCover(2, 2, kTrans, {clBlack});
    WriteCover(*cover);
    RunProcess();
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("error: ", 0), 0u) << boxes[0];
    EXPECT_TRUE(FileExists(dir_ + "VMK_a.bmp"));
    EXPECT_FALSE(FileExists(dir_ + "VMK_b.bmp"));
    EXPECT_FALSE(FileExists(dir_ + "VMK_c.bmp"));
}

// AsIs with no fix text and no folder: each result replaces its own *source,
// which is read whole first.
TEST_F(OutputTest, ResultReplacesItsSource) {
    Pic picture = MakePicture(TPixelFormat::pf24bit, 12, 10, {clBlack, clWhite, RGBColor(0, 0, 200)});
    picture->SaveToFile(dir_ + "a.bmp");
    Pic gradient = MakeGradient(32, 16);
    SaveJpeg(*gradient, dir_ + "b.jpeg", 90);
    AddSource(dir_ + "a.bmp");
    AddSource(dir_ + "b.jpeg");
    Pic cover = MakeCover(5, 5, kTrans, {RGBColor(0, 255, 0)});
    WriteCover(*cover);
    form_->AsIs->SetChecked(true);
    form_->FileFix->SetText("");
    const Pic decoded = DecodeJpeg(dir_ + "b.jpeg");
    Pic expectedB = Expected(*decoded, *cover, 0, 0, true, kTrans);
    const auto before = Listing(dir_);
    modal_->QueueAnswer(true);  // asked first, since the originals go
    RunProcess();
    EXPECT_EQ(TakeBoxes(),
              (std::vector<std::string>{"question: Some results would replace their own originals: \"" + dir_ +
                                            "a.bmp\" would be overwritten (2 originals in all)."
                                            "\n\nGo on?",
                                        kDone}));
    EXPECT_EQ(Listing(dir_), before);  // replaced in place, nothing beside
    ExpectSamePixels(*LoadBmp(dir_ + "a.bmp"), *Expected(*picture, *cover, 0, 0, true, kTrans));
    EXPECT_EQ(ReadBytes(dir_ + "b.jpeg"), EncodeJpeg(*expectedB, 85));
}

// When replacing a source fails, the source is left whole.
TEST_F(OutputTest, FailedReplaceKeepsTheSource) {
    Pic picture = MakePicture(TPixelFormat::pf24bit, 12, 10, {clBlack, clWhite});
    picture->SaveToFile(dir_ + "a.bmp");
    AddSource(dir_ + "a.bmp");
    Pic cover = MakeCover(5, 5, kTrans, {RGBColor(0, 255, 0)});
    WriteCover(*cover);
    form_->AsIs->SetChecked(true);
    form_->FileFix->SetText("");
    const auto before = ReadBytes(dir_ + "a.bmp");
    const auto listing = Listing(dir_);
    if (!SetImmutable(dir_ + "a.bmp", true)) GTEST_SKIP() << "cannot make a file immutable here";
    modal_->QueueAnswer(true);
    RunProcess();
    SetImmutable(dir_ + "a.bmp", false);
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind("question: ", 0), 0u) << boxes[0];
    EXPECT_EQ(boxes[1].rfind("error: ", 0), 0u) << boxes[1];
    EXPECT_EQ(ReadBytes(dir_ + "a.bmp"), before);
    EXPECT_EQ(Listing(dir_), listing);
}

// A result the file layer refuses ends the run with the file and the reason, and
// never with "all saved": a name cut short by a NUL, a disk that takes no more.
TEST_F(OutputTest, RefusedResultsEndTheRunWithTheirReason) {
    Pic source = MakePicture(TPixelFormat::pf24bit, 40, 30, {clBlack, clWhite});
    source->SaveToFile(dir_ + "a.bmp");
    AddSource(dir_ + "a.bmp");
    AddSource(dir_ + "a.bmp");
    Pic cover = MakeCover(2, 2, kTrans, {clWhite});
    WriteCover(*cover);
    form_->BMP->SetChecked(true);
    fs::create_directories(dir_ + "out");
    form_->Path->SetText(dir_ + "out/");

    form_->FileFix->SetText(std::string("pre\0", 4));
    // The same picture twice: asked about once a run, and gone on with.
    modal_->QueueAnswer(true);
    modal_->QueueAnswer(true);
    RunProcess();
    ASSERT_TRUE(modal_->HasBox());
    EXPECT_EQ(modal_->TakeBox().kind, TScriptedModal::Box::Question);
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"error: Error with file " + dir_ + "a.bmp: Cannot create file \"" +
                                                    dir_ + "out/pre\\0a.bmp\". The name holds a NUL character."});
    EXPECT_TRUE(Listing(dir_ + "out").empty());

    form_->FileFix->SetText("VMK_");
    {
        const FileSizeLimit limit(1000);  // the result needs 3654 bytes
        RunProcess();
    }
    ASSERT_TRUE(modal_->HasBox());
    EXPECT_EQ(modal_->TakeBox().kind, TScriptedModal::Box::Question);
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"error: Error with file " + dir_ + "a.bmp: Cannot write file \"" +
                                                    dir_ + "out/VMK_a.bmp\". File too large"});
    EXPECT_TRUE(Listing(dir_ + "out").empty());
}
