// The save preview that keeps up with the settings it shows, and its fitted view.

#include "compose/Compose.h"
#include "support/WindowFixture.h"

using namespace vmk;
using namespace vmk::test;

namespace {

const TColor kGreen = RGBColor(0, 200, 0);

class FollowTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        Show();
        form_->CoverTransparent->SetChecked(false);
        AddSource(MakeBmp("white.bmp", 30, 20, clWhite));
        WriteCover(*Painted(4, 4, [](int, int) { return kGreen; }));
        Place(form_->LT);
        form_->Tabs->SelectByUser(2);
        form_->FileListSave->SelectByUser(0);
        modal_->ClearBoxes();
    }
    TColor At(int x, int y) { return form_->PreviewSave->GetCanvas().GetPixel(x, y); }
    bool Empty() { return form_->PreviewSave->GetPicture().GetGraphic() == nullptr; }
    void Forget() { form_->PreviewSave->GetPicture().Assign(nullptr); }
};

TEST_F(FollowTest, ShowingThePageShowsTheCoverWhereItNowIs) {
    ASSERT_EQ(At(0, 0), kGreen);
    form_->Tabs->SelectByUser(1);
    Place(form_->RB);
    Wait(1000);
    // Off the page nothing is made.
    EXPECT_EQ(At(0, 0), kGreen);
    form_->Tabs->SelectByUser(2);
    Wait(200);
    EXPECT_EQ(At(0, 0), clWhite);
    EXPECT_EQ(At(29, 19), kGreen);
    EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(FollowTest, ChangesOnThePageRefreshOnceWhenTheyStop) {
    Forget();
    // Five changes in quick succession: each restarts the wait.
    for (int i = 0; i < 5; ++i) {
        form_->JPGQuality->SetValue(50 + i);
        Wait(100);
    }
    EXPECT_TRUE(Empty());
    Wait(100);
    ASSERT_FALSE(Empty());
    // One refresh for all of them: nothing is left queued.
    Forget();
    Wait(2000);
    EXPECT_TRUE(Empty());

    // Cover settings and format alike; the Update button still works at once.
    form_->JPG->SetChecked(true);
    Wait(200);
    EXPECT_FALSE(Empty());
    Forget();
    form_->Update->Click();
    EXPECT_FALSE(Empty());
    EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(FollowTest, AFailingAutomaticRefreshIsShownOnceAndUpdateShowsItAgain) {
    const std::string broken = MakeFile("broken.bmp", "BM this is no bitmap");
    AddSource(broken);
    form_->FileListSave->SelectByUser(1);
    ASSERT_NE(TakeError(), "");
    form_->JPGQuality->SetValue(60);
    Wait(200);
    const std::string first = TakeError();
    EXPECT_NE(first, "");
    form_->JPGQuality->SetValue(61);
    Wait(200);
    EXPECT_FALSE(modal_->HasBox());
    form_->Update->Click();
    EXPECT_EQ(TakeError(), first);
}

TEST_F(FollowTest, FittedJpegPreviewIsEncodedWholeAndReadBackForTheBox) {
    ShowAt(600, 400);
    const std::string photo = MakeJpeg("photo.jpg", 1600, 1200, RGBColor(90, 90, 90));
    AddSource(photo);
    form_->JPG->SetChecked(true);
    form_->FileListSave->SelectByUser(1);
    TImage& preview = *form_->PreviewSave;
    const int pw = preview.GetPicture().GetWidth();
    EXPECT_LT(pw, 1600);
    EXPECT_GE(pw, preview.GetShownWidth());
    EXPECT_LE(preview.GetShownWidth(), preview.GetFitBoxWidth());
    // The stamp went onto the full-size picture before encoding; read back at
    // half size, its 4 x 4 pixels are 2 x 2 at the corner.
    EXPECT_EQ(pw, 800);
    EXPECT_GT(GetGValue(At(0, 0)), 150);
    EXPECT_LT(GetRValue(At(0, 0)), 60);

    form_->FitSave->Click();
    EXPECT_EQ(preview.GetPicture().GetWidth(), 1600);
    EXPECT_EQ(preview.GetPicture().GetHeight(), 1200);
    EXPECT_TRUE(TakeBoxes().empty());
}

}  // namespace
