// "Files to Edit" as a list to manage: many selections, the Delete key, Clear,
// the count and the full paths; the fitted previews of the files and the cover.

#include <QImage>
#include <QListWidget>
#include <QWidget>

#include "support/WindowFixture.h"

namespace vmk::test {
namespace {

class BatchListTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Show();
    }
    void Add(std::vector<std::string> paths) {
        modal_->QueuePaths("OpenFiles", std::move(paths));
        form_->Open->Click();
    }
    // A click on a line as the user makes it, with Shift or Ctrl held or not.
    void ClickLine(TListBox& box, int row, Qt::KeyboardModifiers held = Qt::NoModifier) {
        auto* list = static_cast<QListWidget*>(box.GetWidget());
        const QPointF at = list->visualItemRect(list->item(row)).center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, held);
            QCoreApplication::sendEvent(list->viewport(), &event);
        }
    }
    std::vector<std::string> Names(TListBox& box) { return box.GetItems().ToVector(); }
};

TEST_F(BatchListTest, ShiftAndCtrlSelectSeveralAndDeleteRemovesThemAll) {
    const std::string a = MakeBmp("a.bmp", 2, 2, clWhite), b = MakeBmp("b.bmp", 2, 2, clWhite),
                      c = MakeBmp("c.bmp", 2, 2, clWhite), d = MakeBmp("d.bmp", 2, 2, clWhite),
                      e = MakeBmp("e.bmp", 2, 2, clWhite);
    Add({a, b, c, d, e});
    EXPECT_EQ(form_->FilesCount->GetCaption(), "5 pictures");

    ClickLine(*form_->FilesList, 0);
    ClickLine(*form_->FilesList, 2, Qt::ShiftModifier);
    ClickLine(*form_->FilesList, 4, Qt::ControlModifier);
    EXPECT_EQ(form_->FilesList->GetSelectedIndices(), (std::vector<int>{0, 1, 2, 4}));
    // The preview shows the line last clicked.
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 2);

    form_->Delete->Click();
    EXPECT_EQ(FilePaths().Items(), (std::vector<std::string>{d}));
    EXPECT_EQ(Names(*form_->FilesList), (std::vector<std::string>{"d.bmp"}));
    EXPECT_EQ(Names(*form_->FileListSave), (std::vector<std::string>{"d.bmp"}));
    EXPECT_EQ(form_->FilesCount->GetCaption(), "1 picture");
    // What was shown is gone from the batch, and so from the preview.
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetGraphic(), nullptr);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(BatchListTest, DeleteKeyRemovesTheSelectionAndAnEmptyListClearsThePreviews) {
    const std::string a = MakeBmp("a.bmp", 3, 2, clWhite), b = MakeBmp("b.bmp", 3, 2, RGBColor(255, 0, 0));
    Add({a, b, a});
    form_->CoverFile->SetText(MakeBmp("cover.bmp", 1, 1, clBlack));
    ClickLine(*form_->FilesList, 1);
    ClickLine(*form_->FilesList, 2, Qt::ControlModifier);
    form_->FileListSave->SelectByUser(0);
    ASSERT_NE(form_->PreviewSave->GetPicture().GetGraphic(), nullptr);

    ASSERT_TRUE(PressVirtualKey(*form_->FilesList, VK_DELETE));
    EXPECT_EQ(FilePaths().Items(), (std::vector<std::string>{a}));
    // Another key, or Delete with nothing selected, removes nothing and says nothing.
    ASSERT_TRUE(PressVirtualKey(*form_->FilesList, VK_DELETE));
    ASSERT_TRUE(PressVirtualKey(*form_->FilesList, 'A'));
    EXPECT_EQ(FilePaths().GetCount(), 1);
    EXPECT_FALSE(modal_->HasBox());

    ClickLine(*form_->FilesList, 0);
    ASSERT_TRUE(PressVirtualKey(*form_->FilesList, VK_DELETE));
    EXPECT_EQ(FilePaths().GetCount(), 0);
    EXPECT_EQ(form_->FilesCount->GetCaption(), "0 pictures");
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetGraphic(), nullptr);
    EXPECT_EQ(form_->PreviewSave->GetPicture().GetGraphic(), nullptr);
}

