// "Cover File": choosing the cover, its place, its see-through colour, the
// colour pick with its delayed preview update, the pointer and the offset keys.

#include <filesystem>

#include "support/WindowFixture.h"
#include "widgets/Dispatch.h"

namespace vmk::test {
namespace {

class CoverTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Show();
        form_->Tabs->SelectByUser(1);
    }
    TPicture& Cover() { return form_->PreviewCover->GetPicture(); }
    TBitmap& CoverBitmap() { return Cover().GetBitmap(); }
    // Each pixel its own colour, so a pick shows where it read.
    std::string MakeCover(const std::string& name, int w, int h) {
        return MakeBmp(name, w, h, [](int x, int y) { return Paint(x, y); });
    }
    static TColor Paint(int x, int y) {
        return RGBColor(static_cast<uint8_t>(10 + 20 * x), static_cast<uint8_t>(15 + 20 * y), 99);
    }
    void Browse(const std::string& path) {
        modal_->QueuePaths("OpenCover", {path});
        form_->Browse->Click();
    }
    // Transparency on with a hand-picked colour: what a pick needs.
    void PickingOn() {
        form_->CoverTransparent->SetChecked(true);
        form_->AutoDetTrans->SetChecked(false);
    }
    bool Enabled(TControl* c) { return c->GetEnabled(); }
};

// ---- choosing the cover

