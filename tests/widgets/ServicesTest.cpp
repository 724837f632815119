// The dispatch, the modal interface, the screen cursor and the image.

#include <QGuiApplication>
#include <QImage>
#include <QWidget>

#include "core/Exception.h"
#include "imaging/Jpeg.h"
#include "tests/widgets/WidgetFixture.h"

using namespace vmk;

using Services = WidgetTest;

TEST_F(Services, DispatchShowsEveryFailureInTheExceptionBox) {
    EXPECT_TRUE(Dispatch([] {}));
    EXPECT_FALSE(Dispatch([] { throw EListError("List index out of bounds (0)"); }));
    EXPECT_FALSE(Dispatch([] { throw std::runtime_error("plain failure"); }));
    EXPECT_FALSE(Dispatch([] { throw 42; }));
    ASSERT_EQ(modal->Boxes().size(), 3u);
    EXPECT_EQ(modal->TakeBox().text, "List index out of bounds (0)");
    EXPECT_EQ(modal->TakeBox().text, "plain failure");
    const auto last = modal->TakeBox();
    EXPECT_EQ(last.kind, TScriptedModal::Box::Error);
    EXPECT_EQ(last.caption, "Test Title");
}

TEST_F(Services, AbortIsQuiet) {
    EXPECT_FALSE(Dispatch([] { throw EAbort("cancelled"); }));
    EXPECT_FALSE(modal->HasBox());
}

TEST_F(Services, ShowMessageIsCaptionedWithTheTitle) {
    ShowMessage("Operation done!");
    ASSERT_TRUE(modal->HasBox());
    const auto box = modal->TakeBox();
    EXPECT_EQ(box.kind, TScriptedModal::Box::Message);
    EXPECT_EQ(box.caption, "Test Title");
    EXPECT_EQ(box.text, "Operation done!");
}

TEST_F(Services, DialogsTakeQueuedAnswersAndAreCancelledWithoutOne) {
    auto* open = TComponent::Create<TApOpenDialog>(*form, "OpenFiles");
    open->SetOptions(ofAllowMultiSelect);
    auto* cover = TComponent::Create<TApOpenDialog>(*form, "OpenCover");
    auto* color = TComponent::Create<TApColorDialog>(*form, "ColorDlg");
    auto* folder = TComponent::Create<TApFolderDialog>(*form, "SaveLocDlg");

    EXPECT_EQ(color->GetColor(), clWhite);
    EXPECT_FALSE(open->Execute());
    modal->QueuePaths("OpenFiles", {"/a/x.bmp", "/b/y.JPG"});
    modal->QueueCancel("OpenFiles");
    ASSERT_TRUE(open->Execute());
    EXPECT_EQ(open->GetFiles().Items(), (std::vector<std::string>{"/a/x.bmp", "/b/y.JPG"}));
    EXPECT_EQ(open->GetFileName(), "/a/x.bmp");
    EXPECT_FALSE(open->Execute());
    EXPECT_EQ(modal->ExecuteCount("OpenFiles"), 3);

    // One file only without multiple selection.
    modal->QueuePaths("OpenCover", {"/c.bmp", "/d.bmp"});
    ASSERT_TRUE(cover->Execute());
    EXPECT_EQ(cover->GetFiles().GetCount(), 1);
    EXPECT_EQ(cover->GetFileName(), "/c.bmp");

    modal->QueueColor("ColorDlg", 0x0000FF);
    ASSERT_TRUE(color->Execute());
    EXPECT_EQ(color->GetColor(), 0x0000FFu);
    EXPECT_FALSE(color->Execute());
    EXPECT_EQ(color->GetColor(), 0x0000FFu);  // a cancel keeps the colour

    modal->QueuePaths("SaveLocDlg", {"/out"});
    ASSERT_TRUE(folder->Execute());
    EXPECT_EQ(folder->GetFolder(), "/out");
    EXPECT_EQ(folder->GetSpecialIniFolder(), TSpecialFolder::ftDesktop);
}

