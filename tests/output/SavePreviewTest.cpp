// The save options page: the preview, the quality controls and their range.

#include "compose/Compose.h"
#include "support/WindowFixture.h"

using namespace vmk;
using namespace vmk::test;

namespace {

const TColor kTrans = RGBColor(255, 0, 255);

class PreviewTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        picture_ = MakePicture(TPixelFormat::pf24bit, 30, 20, {clBlack, clWhite, RGBColor(200, 10, 10)});
        picture_->SaveToFile(dir_ + "pic.bmp");
        gradient_ = MakeGradient(40, 24);
        SaveJpeg(*gradient_, dir_ + "photo.jpg", 90);
        AddSource(dir_ + "pic.bmp");
        AddSource(dir_ + "photo.jpg");
        cover_ = MakeCover(9, 7, kTrans, {RGBColor(0, 255, 0), RGBColor(0, 0, 255)});
        WriteCover(*cover_);
        Place(form_->RB);
    }

    TBitmap& Shown() { return form_->PreviewSave->GetPicture().GetBitmap(); }

    Pic picture_, gradient_, cover_;
};

std::vector<std::string> TrialFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(ApplicationFolder())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Test", 0) == 0 || name.find(".tmp") != std::string::npos) names.push_back(name);
    }
    return names;
}

}  // namespace

TEST_F(PreviewTest, BmpPreviewIsTheCompositionAndWritesNothing) {
    const auto files = Listing(dir_);
    const auto trials = TrialFiles();
    form_->FileListSave->SelectByUser(0);
    EXPECT_TRUE(TakeBoxes().empty());
    ExpectSamePixels(Shown(), *Expected(*picture_, *cover_, 21, 13, true, kTrans));
    EXPECT_EQ(Listing(dir_), files);
    EXPECT_EQ(TrialFiles(), trials);
    EXPECT_FALSE(form_->JPGQuality->GetEnabled());
    EXPECT_FALSE(form_->Label1->GetEnabled());
}

TEST_F(PreviewTest, JpegPreviewShowsTheLossesOfTheQuality) {
    form_->JPG->SetChecked(true);
    EXPECT_TRUE(form_->JPGQuality->GetEnabled());
    EXPECT_TRUE(form_->Label1->GetEnabled());
    const auto trials = TrialFiles();
    // A smooth cover, so that only the quality makes the difference.
    Pic smooth = MakeGradient(9, 7);
    WriteCover(*smooth);
    form_->CoverTransparent->SetChecked(false);
    // The JPEG source decoded is the base the cover goes onto.
    Pic composed = Expected(*DecodeJpeg(dir_ + "photo.jpg"), *smooth, 31, 17, false, kTrans);

    form_->JPGQuality->SetValue(100);
    form_->FileListSave->SelectByUser(1);
    const double fine = MeanError(Shown(), *composed);
    form_->JPGQuality->SetValue(1);
    form_->Update->Click();  // a changed quality shows at the next Update
    const double coarse = MeanError(Shown(), *composed);
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_LT(fine, 3.0);
    EXPECT_GT(coarse, 3 * fine + 2) << fine;
    EXPECT_EQ(TrialFiles(), trials);  // the trial file is gone
}

TEST_F(PreviewTest, AsIsPreviewsEachSourceInItsFormat) {
    form_->AsIs->SetChecked(true);
    EXPECT_TRUE(form_->JPGQuality->GetEnabled());
    form_->FileListSave->SelectByUser(0);
    ExpectSamePixels(Shown(), *Expected(*picture_, *cover_, 21, 13, true, kTrans));
    form_->FileListSave->SelectByUser(1);
    Pic composed = Expected(*DecodeJpeg(dir_ + "photo.jpg"), *cover_, 31, 17, true, kTrans);
    ExpectSamePixels(Shown(), *DecodeJpegBytes(EncodeJpeg(*composed, 85)));
}