TEST_F(CoverTest, TypingThePathLoadsWhenItNamesAnExistingBitmap) {
    const std::string path = MakeCover("logo.bmp", 4, 3);
    TCustomEdit& edit = *form_->CoverFile;
    Type(edit, path.substr(0, path.size() - 1));
    EXPECT_EQ(edit.GetText(), path.substr(0, path.size() - 1));
    EXPECT_EQ(Cover().GetGraphic(), nullptr);
    Type(edit, path.substr(path.size() - 1));
    ASSERT_NE(Cover().GetGraphic(), nullptr);
    EXPECT_EQ(Cover().GetWidth(), 4);
    EXPECT_EQ(Cover().GetHeight(), 3);
    EXPECT_EQ(form_->PreviewCover->GetCanvas().GetPixel(3, 2), Paint(3, 2));

    // One letter less names nothing: the preview empties, silently, rather
    // than show a cover the name no longer leads to.
    Key(edit, VK_BACK);
    EXPECT_EQ(edit.GetText(), path.substr(0, path.size() - 1));
    EXPECT_EQ(Cover().GetGraphic(), nullptr);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(CoverTest, UpperCaseExtensionLoadsOtherFilesDoNot) {
    const std::string upper = MakeCover("LOGO.BMP", 2, 5);
    const std::string notBmp = MakeCover("logo.gif", 7, 7);  // a bitmap by content only
    const std::string folder = Path("dir.bmp");
    std::filesystem::create_directory(folder);

    for (const std::string& text : {notBmp, folder, Path("missing.bmp"), std::string()}) {
        form_->CoverFile->SetText(upper);
        EXPECT_EQ(Cover().GetWidth(), 2);
        // Nothing to load: no cover shows.
        form_->CoverFile->SetText(text);
        EXPECT_EQ(Cover().GetGraphic(), nullptr) << text;
    }
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(CoverTest, BrowseNamesTheCoverAndReloadsTheFileShown) {
    const std::string path = MakeCover("cover.bmp", 3, 3);
    Browse(path);
    EXPECT_EQ(form_->CoverFile->GetText(), path);
    EXPECT_EQ(Cover().GetWidth(), 3);

    // The file changes on disk; choosing it again (same text) reads it afresh.
    MakeBmp("cover.bmp", 6, 2, clBlack);
    Browse(path);
    EXPECT_EQ(form_->CoverFile->GetText(), path);
    EXPECT_EQ(Cover().GetWidth(), 6);
    EXPECT_EQ(Cover().GetHeight(), 2);
    EXPECT_EQ(form_->PreviewCover->GetCanvas().GetPixel(0, 0), clBlack);

    // Cancelled: nothing changes.
    modal_->QueueCancel("OpenCover");
    form_->Browse->Click();
    EXPECT_EQ(form_->CoverFile->GetText(), path);
    EXPECT_EQ(Cover().GetWidth(), 6);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(CoverTest, BrowseRefusesOtherExtensionsAsTyped) {
    const std::string path = MakeCover("cover.bmp", 3, 3);
    Browse(path);
    TGraphic* shown = Cover().GetGraphic();

    Browse(MakeCover("photo.JPG", 5, 5));
    EXPECT_EQ(TakeMessage(), "Invalid File Extension: '.JPG'!");
    Browse(MakeCover("noext", 5, 5));
    EXPECT_EQ(TakeMessage(), "Invalid File Extension: ''!");
    EXPECT_EQ(form_->CoverFile->GetText(), path);
    EXPECT_EQ(Cover().GetGraphic(), shown);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(CoverTest, DamagedCoverReportsAndKeepsPreviewAndName) {
    const std::string good = MakeCover("good.bmp", 3, 4);
    const std::string bad = MakeFile("bad.bmp", std::string("BM\x10\0\0\0garbage", 13));
    form_->CoverFile->SetText(good);
    TGraphic* shown = Cover().GetGraphic();

    Type(*form_->CoverFile, "x");  // .bmpx: nothing to load
    EXPECT_FALSE(modal_->HasBox());
    Key(*form_->CoverFile, VK_BACK);  // back to good.bmp: loads again
    EXPECT_FALSE(modal_->HasBox());

    // Pasted whole, the failure is shown by the event loop; the text stays.
    Dispatch([&] { form_->CoverFile->SetText(bad); });
    EXPECT_FALSE(TakeError().empty());
    EXPECT_EQ(form_->CoverFile->GetText(), bad);
    EXPECT_EQ(Cover().GetWidth(), 3);
    EXPECT_EQ(Cover().GetHeight(), 4);

    // Browsed: the load for the new text fails, and the handler ends there.
    form_->CoverFile->SetText(good);
    shown = Cover().GetGraphic();
    Browse(bad);
    EXPECT_FALSE(TakeError().empty());
    EXPECT_FALSE(modal_->HasBox());
    EXPECT_EQ(form_->CoverFile->GetText(), bad);
    EXPECT_EQ(Cover().GetGraphic(), shown);
}

// ---- place and transparency switches

TEST_F(CoverTest, OffsetFieldsFollowTheOtherButton) {
    form_->CoverLeft->SetValue(12);
    form_->CoverTop->SetValue(-4);
    form_->OtherPos->Click();
    for (TControl* c :
         std::initializer_list<TControl*>{form_->Label6, form_->Label7, form_->CoverLeft, form_->CoverTop})
        EXPECT_TRUE(Enabled(c)) << c->GetName();
    for (TRadioButton* corner : {form_->LT, form_->RT, form_->LB, form_->RB}) {
        corner->Click();
        for (TControl* c :
             std::initializer_list<TControl*>{form_->Label6, form_->Label7, form_->CoverLeft, form_->CoverTop})
            EXPECT_FALSE(Enabled(c)) << corner->GetName() << " " << c->GetName();
        form_->OtherPos->Click();
        EXPECT_TRUE(Enabled(form_->CoverLeft));
    }
    EXPECT_EQ(form_->CoverLeft->GetValue(), 12);
    EXPECT_EQ(form_->CoverTop->GetValue(), -4);
}

TEST_F(CoverTest, TransparencySwitchesEnableWhatTheyGovern) {
    for (bool t : {false, true, false}) {
        for (bool a : {true, false, true}) {
            form_->CoverTransparent->SetChecked(true);  // Auto Detect takes clicks only then
            form_->AutoDetTrans->SetChecked(a);
            form_->CoverTransparent->SetChecked(t);
            SCOPED_TRACE(::testing::Message() << "transparent " << t << " auto " << a);
            EXPECT_EQ(form_->PreviewCover->GetTransparent(), t);
            EXPECT_EQ(Enabled(form_->AutoDetTrans), t);
            EXPECT_EQ(Enabled(form_->Label9), t);
            EXPECT_EQ(Enabled(form_->Label10), t);
            EXPECT_EQ(Enabled(form_->SetTColor), t && !a);
            EXPECT_EQ(Enabled(form_->Label11), t && !a);
            for (TControl* c : std::initializer_list<TControl*>{form_->TransColor, form_->CoverFile, form_->Browse,
                                                                form_->CoverTransparent, form_->LT, form_->RT,
                                                                form_->LB, form_->RB, form_->OtherPos})
                EXPECT_TRUE(Enabled(c)) << c->GetName();
        }
    }
}

TEST_F(CoverTest, AutoDetectSwitchesThePreviewBetweenCornerAndFixedColour) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 3, 3));
    form_->TransColor->SetBrushColor(RGBColor(1, 2, 3));
    form_->CoverTransparent->SetChecked(true);
    form_->AutoDetTrans->SetChecked(false);
    EXPECT_EQ(CoverBitmap().GetTransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), RGBColor(1, 2, 3));
    form_->AutoDetTrans->SetChecked(true);
    EXPECT_EQ(CoverBitmap().GetTransparentMode(), TTransparentMode::tmAuto);
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), Paint(0, 2));  // bottom-left

    // A fresh load starts in automatic mode whatever the check box says.
    form_->AutoDetTrans->SetChecked(false);
    form_->CoverFile->SetText(MakeCover("d.bmp", 2, 2));
    EXPECT_EQ(CoverBitmap().GetTransparentMode(), TTransparentMode::tmAuto);
}

