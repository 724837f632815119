// Values set from code run the change or click handler exactly when the value
// changes; a user's change runs it through the dispatch.

#include <QCheckBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QRadioButton>
#include <memory>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "tests/widgets/WidgetFixture.h"

using namespace vmk;

using EventRule = WidgetTest;

TEST_F(EventRule, EditTextRunsOnChangeOnlyWhenItChanges) {
    auto* edit = Make<TEdit>("Edit");
    int changes = 0;
    edit->OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, edit);
        ++changes;
    };
    edit->SetText("");
    EXPECT_EQ(changes, 0);
    edit->SetText("abc");
    EXPECT_EQ(changes, 1);
    edit->SetText("abc");
    EXPECT_EQ(changes, 1);
    edit->SetText("");
    EXPECT_EQ(changes, 2);
    // A paste by the user: one change.
    edit->GetLineEdit()->insert("xyz");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(edit->GetText(), "xyz");
}

TEST_F(EventRule, TheHandlerSeesTheNewText) {
    auto* edit = Make<TEdit>("Edit");
    std::string seen;
    edit->OnChange = [&](TObject*) { seen = edit->GetText(); };
    edit->SetText("C:/logo.bmp");
    EXPECT_EQ(seen, "C:/logo.bmp");
}

TEST_F(EventRule, CodeChangeLetsTheHandlersFailureReachTheCaller) {
    auto* edit = Make<TEdit>("Edit");
    edit->OnChange = [](TObject*) { throw EConvertError("bad"); };
    EXPECT_THROW(edit->SetText("x"), EConvertError);
    EXPECT_FALSE(modal->HasBox());
}

TEST_F(EventRule, UserChangeShowsTheHandlersFailureAndGoesOn) {
    auto* edit = Make<TEdit>("Edit");
    edit->OnChange = [](TObject*) { throw EConvertError("bad value"); };
    edit->GetLineEdit()->insert("x");  // must not throw into Qt
    ASSERT_TRUE(modal->HasBox());
    const auto box = modal->TakeBox();
    EXPECT_EQ(box.kind, TScriptedModal::Box::Error);
    EXPECT_EQ(box.caption, "Test Title");
    EXPECT_EQ(box.text, "bad value");
}

TEST_F(EventRule, CheckBoxRunsOnClickOnEveryChangeOnly) {
    auto* box = Make<TCheckBox>("Box");
    int clicks = 0;
    box->OnClick = [&](TObject*) { ++clicks; };
    box->SetChecked(false);
    EXPECT_EQ(clicks, 0);
    box->SetChecked(true);
    box->SetChecked(true);
    EXPECT_EQ(clicks, 1);
    box->SetChecked(false);
    EXPECT_EQ(clicks, 2);
    // A user's click toggles and reports.
    static_cast<QCheckBox*>(box->GetWidget())->click();
    EXPECT_EQ(clicks, 3);
    EXPECT_TRUE(box->GetChecked());
    EXPECT_TRUE(static_cast<QCheckBox*>(box->GetWidget())->isChecked());
}

TEST_F(EventRule, RadioGroupSwitchesSiblingsOffAndReportsOnlyTheOneSwitchedOn) {
    auto* a = Make<TRadioButton>("A");
    auto* b = Make<TRadioButton>("B");
    auto* panel = Make<TPanel>("Panel");
    auto* other = Make<TRadioButton>("Other", panel);
    std::vector<std::string> clicked;
    for (TRadioButton* r : {a, b, other})
        r->OnClick = [&clicked](TObject* s) { clicked.push_back(static_cast<TComponent*>(s)->GetName()); };

    other->SetChecked(true);
    a->SetChecked(true);
    EXPECT_EQ(clicked, (std::vector<std::string>{"Other", "A"}));
    b->SetChecked(true);
    EXPECT_EQ(clicked, (std::vector<std::string>{"Other", "A", "B"}));
    EXPECT_FALSE(a->GetChecked());
    EXPECT_FALSE(static_cast<QRadioButton*>(a->GetWidget())->isChecked());
    EXPECT_TRUE(b->GetChecked());
    // A button on another parent is a group of its own.
    EXPECT_TRUE(other->GetChecked());

    // Again on, or switched off: nothing runs.
    b->SetChecked(true);
    b->SetChecked(false);
    EXPECT_EQ(clicked.size(), 3u);
    EXPECT_FALSE(b->GetChecked());
}

TEST_F(EventRule, UserClickOnACheckedRadioButtonChangesNothing) {
    auto* a = Make<TRadioButton>("A");
    auto* b = Make<TRadioButton>("B");
    int clicks = 0;
    a->OnClick = b->OnClick = [&](TObject*) { ++clicks; };
    static_cast<QRadioButton*>(a->GetWidget())->click();
    EXPECT_EQ(clicks, 1);
    static_cast<QRadioButton*>(a->GetWidget())->click();
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(a->GetChecked());
    EXPECT_TRUE(static_cast<QRadioButton*>(a->GetWidget())->isChecked());
    static_cast<QRadioButton*>(b->GetWidget())->click();
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(a->GetChecked());
}

