// The window from the keyboard: page keys anywhere in it, the Tab order of
// each page, one stop per radio group and the arrows within a group, through
// the real controls and Qt's own focus handling.

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QTabBar>
#include <QWidget>
#include <algorithm>
#include <string>
#include <vector>

#include "support/WindowFixture.h"

using namespace vmk;

namespace {

class KeyboardTest : public vmk::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ShowAt(600, 400);
        form_->GetWidget()->activateWindow();
        QApplication::setActiveWindow(form_->GetWidget());
        QCoreApplication::processEvents();
    }

    // A key press and release at the focused widget (the window when none is).
    static void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        if (!target) target = QApplication::activeWindow();
        ASSERT_NE(target, nullptr);
        QKeyEvent down(QEvent::KeyPress, key, mods);
        QCoreApplication::sendEvent(target, &down);
        QKeyEvent up(QEvent::KeyRelease, key, mods);
        QCoreApplication::sendEvent(target, &up);
        QCoreApplication::processEvents();
    }

    // The name of the control that holds the focus ("Tabs" for the tabs).
    std::string FocusName() const {
        QWidget* focus = QApplication::focusWidget();
        if (!focus) return "";
        std::string best;
        QWidget* bestWidget = nullptr;
        for (int i = 0; i < form_->GetComponentCount(); ++i) {
            auto* c = dynamic_cast<TControl*>(form_->GetComponent(i));
            if (!c || !c->GetWidget() || c->GetName().empty()) continue;
            QWidget* w = c->GetWidget();
            // The innermost control that holds the focused widget.
            if ((w == focus || w->isAncestorOf(focus)) && (!bestWidget || bestWidget->isAncestorOf(w))) {
                best = c->GetName();
                bestWidget = w;
            }
        }
        return best;
    }

    // The stops Tab visits on the shown page, from the tabs round to them again.
    std::vector<std::string> TabRound() {
        form_->Tabs->GetWidget()->findChild<QTabBar*>()->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        EXPECT_EQ(FocusName(), "Tabs");
        std::vector<std::string> seen;
        for (int i = 0; i < 60; ++i) {
            Press(Qt::Key_Tab);
            const std::string name = FocusName();
            if (name == "Tabs") return seen;
            seen.push_back(name);
        }
        ADD_FAILURE() << "Tab never came back to the tabs";
        return seen;
    }

    // want appears in got in this order (other controls may come between);
    // every stop is visited once.
    static void ExpectInOrder(const std::vector<std::string>& got, const std::vector<std::string>& want) {
        std::string text;
        for (const std::string& g : got) text += g + " ";
        size_t at = 0;
        for (const std::string& w : want) {
            const auto found = std::find(got.begin() + static_cast<std::ptrdiff_t>(at), got.end(), w);
            ASSERT_NE(found, got.end()) << w << " missing or out of order in: " << text;
            at = static_cast<size_t>(found - got.begin()) + 1;
        }
        for (const std::string& g : got) EXPECT_EQ(std::count(got.begin(), got.end(), g), 1) << g << " in " << text;
    }
};

}  // namespace

TEST_F(KeyboardTest, PageKeysWorkFromAnyControlAndGoRoundTheEnds) {
    form_->FilesList->GetItems().Add("a.jpg");
    form_->FilesList->SetFocus();
    QCoreApplication::processEvents();
    ASSERT_EQ(FocusName(), "FilesList");
    // The list would take Ctrl+Page Down itself.
    Press(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 1);
    // Focus left with its page and went to the new page's first control.
    EXPECT_EQ(FocusName(), "CoverFile");
    Press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 2);
    Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 1);
    Press(Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 0);
    // Round the ends, both ways.
    Press(Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 4);
    Press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 0);
    // Page Down alone still belongs to the list.
    Press(Qt::Key_PageDown);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 0);
}

TEST_F(KeyboardTest, APageChangedByKeyRunsTabsChange) {
    FilePaths().Add(Bitmap("a.bmp"));
    form_->CoverFile->SetText(Bitmap("cover.bmp"));
    form_->Process->SetEnabled(false);
    for (int i = 0; i < 3; ++i) Press(Qt::Key_PageDown, Qt::ControlModifier);
    ASSERT_EQ(form_->Tabs->GetPageIndex(), 3);
    EXPECT_TRUE(form_->Process->GetEnabled());
}

TEST_F(KeyboardTest, PageKeysDoNothingWhileTheTabsAreOff) {
    // As during a run.
    form_->Tabs->SetTabsEnabled(false);
    form_->Open->SetFocus();
    Press(Qt::Key_Tab, Qt::ControlModifier);
    Press(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 0);
}