TEST_F(BatchListTest, RemovingOtherLinesKeepsThePreviewOfTheLineShown) {
    const std::string a = MakeBmp("a.bmp", 2, 2, clWhite), b = MakeBmp("b.bmp", 5, 4, clBlack),
                      c = MakeBmp("c.bmp", 2, 2, clWhite);
    Add({a, b, c});
    ClickLine(*form_->FilesList, 0);
    ClickLine(*form_->FilesList, 2, Qt::ControlModifier);
    ClickLine(*form_->FilesList, 1, Qt::ControlModifier);
    // Ctrl takes the line shown out of the selection; its preview stays.
    ClickLine(*form_->FilesList, 1, Qt::ControlModifier);
    ASSERT_EQ(form_->FilesList->GetSelectedIndices(), (std::vector<int>{0, 2}));
    form_->Delete->Click();
    EXPECT_EQ(FilePaths().Items(), (std::vector<std::string>{b}));
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 5);
    // It now stands first, and removing it empties the preview.
    form_->FilesList->SelectByUser(0);
    form_->Delete->Click();
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetGraphic(), nullptr);
}

TEST_F(BatchListTest, DeleteButtonWithNothingSelectedStillRefuses) {
    Add({MakeBmp("a.bmp", 2, 2, clWhite)});
    form_->Delete->Click();
    EXPECT_NE(TakeError(), "");
    EXPECT_EQ(FilePaths().GetCount(), 1);
    EXPECT_EQ(form_->FilesList->GetCount(), 1);
}

TEST_F(BatchListTest, ClearEmptiesTheBatchAndEveryLineShowsItsFullPath) {
    std::filesystem::create_directories(scratch / "one");
    std::filesystem::create_directories(scratch / "two");
    const std::string one = MakeBmp("one/same.bmp", 2, 2, clWhite);
    const std::string two = MakeBmp("two/same.bmp", 2, 2, clBlack);
    Add({one, two});
    // Two lines of one name are told apart by their tool tips.
    EXPECT_EQ(form_->FilesList->GetItems().GetHint(0), one);
    EXPECT_EQ(form_->FilesList->GetItems().GetHint(1), two);
    EXPECT_EQ(form_->FileListSave->GetItems().GetHint(1), two);

    form_->FilesList->SelectByUser(1);
    ASSERT_NE(form_->PreviewFiles->GetPicture().GetGraphic(), nullptr);
    form_->ClearList->Click();
    EXPECT_EQ(FilePaths().GetCount(), 0);
    EXPECT_EQ(form_->FilesList->GetCount(), 0);
    EXPECT_EQ(form_->FileListSave->GetCount(), 0);
    EXPECT_EQ(form_->FilesCount->GetCaption(), "0 pictures");
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetGraphic(), nullptr);
    // Clearing an empty list is no fault.
    form_->ClearList->Click();
    EXPECT_FALSE(modal_->HasBox());
}

// ---- fitted previews