TEST_F(CoverTest, NoCoverLoadedNothingFails) {
    PickingOn();
    form_->AutoDetTrans->SetChecked(true);
    form_->AutoDetTrans->SetChecked(false);
    modal_->QueueColor("ColorDlg", RGBColor(5, 6, 7));
    form_->SetTColor->Click();
    MouseMove(*form_->PreviewCover, 0, 0);
    EXPECT_EQ(Screen->GetCursor(), crDefault);
    MouseUp(*form_->PreviewCover, 0, 0);
    EXPECT_FALSE(form_->UpdTimer->GetEnabled());
    EXPECT_EQ(form_->TransColor->GetBrushColor(), RGBColor(5, 6, 7));
    EXPECT_FALSE(modal_->HasBox());
}

// ---- the colour dialog

TEST_F(CoverTest, ColourDialogOpensOnTheColourLastChosenInIt) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 4, 4));
    PickingOn();

    modal_->QueueColor("ColorDlg", RGBColor(200, 100, 50));
    form_->SetTColor->Click();
    EXPECT_EQ(form_->TransColor->GetBrushColor(), RGBColor(200, 100, 50));
    // At once, without waiting for the timer.
    EXPECT_EQ(CoverBitmap().GetTransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), RGBColor(200, 100, 50));

    // A colour picked from the preview is not the dialog's.
    MouseUp(*form_->PreviewCover, 1, 1);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), Paint(1, 1));
    modal_->QueueCancel("ColorDlg");
    form_->SetTColor->Click();
    EXPECT_EQ(form_->TransColor->GetBrushColor(), Paint(1, 1));  // cancelled: unchanged

    modal_->QueueColor("ColorDlg", RGBColor(9, 9, 9));
    form_->SetTColor->Click();
    ASSERT_EQ(modal_->openedOn.size(), 3u);
    EXPECT_EQ(modal_->openedOn[0], clWhite);
    EXPECT_EQ(modal_->openedOn[1], RGBColor(200, 100, 50));
    EXPECT_EQ(modal_->openedOn[2], RGBColor(200, 100, 50));
}

// ---- picking a colour from the preview

TEST_F(CoverTest, PickShowsTheColourAtOnceAndThePreviewOneSecondLater) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 4, 3));
    PickingOn();
    form_->TransColor->SetBrushColor(clWhite);
    form_->AutoDetTrans->SetChecked(true);  // back to the corner colour, then by hand again
    form_->AutoDetTrans->SetChecked(false);
    const TColor before = CoverBitmap().GetTransparentColor();

    MouseUp(*form_->PreviewCover, 2, 1);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), Paint(2, 1));
    EXPECT_TRUE(form_->UpdTimer->GetEnabled());
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), before);

    Wait(999);
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), before);
    Wait(1);
    EXPECT_EQ(CoverBitmap().GetTransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), Paint(2, 1));
    EXPECT_FALSE(form_->UpdTimer->GetEnabled());
}

