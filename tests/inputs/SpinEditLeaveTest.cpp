// The offset and quality fields hold a refused key's read-only state only while
// they keep the focus: a key that moves the focus on (Tab, Shift+Tab, an Alt
// accelerator) never sends its key-up to the field it left.

#include <QApplication>
#include <QFocusEvent>
#include <QToolButton>

#include "support/WindowFixture.h"

namespace vmk::test {
namespace {

class SpinEditLeaveTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Show();
    }
    // Focus events flow only in the active window.
    bool Activate() {
        QWidget* window = form_->GetWidget()->window();
        window->activateWindow();
        for (int i = 0; i < 50 && !window->isActiveWindow(); ++i) QCoreApplication::processEvents();
        return window->isActiveWindow();
    }
    // A key pressed where the focus is, as the keyboard delivers it.
    static void PressFocused(int key, Qt::KeyboardModifiers modifiers) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(target, &press);
    }
    static void ReleaseFocused(int key, Qt::KeyboardModifiers modifiers) {
        QKeyEvent release(QEvent::KeyRelease, key, modifiers);
        QCoreApplication::sendEvent(QApplication::focusWidget(), &release);
    }
};

TEST_F(SpinEditLeaveTest, TabbingAwayEndsTheReadOnlyHold) {
    if (!Activate()) GTEST_SKIP() << "the platform activates no window";
    form_->OtherPos->Click();
    TCSpinEdit& left = *form_->CoverLeft;
    left.SetText("20");
    left.SetFocus();
    ASSERT_TRUE(left.Focused());

    PressFocused(Qt::Key_Tab, Qt::NoModifier);
    EXPECT_FALSE(left.Focused());
    ReleaseFocused(Qt::Key_Tab, Qt::NoModifier);  // reaches the next field, not this one
    EXPECT_FALSE(left.GetReadOnly());
    left.GetUpButton()->click();
    EXPECT_EQ(left.GetValue(), 21);

    // Shift+Tab from the quality field: Shift itself is refused first.
    form_->Tabs->SelectByUser(2);
    TCSpinEdit& quality = *form_->JPGQuality;
    ASSERT_TRUE(quality.GetEnabled());
    quality.SetFocus();
    ASSERT_TRUE(quality.Focused());
    const int before = quality.GetValue();
    PressFocused(Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_TRUE(quality.GetReadOnly());
    PressFocused(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(quality.Focused());
    EXPECT_FALSE(quality.GetReadOnly());
    quality.GetDownButton()->click();
    EXPECT_EQ(quality.GetValue(), before - 1);
}

TEST_F(SpinEditLeaveTest, LeavingByAnyMeansEndsTheHoldButNotAReadOnlySetByCode) {
    form_->OtherPos->Click();
    TCSpinEdit& top = *form_->CoverTop;
    top.SetText("5");
    // Alt goes down (refused), then its accelerator takes the focus elsewhere:
    // the field sees only its focus going.
    KeyDown(top, VK_MENU);
    ASSERT_TRUE(top.GetReadOnly());
    QFocusEvent out(QEvent::FocusOut, Qt::ShortcutFocusReason);
    QCoreApplication::sendEvent(top.GetLineEdit(), &out);
    EXPECT_FALSE(top.GetReadOnly());
    top.GetUpButton()->click();
    EXPECT_EQ(top.GetValue(), 6);

    // A hold that its key-up ended is over: read-only set later by code stays.
    KeyDown(top, 'Q');
    KeyUp(top, 'Q');
    top.SetReadOnly(true);
    QFocusEvent outAgain(QEvent::FocusOut, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(top.GetLineEdit(), &outAgain);
    EXPECT_TRUE(top.GetReadOnly());
    top.SetReadOnly(false);
}

}  // namespace
}  // namespace vmk::test