TEST_F(BatchListTest, FittedFilePreviewShowsTheWholePhotoFromAReducedDecode) {
    ShowAt(600, 400);
    const std::string photo = MakeJpeg("photo.jpg", 1600, 1200, RGBColor(30, 120, 200));
    Add({photo});
    form_->FilesList->SelectByUser(0);
    TImage& preview = *form_->PreviewFiles;
    const int boxW = preview.GetFitBoxWidth(), boxH = preview.GetFitBoxHeight();
    ASSERT_GT(boxW, 0);
    // Decoded at the smallest scale that still fills the box: never smaller
    // than what shows, never twice as large.
    const int pw = preview.GetPicture().GetWidth(), ph = preview.GetPicture().GetHeight();
    EXPECT_LT(pw, 1600);
    EXPECT_GE(pw, preview.GetShownWidth());
    EXPECT_GE(ph, preview.GetShownHeight());
    EXPECT_LT(pw, 2 * preview.GetShownWidth());
    // The whole picture, in proportion, within the box, and no scroll bars.
    EXPECT_TRUE(preview.GetShownWidth() == boxW || preview.GetShownHeight() == boxH);
    EXPECT_LE(preview.GetShownWidth(), boxW);
    EXPECT_LE(preview.GetShownHeight(), boxH);
    EXPECT_NEAR(preview.GetShownWidth() * 1200.0 / 1600.0, preview.GetShownHeight(), 1.0);
    EXPECT_EQ(preview.GetViewWidth(), preview.GetWidth());
    EXPECT_EQ(preview.GetViewHeight(), preview.GetHeight());

    // Off: the picture at 100 %, read again at its own size, with scroll bars.
    form_->FitFiles->Click();
    EXPECT_EQ(preview.GetPicture().GetWidth(), 1600);
    EXPECT_EQ(preview.GetShownWidth(), 1600);
    EXPECT_LT(preview.GetViewWidth(), preview.GetWidth());
    preview.ScrollTo(5000, 5000);
    EXPECT_GT(preview.GetScrollLeft(), 0);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(BatchListTest, AGrownBoxReadsTheFittedPhotoAgainAtTheScaleItNeeds) {
    ShowAt(400, 400);
    Add({MakeJpeg("photo.jpg", 1600, 1200, RGBColor(30, 120, 200))});
    form_->FilesList->SelectByUser(0);
    TImage& preview = *form_->PreviewFiles;
    EXPECT_EQ(preview.GetPicture().GetWidth(), 400);  // a quarter fills 260 x 370
    // Smaller again: what was read still fills the box; nothing is read.
    TGraphic* shown = preview.GetPicture().GetGraphic();
    ShowAt(380, 400);
    EXPECT_EQ(preview.GetPicture().GetGraphic(), shown);
    ShowAt(1200, 900);
    EXPECT_EQ(preview.GetPicture().GetWidth(), 1600);
    EXPECT_LT(preview.GetShownWidth(), 1600);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(BatchListTest, FittedCoverPreviewPicksTheCoversOwnPixel) {
    // A cover much larger than its box, its right half blue and left half red.
    const std::string cover = MakeBmp("big-cover.bmp", 600, 400,
                                      [](int x, int) { return x < 300 ? RGBColor(255, 0, 0) : RGBColor(0, 0, 255); });
    form_->CoverFile->SetText(cover);
    form_->CoverTransparent->SetChecked(true);
    form_->AutoDetTrans->SetChecked(false);
    EXPECT_FALSE(form_->FitCover->GetChecked());
    form_->FitCover->Click();
    TImage& preview = *form_->PreviewCover;
    ASSERT_LT(preview.GetShownWidth(), 600);
    const int shownW = preview.GetShownWidth(), shownH = preview.GetShownHeight();

    // The right edge of the shown picture is the cover's right edge: blue.
    MouseUp(preview, shownW - 1, shownH / 2);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), RGBColor(0, 0, 255));
    MouseUp(preview, 0, 0);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), RGBColor(255, 0, 0));
    // Beside the shown picture lies no pixel: the crosshair goes, nothing is picked.
    form_->TransColor->SetBrushColor(clWhite);
    if (shownH < preview.GetHeight()) {
        MouseUp(preview, 1, shownH);
        EXPECT_EQ(form_->TransColor->GetBrushColor(), clWhite);
    }
    MouseMove(preview, 1, 1);
    EXPECT_EQ(Screen->GetCursor(), crCross);
    MouseMove(preview, shownW, 1);
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

// What the screen shows: the whole picture, scaled, its see-through colour
// left out in the cover preview as at 100 %.
TEST_F(BatchListTest, FittedPreviewsPaintTheWholePicture) {
    const auto halves = [](int x, int) { return x < 300 ? RGBColor(255, 0, 0) : RGBColor(0, 0, 255); };
    Add({MakeBmp("halves.bmp", 600, 400, halves)});
    form_->FilesList->SelectByUser(0);
    TImage& files = *form_->PreviewFiles;
    ASSERT_LT(files.GetShownWidth(), 600);
    form_->Tabs->SelectByUser(0);
    const QImage shot = files.GetWidget()->grab().toImage();
    const int w = files.GetShownWidth(), h = files.GetShownHeight();
    EXPECT_EQ(QColor(shot.pixel(2, h / 2)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(w - 3, h / 2)), QColor(0, 0, 255));
    EXPECT_EQ(QColor(shot.pixel(w - 3, h - 3)), QColor(0, 0, 255));

    // A cover whose left half is its see-through colour (bottom-left pixel).
    form_->CoverFile->SetText(MakeBmp("cover.bmp", 600, 400, halves));
    form_->CoverTransparent->SetChecked(true);
    form_->FitCover->Click();
    form_->Tabs->SelectByUser(1);
    TImage& cover = *form_->PreviewCover;
    const QImage coverShot = cover.GetWidget()->grab().toImage();
    const int cw = cover.GetShownWidth(), ch = cover.GetShownHeight();
    EXPECT_NE(QColor(coverShot.pixel(2, ch / 2)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(coverShot.pixel(cw - 3, ch / 2)), QColor(0, 0, 255));
}

TEST_F(BatchListTest, ACoverNameThatLeadsNowhereClearsTheCoverPreview) {
    const std::string cover = MakeBmp("logo.bmp", 4, 3, RGBColor(255, 0, 0));
    form_->CoverFile->SetText(cover);
    ASSERT_EQ(form_->PreviewCover->GetPicture().GetWidth(), 4);
    form_->CoverFile->SetText(cover + "x");
    EXPECT_EQ(form_->PreviewCover->GetPicture().GetGraphic(), nullptr);
    form_->CoverFile->SetText(cover);
    EXPECT_EQ(form_->PreviewCover->GetPicture().GetWidth(), 4);
}

}  // namespace
}  // namespace vmk::test