TEST_F(CoverTest, TwoPicksHalfASecondApartUpdateOnceAfterTheSecond) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 4, 4));
    PickingOn();
    form_->AutoDetTrans->SetChecked(true);
    form_->AutoDetTrans->SetChecked(false);
    const TColor before = CoverBitmap().GetTransparentColor();

    MouseUp(*form_->PreviewCover, 0, 0);
    Wait(500);
    // The first pick's colour never reached the preview.
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), before);
    // The right button picks as well.
    MouseUp(*form_->PreviewCover, 3, 3, Qt::RightButton);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), Paint(3, 3));
    Wait(600);  // 1100 ms after the first pick
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), before);
    Wait(400);  // a second after the second
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), Paint(3, 3));
    EXPECT_FALSE(form_->UpdTimer->GetEnabled());
}

TEST_F(CoverTest, TickAppliesThePickEvenWhenTheSwitchesChangedMeanwhile) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 2, 2));
    PickingOn();
    MouseUp(*form_->PreviewCover, 1, 0);
    form_->AutoDetTrans->SetChecked(true);
    form_->CoverTransparent->SetChecked(false);
    Wait(1300);
    EXPECT_EQ(CoverBitmap().GetTransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(CoverBitmap().GetTransparentColor(), Paint(1, 0));
}

TEST_F(CoverTest, PickOnAScrolledPreviewReadsThePixelUnderThePointer) {
    // Larger than the preview, each pixel its own colour.
    const auto colour = [](int x, int y) {
        return RGBColor(static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x / 256 * 16 + y / 256));
    };
    const std::string big = MakeBmp("big.bmp", 1500, 1200, colour);
    PickingOn();
    Browse(big);
    TImage& preview = *form_->PreviewCover;
    ASSERT_LT(preview.GetViewWidth(), 1500);
    preview.ScrollTo(300, 520);  // the user drags both bars
    ASSERT_EQ(preview.GetScrollLeft(), 300);
    ASSERT_EQ(preview.GetScrollTop(), 520);

    MouseMove(preview, 5, 7);
    EXPECT_EQ(Screen->GetCursor(), crCross);
    MouseUp(preview, 5, 7, Qt::RightButton);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), colour(305, 527));
    EXPECT_FALSE(modal_->HasBox());

    // Scrolled to the end: the last pixel is the last one shown.
    preview.ScrollTo(100000, 100000);
    const int x = preview.GetViewWidth() - 1, y = preview.GetViewHeight() - 1;
    MouseUp(preview, x, y);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), colour(1499, 1199));
}

TEST_F(CoverTest, ReleasesBesideThePicturePickNothing) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 4, 3));
    PickingOn();
    form_->TransColor->SetBrushColor(RGBColor(7, 7, 7));
    // One beyond the last column and row, far away, and left of or above it.
    for (auto [x, y] : {std::pair{4, 0}, {0, 3}, {4, 3}, {500, 2}, {-1, 0}, {0, -1}, {-30, -30}}) {
        MouseUp(*form_->PreviewCover, x, y);
        EXPECT_EQ(form_->TransColor->GetBrushColor(), RGBColor(7, 7, 7)) << x << "," << y;
        EXPECT_FALSE(form_->UpdTimer->GetEnabled()) << x << "," << y;
    }
    // The last pixel itself does pick.
    MouseUp(*form_->PreviewCover, 3, 2);
    EXPECT_EQ(form_->TransColor->GetBrushColor(), Paint(3, 2));
}

TEST_F(CoverTest, NoPickWhileTransparencyIsOffOrAutomatic) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 4, 4));
    form_->TransColor->SetBrushColor(RGBColor(7, 7, 7));
    for (auto [t, a] : {std::pair{false, false}, {false, true}, {true, true}}) {
        form_->CoverTransparent->SetChecked(true);
        form_->AutoDetTrans->SetChecked(a);
        form_->CoverTransparent->SetChecked(t);
        MouseMove(*form_->PreviewCover, 1, 1);
        EXPECT_EQ(Screen->GetCursor(), crDefault) << t << a;
        MouseUp(*form_->PreviewCover, 1, 1);
        MouseUp(*form_->PreviewCover, 1, 1, Qt::RightButton);
        EXPECT_EQ(form_->TransColor->GetBrushColor(), RGBColor(7, 7, 7)) << t << a;
        EXPECT_FALSE(form_->UpdTimer->GetEnabled());
    }
}