TEST_F(Services, ScreenCursorOverridesTheApplicationsCursor) {
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    Screen->SetCursor(crCross);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    Screen->SetCursor(crHourGlass);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Screen->SetCursor(crHourGlass);
    Screen->SetCursor(crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // no stacked overrides left
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

namespace {
// A 3 x 2 picture: top row red, green, blue; bottom row white, white, black.
void FillPicture(TImage& image) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(3, 2);
    TCanvas& c = bitmap.GetCanvas();
    c.SetPixel(0, 0, 0x0000FF);
    c.SetPixel(1, 0, 0x00FF00);
    c.SetPixel(2, 0, 0xFF0000);
    c.SetPixel(0, 1, 0xFFFFFF);
    c.SetPixel(1, 1, 0xFFFFFF);
    c.SetPixel(2, 1, 0x000000);
    image.GetPicture().Assign(&bitmap);
}
}  // namespace

TEST_F(Services, ImageShowsItsPictureUnscaledAtItsCorner) {
    auto* image = Make<TImage>("Image");
    image->SetBounds(10, 10, 20, 20);
    FillPicture(*image);
    const QImage shot = image->GetWidget()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(shot.pixelColor(1, 0), QColor(0, 255, 0));
    EXPECT_EQ(shot.pixelColor(2, 0), QColor(0, 0, 255));
    EXPECT_EQ(shot.pixelColor(2, 1), QColor(0, 0, 0));
    EXPECT_EQ(image->GetWidth(), 20);  // no automatic sizing
    EXPECT_EQ(image->GetCanvas().GetPixel(1, 0), 0x00FF00u);
}

TEST_F(Services, TransparentImageLeavesTheTransparentColourUnpainted) {
    auto* image = Make<TImage>("Image");
    image->SetBounds(0, 0, 3, 2);
    image->SetTransparent(true);
    FillPicture(*image);  // automatic mode: the bottom-left pixel's white
    const QColor background = form->GetWidget()->palette().color(QPalette::Window);
    QImage shot = form->GetWidget()->grab(QRect(0, 0, 3, 2)).toImage();
    EXPECT_EQ(shot.pixelColor(0, 1), background);
    EXPECT_EQ(shot.pixelColor(1, 1), background);
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(shot.pixelColor(2, 1), QColor(0, 0, 0));
    // A fixed colour, set on the held bitmap, shows after the next event.
    image->GetPicture().GetBitmap().SetTransparentColor(0x0000FF);
    Dispatch([] {});
    shot = form->GetWidget()->grab(QRect(0, 0, 3, 2)).toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), background);
    EXPECT_EQ(shot.pixelColor(0, 1), QColor(255, 255, 255));
}

TEST_F(Services, AutoSizedImageTakesThePicturesSize) {
    auto* image = Make<TImage>("Image");
    image->SetAutoSize(true);
    image->SetBounds(5, 5, 100, 100);
    FillPicture(*image);
    EXPECT_EQ(image->GetWidth(), 3);
    EXPECT_EQ(image->GetHeight(), 2);
    EXPECT_EQ(image->GetLeft(), 5);
    // A later size from code stands until the next picture.
    image->SetWidth(50);
    Dispatch([] {});
    EXPECT_EQ(image->GetWidth(), 50);
}

TEST_F(Services, ImageShowsAJpegPictureDecoded) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) bitmap.GetCanvas().SetPixel(x, y, 0x0000FF);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    auto* image = Make<TImage>("Image");
    image->SetBounds(0, 0, 20, 20);
    image->GetPicture().Assign(&jpeg);
    ASSERT_STREQ(image->GetPicture().GetGraphic()->ClassName(), "TJPEGImage");
    const QColor shown = image->GetWidget()->grab().toImage().pixelColor(8, 8);
    EXPECT_GT(shown.red(), 230);
    EXPECT_LT(shown.green(), 25);
    EXPECT_LT(shown.blue(), 25);
    // Showing it left the holder's picture as it was.
    EXPECT_STREQ(image->GetPicture().GetGraphic()->ClassName(), "TJPEGImage");
}

TEST_F(Services, ImageCutsOffWhatDoesNotFitAndShowsMoreWhenGrown) {
    auto* image = Make<TImage>("Image");
    image->SetBounds(0, 0, 2, 1);
    FillPicture(*image);
    QImage shot = image->GetWidget()->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(2, 1));
    EXPECT_EQ(shot.pixelColor(1, 0), QColor(0, 255, 0));
    image->SetBounds(0, 0, 3, 2);
    shot = image->GetWidget()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 1), QColor(0, 0, 0));
    EXPECT_EQ(shot.pixelColor(2, 0), QColor(0, 0, 255));
}