TEST_F(EventRule, ListBoxSelectionFromCodeIsSilentAndFromTheUserIsAClick) {
    auto* list = Make<TListBox>("List");
    int clicks = 0;
    list->OnClick = [&](TObject*) { ++clicks; };
    list->GetItems().Add("a.bmp");
    list->GetItems().Add("b.jpg");
    list->GetItems().Add("a.bmp");
    EXPECT_EQ(list->GetCount(), 3);
    EXPECT_EQ(list->GetItemIndex(), -1);
    list->SetItemIndex(1);
    EXPECT_EQ(list->GetItemIndex(), 1);
    EXPECT_EQ(clicks, 0);
    list->SelectByUser(2);
    EXPECT_EQ(clicks, 1);
    list->SelectByUser(2);  // the same line again still reports
    EXPECT_EQ(clicks, 2);
    // The keyboard moves the selection: a click as well.
    static_cast<QListWidget*>(list->GetWidget())->setCurrentRow(0);
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(list->GetItemIndex(), 0);
}

TEST_F(EventRule, ListBoxDeleteKeepsTheSelectionOnItsLineAndDropsADeletedOne) {
    auto* list = Make<TListBox>("List");
    int clicks = 0;
    list->OnClick = [&](TObject*) { ++clicks; };
    for (const char* s : {"a", "b", "c", "d"}) list->GetItems().Add(s);
    list->SetItemIndex(2);
    list->GetItems().Delete(0);
    EXPECT_EQ(list->GetItemIndex(), 1);
    EXPECT_EQ(list->GetItems().Get(1), "c");
    list->GetItems().Delete(1);
    EXPECT_EQ(list->GetItemIndex(), -1);
    EXPECT_EQ(list->GetItems().ToVector(), (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(clicks, 0);
    EXPECT_THROW(list->GetItems().Delete(-1), EListError);
    EXPECT_THROW(list->GetItems().Delete(2), EListError);
    EXPECT_THROW(list->GetItems().Get(5), EListError);
    EXPECT_EQ(list->GetCount(), 2);
}

TEST_F(EventRule, NotebookAsksBeforeThePageIsShown) {
    auto* book = Make<TTabbedNotebook>("Book");
    book->SetBounds(0, 0, 300, 200);
    for (const char* c : {"One", "Two", "Three"}) book->AddPage(c);
    EXPECT_EQ(book->GetPageIndex(), 0);
    std::vector<int> asked;
    bool allow = true;
    book->OnChange = [&](TObject*, int tab, bool& ok) {
        asked.push_back(tab);
        // The new page is not shown yet.
        EXPECT_FALSE(book->GetPage(tab)->IsShowing());
        ok = allow;
    };
    book->SetPageIndex(0);
    EXPECT_TRUE(asked.empty());
    book->SelectByUser(2);
    EXPECT_EQ(asked, std::vector<int>{2});
    EXPECT_EQ(book->GetPageIndex(), 2);
    EXPECT_TRUE(book->GetPage(2)->IsShowing());
    EXPECT_FALSE(book->GetPage(0)->IsShowing());
    allow = false;
    book->SetPageIndex(1);
    EXPECT_EQ(book->GetPageIndex(), 2);
    EXPECT_EQ((std::vector<int>{2, 1}), asked);
    // Pages start 4 right of and 24 below the notebook's corner.
    EXPECT_EQ(book->GetPage(0)->GetLeft(), 4);
    EXPECT_EQ(book->GetPage(0)->GetTop(), 24);
    EXPECT_EQ(book->GetPage(0)->GetWidth(), 292);
    EXPECT_EQ(book->GetPage(0)->GetHeight(), 172);
}

TEST_F(EventRule, TimerTicksOnlyWhileEnabled) {
    TManualClock clock;
    auto* timer = TComponent::Create<TTimer>(*form, "Timer");
    timer->SetEnabled(false);
    timer->SetInterval(20);
    int ticks = 0;
    timer->OnTimer = [&](TObject*) {
        ++ticks;
        timer->SetEnabled(false);  // one-shot, as the program uses it
    };
    clock.Advance(100);
    EXPECT_EQ(ticks, 0);
    timer->SetEnabled(true);
    clock.Advance(19);
    EXPECT_EQ(ticks, 0);
    clock.Advance(281);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(timer->GetEnabled());
}

TEST_F(EventRule, UnderAManualClockTimersTickOnlyWhenItPassesTheirDeadline) {
    TManualClock clock;
    auto* oneShot = TComponent::Create<TTimer>(*form, "OneShot");
    auto* every = TComponent::Create<TTimer>(*form, "Every");
    oneShot->SetEnabled(false);
    oneShot->SetInterval(1000);
    every->SetInterval(300);
    std::vector<std::string> ticks;
    const auto note = [&](const char* name) {
        return [&ticks, &clock, name](TObject*) { ticks.push_back(name + std::to_string(clock.Now())); };
    };
    oneShot->OnTimer = [&](TObject* sender) {
        note("one@")(sender);
        oneShot->SetEnabled(false);
    };
    every->OnTimer = note("every@");

    oneShot->SetEnabled(true);
    clock.Advance(600);
    oneShot->SetEnabled(false);  // switched off and on: a fresh second
    oneShot->SetEnabled(true);
    oneShot->SetEnabled(true);  // the same state again does not restart it
    clock.Advance(999);
    EXPECT_EQ(ticks, (std::vector<std::string>{"every@300", "every@600", "every@900", "every@1200", "every@1500"}));
    ticks.clear();
    clock.Advance(1);
    clock.Advance(400);
    // The fresh second, begun at 600, ends at 1600.
    EXPECT_EQ(ticks, (std::vector<std::string>{"one@1600", "every@1800"}));
    EXPECT_FALSE(oneShot->GetEnabled());

    ticks.clear();
    every->SetInterval(0);  // no interval: never ticks
    clock.Advance(5000);
    EXPECT_TRUE(ticks.empty());
    // A timer gone before its deadline is forgotten, not called.
    auto gone = std::make_unique<TTimer>(nullptr);
    gone->SetInterval(50);
    gone->OnTimer = note("gone@");
    gone.reset();
    clock.Advance(5000);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(EventRule, AManualClockTicksThroughTheDispatchSoAFailureIsShown) {
    TManualClock clock;
    auto* timer = TComponent::Create<TTimer>(*form, "Timer");
    timer->SetInterval(10);
    timer->OnTimer = [&](TObject*) {
        timer->SetEnabled(false);
        throw EConvertError("tick failed");
    };
    EXPECT_NO_THROW(clock.Advance(10));
    ASSERT_TRUE(modal->HasBox());
    EXPECT_EQ(modal->TakeBox().text, "tick failed");
}

TEST_F(EventRule, ComponentsAreFoundByName) {
    auto* button = Make<TButton>("Open");
    auto* dialog = TComponent::Create<TApOpenDialog>(*form, "OpenFiles");
    EXPECT_EQ(form->FindComponent("Open"), button);
    EXPECT_EQ(form->FindComponent("OpenFiles"), dialog);
    EXPECT_EQ(form->FindComponent("Nope"), nullptr);
}

TEST_F(EventRule, MouseEventsReachOnlyTheControlUnderThePointer) {
    auto* panel = Make<TPanel>("Panel");
    panel->SetBounds(0, 0, 200, 200);
    auto* label = Make<TLabel>("Label", panel);
    label->SetBounds(10, 20, 50, 13);
    auto* spin = Make<TCSpinEdit>("Spin", panel);
    spin->SetBounds(10, 40, 60, 22);
    std::vector<std::string> moves;
    for (TControl* c : std::initializer_list<TControl*>{panel, label, spin})
        c->OnMouseMove = [&moves](TObject* s, TShiftState, int x, int y) {
            moves.push_back(static_cast<TComponent*>(s)->GetName() + " " + std::to_string(x) + "," + std::to_string(y));
        };
    int ups = 0;
    label->OnMouseUp = [&](TObject*, TMouseButton button, TShiftState, int, int) {
        EXPECT_EQ(button, TMouseButton::mbRight);
        ++ups;
    };
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 4), QPointF(3, 4), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(label->GetWidget(), &move);
    QCoreApplication::sendEvent(spin->GetLineEdit(), &move);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(3, 4), QPointF(3, 4), Qt::RightButton, Qt::NoButton,
                   Qt::NoModifier);
    QCoreApplication::sendEvent(label->GetWidget(), &up);
    // The spin edit reports in its own coordinates, whichever part was hit.
    EXPECT_EQ(moves, (std::vector<std::string>{"Label 3,4", "Spin 3,4"}));
    EXPECT_EQ(ups, 1);
}

// A real mouse click on a line: the handler runs once and already sees the line
// selected (the press moves the current row before it selects it).
TEST_F(EventRule, ListBoxMouseClickReportsTheClickedLine) {
    auto* list = Make<TListBox>("List");
    list->GetItems().Add("a.bmp");
    list->GetItems().Add("b.jpg");
    auto* widget = static_cast<QListWidget*>(list->GetWidget());
    widget->resize(120, 80);
    widget->show();
    std::vector<int> seen;
    list->OnClick = [&](TObject*) { seen.push_back(list->GetItemIndex()); };
    const auto click = [&](int row) {
        const QPoint at = widget->visualItemRect(widget->item(row)).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, widget->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, widget->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget->viewport(), &press);
        QCoreApplication::sendEvent(widget->viewport(), &release);
    };
    click(1);
    click(0);
    click(0);  // the selected line again
    EXPECT_EQ(seen, (std::vector<int>{1, 0, 0}));
    EXPECT_FALSE(modal->HasBox());
}