TEST_F(CoverTest, CrosshairOnlyOverThePictureWhilePicking) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 4, 3));
    PickingOn();
    // The move events as each control reports them.
    auto over = [this](TControl& c, int x, int y) { c.OnMouseMove(&c, 0, x, y); };
    TImage& preview = *form_->PreviewCover;
    over(preview, 0, 0);
    EXPECT_EQ(Screen->GetCursor(), crCross);
    over(preview, 4, 1);  // one beyond the last column
    EXPECT_EQ(Screen->GetCursor(), crDefault);
    over(preview, 3, 2);
    EXPECT_EQ(Screen->GetCursor(), crCross);
    over(preview, 1, 3);  // one below the last row
    EXPECT_EQ(Screen->GetCursor(), crDefault);
    over(preview, 3, 2);
    over(preview, -1, 1);  // dragged off to the left
    EXPECT_EQ(Screen->GetCursor(), crDefault);
    over(preview, 3, 2);
    over(preview, 2, -1);  // or above
    EXPECT_EQ(Screen->GetCursor(), crDefault);

    // Everything around the preview takes the crosshair away.
    for (TControl* c : std::initializer_list<TControl*>{
             form_->Panel2,           form_->TransColor, form_->Label11,   form_->Label10,   form_->Label9,
             form_->Label7,           form_->Label6,     form_->Label3,    form_->SetTColor, form_->AutoDetTrans,
             form_->CoverTransparent, form_->RB,         form_->RT,        form_->LT,        form_->LB,
             form_->OtherPos,         form_->Browse,     form_->CoverFile, form_->CoverTop,  form_->CoverLeft}) {
        over(preview, 1, 1);
        ASSERT_EQ(Screen->GetCursor(), crCross);
        ASSERT_TRUE(c->OnMouseMove) << c->GetName();
        over(*c, 2, 2);
        EXPECT_EQ(Screen->GetCursor(), crDefault) << c->GetName();
    }
}