TEST_F(PreviewTest, TakenTrialNameIsLeftAlone) {
    const std::string taken = ApplicationFolder() + "Test0.jpg";
    std::ofstream(taken) << "someone else's";
    const auto trials = TrialFiles();
    form_->JPG->SetChecked(true);
    form_->FileListSave->SelectByUser(0);
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ReadBytes(taken),
              (std::vector<uint8_t>{'s', 'o', 'm', 'e', 'o', 'n', 'e', ' ', 'e', 'l', 's', 'e', '\'', 's'}));
    EXPECT_EQ(TrialFiles(), trials);
    fs::remove(taken);
}

TEST_F(PreviewTest, RefusedSourcesLeaveThePreview) {
    std::ofstream(dir_ + "x.txt") << "x";
    std::ofstream(dir_ + "noext") << "x";
    AddSource(dir_ + "x.txt");
    AddSource(dir_ + "noext");
    form_->FileListSave->SelectByUser(0);
    Pic before = std::make_unique<TBitmap>();
    before->Assign(Shown());
    form_->FileListSave->SelectByUser(2);
    form_->FileListSave->SelectByUser(3);
    EXPECT_EQ(TakeBoxes(), (std::vector<std::string>{"message: Invalid file extension: '.txt'!",
                                                     "message: Invalid file extension: ''!"}));
    ExpectSamePixels(Shown(), *before);

    // A cover that cannot be read is an error; the preview stays as it was.
    form_->CoverFile->SetText("");
    form_->FileListSave->SelectByUser(1);
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("error: ", 0), 0u) << boxes[0];
    ExpectSamePixels(Shown(), *before);
}

TEST_F(PreviewTest, UpdateWithNothingSelectedDoesNothing) {
    ASSERT_EQ(form_->FileListSave->GetItemIndex(), -1);
    form_->Update->Click();
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(form_->PreviewSave->GetPicture().GetWidth(), 0);
}

// What the preview shows is what the run writes, for every format and place.
TEST_F(PreviewTest, PreviewEqualsTheRunsResult) {
    form_->Path->SetText(dir_ + "out");
    for (TRadioButton* format : {form_->BMP, form_->JPG, form_->AsIs})
        for (TRadioButton* place : {form_->LT, form_->LB, form_->RT, form_->RB, form_->OtherPos}) {
            SCOPED_TRACE(format->GetName() + " " + place->GetName());
            format->SetChecked(true);
            Place(place, -4, 15);
            RunProcess();
            ASSERT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
            for (int i = 0; i < 2; ++i) {
                form_->FileListSave->SelectByUser(i);
                const TSaveAs saveAs = format == form_->BMP   ? TSaveAs::BMP
                                       : format == form_->JPG ? TSaveAs::JPG
                                                              : TSaveAs::AsIs;
                TOutputSettings settings;
                settings.SaveAs = saveAs;
                settings.FileFix = "VMK_";
                const std::string written = dir_ + "out/" + OutputFileName(FilePaths().Get(i), settings);
                Pic result = WriteFormatFor(saveAs, FilePaths().Get(i)) == TWriteFormat::Bmp ? LoadBmp(written)
                                                                                             : DecodeJpeg(written);
                ExpectSamePixels(Shown(), *result);
            }
        }
}

TEST_F(OutputTest, QualityControlsFollowTheFormat) {
    form_->JPG->SetChecked(true);
    EXPECT_TRUE(form_->JPGQuality->GetEnabled());
    form_->BMP->SetChecked(true);
    EXPECT_FALSE(form_->JPGQuality->GetEnabled());
    EXPECT_FALSE(form_->Label1->GetEnabled());
    form_->AsIs->SetChecked(true);
    EXPECT_TRUE(form_->JPGQuality->GetEnabled());
    EXPECT_TRUE(form_->Label1->GetEnabled());
}

TEST_F(OutputTest, QualityStaysInRange) {
    const auto after = [&](const std::string& text) {
        form_->JPGQuality->SetText(text);
        return form_->JPGQuality->GetText();
    };
    EXPECT_EQ(after("150"), "100");
    EXPECT_EQ(after("250"), "100");
    EXPECT_EQ(after(""), "");
    EXPECT_EQ(after("0"), "1");
    EXPECT_EQ(after("99999999999999"), "100");
    EXPECT_EQ(after("37"), "37");
}