TEST_F(KeyboardTest, EachPageIsTabbedTopToBottomLeftToRight) {
    EXPECT_EQ(TabRound(), (std::vector<std::string>{"Open", "AddFolder", "Subfolders", "KeepSubfolders", "FilesList",
                                                    "ClearList", "Delete", "FitFiles"}));

    form_->Tabs->SelectByUser(1);
    // Everything enabled but the margins, which a free place has no use for.
    form_->OtherPos->SetChecked(true);
    form_->AutoDetTrans->SetChecked(false);
    form_->SizeWidth->SetChecked(true);
    const std::vector<std::string> cover = TabRound();
    // The left column down, the place group once (at its checked button),
    // then the right column, each row left to right.
    ExpectInOrder(cover, {"CoverFile", "Browse", "OtherPos", "CoverLeft", "CoverTop", "CoverTransparent",
                          "AutoDetTrans", "SetTColor", "MarginPercent", "Opacity", "SizePercent", "SizeWidth"});
    for (const char* other : {"LT", "RT", "LB", "RB", "TC", "BC", "LM", "RM", "CC", "SizeAsIs", "SizeHeight"})
        EXPECT_EQ(std::count(cover.begin(), cover.end(), other), 0) << other;

    form_->Tabs->SelectByUser(2);
    ExpectInOrder(TabRound(), {"AsIs", "JPGQuality", "Prefix", "FileFix", "FileListSave", "Update"});

    FilePaths().Add(Bitmap("a.bmp"));
    form_->CoverFile->SetText(Bitmap("cover.bmp"));
    form_->Tabs->SelectByUser(3);
    ExpectInOrder(TabRound(), {"Path", "Button1", "Process"});
}

TEST_F(KeyboardTest, MarginsComeInRowsOfTheRightColumn) {
    form_->Tabs->SelectByUser(1);
    form_->RB->SetChecked(true);
    ExpectInOrder(TabRound(), {"CoverFile", "Browse", "RB", "CoverTransparent", "MarginX", "MarginPercent", "MarginY",
                               "Opacity", "SizeAsIs"});
}

TEST_F(KeyboardTest, ArrowsMoveWithinARadioGroupAndSwitchOn) {
    form_->Tabs->SelectByUser(2);
    form_->AsIs->SetChecked(true);
    form_->AsIs->SetFocus();
    QCoreApplication::processEvents();
    // The group reads BMP PNG / JPG WebP / As it is TIFF, row by row.
    Press(Qt::Key_Down);
    EXPECT_EQ(FocusName(), "TIFF");
    EXPECT_TRUE(form_->TIFF->GetChecked());
    EXPECT_FALSE(form_->AsIs->GetChecked());
    // Round the end.
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusName(), "BMP");
    EXPECT_TRUE(form_->BMP->GetChecked());
    Press(Qt::Key_Up);
    EXPECT_EQ(FocusName(), "TIFF");
    // The group's one stop moved with the check: Tab leaves the group (for
    // the quality field, off for TIFF, to the name's group).
    Press(Qt::Key_Tab);
    EXPECT_EQ(FocusName(), "Prefix");
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(FocusName(), "TIFF");
}

TEST_F(KeyboardTest, ArrowsSkipAButtonThatCannotTakeTheFocus) {
    form_->Tabs->SelectByUser(2);
    form_->BMP->SetChecked(true);
    form_->PNG->SetEnabled(false);
    form_->BMP->SetFocus();
    QCoreApplication::processEvents();
    Press(Qt::Key_Down);
    EXPECT_EQ(FocusName(), "JPG");
    EXPECT_TRUE(form_->JPG->GetChecked());
}

TEST_F(KeyboardTest, TheFocusedProcessButtonLooksFocused) {
    FilePaths().Add(Bitmap("a.bmp"));
    form_->CoverFile->SetText(Bitmap("cover.bmp"));
    form_->Tabs->SelectByUser(3);
    form_->Path->SetFocus();
    QCoreApplication::processEvents();
    const QImage unfocused = form_->Process->GetWidget()->grab().toImage();
    form_->Process->SetFocus();
    QCoreApplication::processEvents();
    ASSERT_EQ(FocusName(), "Process");
    const QImage focused = form_->Process->GetWidget()->grab().toImage();
    ASSERT_EQ(focused.size(), unfocused.size());
    // The default button's frame alone would look the same either way.
    EXPECT_NE(focused, unfocused);
}
