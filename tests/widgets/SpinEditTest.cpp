// The integer spin edit: value and text, its limits, its own stepping, and key
// events with Windows virtual-key codes that run before the key edits the text.

#include <QToolButton>
#include <climits>
#include <vector>

#include "tests/widgets/WidgetFixture.h"

using namespace vmk;

class SpinEdit : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        spin = Make<TCSpinEdit>("Spin");
        spin->SetBounds(8, 8, 97, 22);
        spin->OnChange = [this](TObject*) { ++changes; };
    }
    void Type(uint16_t vk) { Press(spin->GetLineEdit(), vk); }

    TCSpinEdit* spin = nullptr;
    int changes = 0;
};

TEST_F(SpinEdit, ValueOfTextThatIsNoWholeNumberIsZero) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {{"", 0},
                 {"abc", 0},
                 {"-", 0},
                 {"12a", 0},
                 {"-5", -5},
                 {" 42 ", 42},
                 {"+7", 7},
                 {"007", 7},
                 {"2147483647", INT_MAX},
                 {"99999999999999999999", INT_MAX},
                 {"-2147483648", INT_MIN},
                 {"-99999999999", INT_MIN}};
    for (const Case& c : cases) {
        spin->SetText(c.text);
        EXPECT_EQ(spin->GetValue(), c.value) << "text '" << c.text << "'";
    }
}

TEST_F(SpinEdit, NoLimitWhenBothBoundsAreZero) {
    spin->SetValue(-123456);
    EXPECT_EQ(spin->GetText(), "-123456");
    spin->SetValue(INT_MAX);
    EXPECT_EQ(spin->GetValue(), INT_MAX);
}

TEST_F(SpinEdit, SetValueBringsTheValueToTheNearerBound) {
    spin->SetMinValue(1);
    spin->SetMaxValue(100);
    spin->SetValue(0);
    EXPECT_EQ(spin->GetText(), "1");
    spin->SetValue(250);
    EXPECT_EQ(spin->GetText(), "100");
    spin->SetValue(-7);
    EXPECT_EQ(spin->GetValue(), 1);
    spin->SetValue(85);
    EXPECT_EQ(spin->GetValue(), 85);
}

TEST_F(SpinEdit, OnChangeRunsWhenTheTextChangesOnly) {
    spin->SetValue(5);
    EXPECT_EQ(changes, 1);
    spin->SetValue(5);
    EXPECT_EQ(changes, 1);
    spin->SetText("");
    EXPECT_EQ(changes, 2);
    // Empty text, value 0: setting 0 still writes "0", a change.
    spin->SetValue(0);
    EXPECT_EQ(spin->GetText(), "0");
    EXPECT_EQ(changes, 3);
}

TEST_F(SpinEdit, UpAndDownStepByOneThroughKeysAndButtons) {
    spin->SetValue(5);
    Type(VK_UP);
    EXPECT_EQ(spin->GetValue(), 6);
    Type(VK_DOWN);
    Type(VK_DOWN);
    EXPECT_EQ(spin->GetValue(), 4);
    spin->GetUpButton()->click();
    EXPECT_EQ(spin->GetValue(), 5);
    spin->GetDownButton()->click();
    EXPECT_EQ(spin->GetValue(), 4);
    // Stepping does not overflow.
    spin->SetValue(INT_MAX);
    Type(VK_UP);
    EXPECT_EQ(spin->GetValue(), INT_MAX);
    // With limits, a step stops at the bound.
    spin->SetMinValue(1);
    spin->SetMaxValue(100);
    spin->SetValue(100);
    spin->UpClick();
    EXPECT_EQ(spin->GetValue(), 100);
}

TEST_F(SpinEdit, KeyDownRunsBeforeTheKeyEditsTheText) {
    spin->SetText("1");
    spin->GetLineEdit()->end(false);
    std::vector<std::string> seen;
    spin->OnKeyDown = [&](TObject* sender, uint16_t& key, TShiftState) {
        EXPECT_EQ(sender, spin);
        seen.push_back(spin->GetText());
        // The filter the program uses: digits only.
        spin->SetReadOnly(!(key >= 0x30 && key <= 0x39));
    };
    spin->OnKeyUp = [&](TObject*, uint16_t&, TShiftState) { spin->SetReadOnly(false); };
    Type(0x32);  // '2'
    EXPECT_EQ(spin->GetText(), "12");
    Type(0x41);  // 'A' made the box read-only before it could type
    EXPECT_EQ(spin->GetText(), "12");
    EXPECT_FALSE(spin->GetReadOnly());  // the key-up made it writable again
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "12"}));
}

TEST_F(SpinEdit, ReadOnlyBlocksTypingAndSteppingButNotCode) {
    spin->SetValue(10);
    spin->SetReadOnly(true);
    spin->GetLineEdit()->end(false);
    Type(0x35);
    Type(VK_BACK);
    Type(VK_UP);
    EXPECT_EQ(spin->GetText(), "10");
    spin->SetValue(20);
    EXPECT_EQ(spin->GetText(), "20");
}

TEST_F(SpinEdit, ItTakesOnlyTheCharactersOfANumber) {
    spin->SetText("");
    for (uint16_t vk :
         {uint16_t{0x41}, VK_SPACE, VK_OEM_PERIOD, uint16_t{0x33}, VK_OEM_MINUS, uint16_t{VK_NUMPAD0 + 7}})
        Type(vk);
    EXPECT_EQ(spin->GetText(), "3-7");
}

TEST_F(SpinEdit, KeyEventsCarryWindowsVirtualKeyCodes) {
    std::vector<uint16_t> down, up;
    spin->OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) { down.push_back(key); };
    spin->OnKeyUp = [&](TObject*, uint16_t& key, TShiftState) { up.push_back(key); };
    const std::vector<uint16_t> keys = {
        VK_BACK, VK_PRIOR, VK_NEXT,    VK_END,         VK_HOME, VK_LEFT, VK_UP,    VK_RIGHT,   VK_DOWN,     VK_DELETE,
        0x30,    0x39,     VK_NUMPAD0, VK_NUMPAD0 + 9, 0x41,    0x5A,    VK_SHIFT, VK_CONTROL, VK_OEM_MINUS};
    for (uint16_t k : keys) Type(k);
    EXPECT_EQ(down, keys);
    EXPECT_EQ(up, keys);
}

TEST_F(SpinEdit, AHandlerThatClearsTheKeySwallowsIt) {
    spin->SetText("");
    spin->OnKeyDown = [](TObject*, uint16_t& key, TShiftState) {
        if (key == 0x35) key = 0;
    };
    Type(0x34);
    Type(0x35);
    Type(0x36);
    EXPECT_EQ(spin->GetText(), "46");
}

TEST_F(SpinEdit, DisabledIsGreyedAndTakesNoInput) {
    spin->SetEnabled(false);
    EXPECT_FALSE(spin->GetLineEdit()->isEnabled());
    EXPECT_FALSE(spin->GetUpButton()->isEnabled());
    spin->SetEnabled(true);
    EXPECT_TRUE(spin->GetLineEdit()->isEnabled());
}