// The same through the window's own mouse events: a move over the preview must
// reach the preview alone, not the panel under it as well.
TEST_F(CoverTest, CrosshairFollowsRealPointerMoves) {
    form_->CoverFile->SetText(MakeCover("c.bmp", 4, 3));
    PickingOn();
    MouseMove(*form_->PreviewCover, 0, 0);
    EXPECT_EQ(Screen->GetCursor(), crCross);
    MouseMove(*form_->PreviewCover, 4, 1);
    EXPECT_EQ(Screen->GetCursor(), crDefault);
    MouseMove(*form_->PreviewCover, 3, 2);
    EXPECT_EQ(Screen->GetCursor(), crCross);
    MouseMove(*form_->Label3, 2, 2);
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

// ---- the offset fields' keys

TEST_F(CoverTest, PageKeysStepByTenUnlessTheFieldIsEmpty) {
    form_->OtherPos->Click();
    TCSpinEdit& left = *form_->CoverLeft;
    TCSpinEdit& top = *form_->CoverTop;

    left.SetText("");
    Key(left, VK_PRIOR);
    Key(left, VK_NEXT);
    EXPECT_EQ(left.GetText(), "");

    left.SetText("5");
    Key(left, VK_PRIOR);
    EXPECT_EQ(left.GetText(), "15");
    top.SetText("3");
    Key(top, VK_NEXT);
    EXPECT_EQ(top.GetText(), "-7");
    EXPECT_EQ(top.GetValue(), -7);
    EXPECT_EQ(left.GetValue(), 15);  // each field answers its own keys

    // A held key repeats its key-down.
    KeyDown(top, VK_NEXT);
    KeyDown(top, VK_NEXT);
    KeyUp(top, VK_NEXT);
    EXPECT_EQ(top.GetValue(), -27);

    // The field's own stepping is left alone.
    Key(left, VK_UP);
    EXPECT_EQ(left.GetValue(), 16);
    Key(left, VK_DOWN);
    Key(left, VK_DOWN);
    EXPECT_EQ(left.GetValue(), 14);

    // At the end of the range Page Up stays there.
    left.SetText("2147483645");
    Key(left, VK_PRIOR);
    EXPECT_EQ(left.GetValue(), 2147483647);
    left.SetText("-2147483645");
    Key(left, VK_NEXT);
    EXPECT_EQ(left.GetValue(), -2147483647 - 1);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(CoverTest, OnlyDigitsAndEditingKeysChangeTheText) {
    form_->OtherPos->Click();
    TCSpinEdit& left = *form_->CoverLeft;
    left.SetText("");
    Type(left, "12");
    EXPECT_EQ(left.GetText(), "12");
    for (uint16_t pad = VK_NUMPAD0 + 3; pad <= VK_NUMPAD0 + 4; ++pad) Key(left, pad);
    EXPECT_EQ(left.GetText(), "1234");

    // Letters, the minus and plus signs and the space are refused.
    Type(left, "a-+ ");
    Key(left, VK_OEM_MINUS);
    Key(left, VK_SUBTRACT);
    Key(left, 'Z');
    EXPECT_EQ(left.GetText(), "1234");

    Key(left, VK_BACK);
    EXPECT_EQ(left.GetText(), "123");
    left.GetLineEdit()->home(false);
    Key(left, VK_DELETE);
    EXPECT_EQ(left.GetText(), "23");
}

TEST_F(CoverTest, RefusedKeyHoldsTheFieldReadOnlyUntilItsRelease) {
    form_->OtherPos->Click();
    TCSpinEdit& top = *form_->CoverTop;
    top.SetText("8");
    KeyDown(top, VK_SHIFT);
    EXPECT_TRUE(top.GetReadOnly());
    KeyDown(top, VK_CONTROL);
    EXPECT_TRUE(top.GetReadOnly());
    KeyUp(top, VK_CONTROL);
    EXPECT_FALSE(top.GetReadOnly());

    KeyDown(top, VK_PRIOR);
    EXPECT_TRUE(top.GetReadOnly());
    EXPECT_EQ(top.GetValue(), 18);  // Page Up steps even though the field is read-only
    KeyUp(top, VK_PRIOR);
    EXPECT_FALSE(top.GetReadOnly());

    KeyDown(top, '7');
    EXPECT_FALSE(top.GetReadOnly());
    KeyUp(top, '7');
    EXPECT_FALSE(form_->CoverLeft->GetReadOnly());
}

// A PNG cover: typed or browsed, it shows with its alpha; a file named .png
// that is no PNG is refused naming itself, and the preview keeps its picture.
TEST_F(CoverTest, PngCoversLoadWithTheirAlpha) {
    const std::string bmp = MakeCover("logo.bmp", 2, 5);
    const std::string png = Path("soft.png");
    if (std::system(
            ("convert -size 6x4 xc:'rgba(255,0,0,0.5)' -define png:color-type=6 '" + png + "' 2>/dev/null").c_str()) !=
        0)
        GTEST_SKIP() << "ImageMagick missing";
    form_->CoverFile->SetText(png);
    EXPECT_EQ(Cover().GetWidth(), 6);
    EXPECT_TRUE(form_->PreviewCover->GetPicture().GetBitmap().GetAlphaChannel());
    EXPECT_EQ(form_->PreviewCover->GetCanvas().GetPixel(5, 3), RGBColor(255, 0, 0));
    form_->CoverFile->SetText(bmp);
    Browse(png);
    EXPECT_EQ(form_->CoverFile->GetText(), png);
    EXPECT_EQ(Cover().GetWidth(), 6);

    const std::string fake = MakeCover("fake.PNG", 3, 3);
    try {
        form_->CoverFile->SetText(fake);
        ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Error with file " + fake + ": Not a PNG image");
    }
    EXPECT_EQ(Cover().GetWidth(), 6);
}

}  // namespace
}  // namespace vmk::test