namespace {

// A photo far larger than the preview, in one grey.
class LargePreviewTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        Pic photo = MakePicture(TPixelFormat::pf24bit, 1600, 1200, {RGBColor(90, 90, 90)});
        photo->SaveToFile(dir_ + "photo.bmp");
        Pic cover = MakeCover(40, 30, kTrans, {RGBColor(0, 255, 0)});
        WriteCover(*cover);
        AddSource(dir_ + "photo.bmp");
        form_->Tabs->SelectByUser(2);
        // At 100 %, where the stamp must be scrolled into view.
        form_->FitSave->SetChecked(false);
    }
    TImage& Preview() { return *form_->PreviewSave; }
    // The cover's whole rectangle lies in the part of the picture that shows.
    void ExpectInView(int x, int y, int w, int h) {
        EXPECT_LE(Preview().GetScrollLeft(), x);
        EXPECT_LE(Preview().GetScrollTop(), y);
        EXPECT_GE(Preview().GetScrollLeft() + Preview().GetViewWidth(), x + w);
        EXPECT_GE(Preview().GetScrollTop() + Preview().GetViewHeight(), y + h);
    }
};

}  // namespace

TEST_F(LargePreviewTest, PreviewScrollsToTheCoversPlace) {
    ASSERT_LT(Preview().GetWidth(), 1600);
    Place(form_->RB);
    form_->FileListSave->SelectByUser(0);
    EXPECT_TRUE(TakeBoxes().empty());
    ExpectInView(1560, 1170, 40, 30);
    // Right Bottom: the picture's own corner is the view's.
    EXPECT_EQ(Preview().GetScrollLeft() + Preview().GetViewWidth(), 1600);
    EXPECT_EQ(Preview().GetScrollTop() + Preview().GetViewHeight(), 1200);

    // Each preview follows the place as it is then, JPEG output included.
    Place(form_->OtherPos, 700, 500);
    form_->JPG->SetChecked(true);
    form_->Update->Click();
    EXPECT_TRUE(TakeBoxes().empty());
    ExpectInView(700, 500, 40, 30);

    Place(form_->LT);
    form_->Update->Click();
    EXPECT_EQ(Preview().GetScrollLeft(), 0);
    EXPECT_EQ(Preview().GetScrollTop(), 0);

    // Partly off the picture: the part that lies on it shows.
    Place(form_->OtherPos, 1590, -20);
    form_->Update->Click();
    ExpectInView(1590, 0, 10, 10);
    // Wholly off it: nothing to show, and nothing fails.
    Place(form_->OtherPos, 5000, 5000);
    form_->Update->Click();
    EXPECT_TRUE(TakeBoxes().empty());

    // A cover sized to the photo is placed, and brought into view, at the
    // size it is drawn (a tenth of 1600 wide: 160 x 120), in both previews.
    form_->SizeWidth->SetChecked(true);
    form_->SizePercent->SetValue(10);
    Place(form_->RB);
    for (TRadioButton* format : {form_->JPG, form_->BMP}) {
        format->SetChecked(true);
        form_->Update->Click();
        EXPECT_TRUE(TakeBoxes().empty());
        ExpectInView(1440, 1080, 160, 120);
        Place(form_->CC);
        form_->Update->Click();
        ExpectInView(720, 540, 160, 120);
        Place(form_->RB);
    }
}

TEST_F(PreviewTest, DamagedSourceIsNamedInTheError) {
    std::ofstream(dir_ + "cut.jpg") << "\xFF\xD8\xFF\xE0 cut short";
    std::ofstream(dir_ + "cut.bmp") << "BM short";
    AddSource(dir_ + "cut.jpg");
    AddSource(dir_ + "cut.bmp");
    for (int line : {2, 3}) {
        form_->FileListSave->SelectByUser(line);
        const auto boxes = TakeBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        const std::string named = "error: Error with file " + FilePaths().Get(line) + ": ";
        EXPECT_EQ(boxes[0].rfind(named, 0), 0u) << boxes[0];
        EXPECT_GT(boxes[0].size(), named.size()) << "the failure's own message follows";
    }
}
