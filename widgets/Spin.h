#pragma once

// An integer edit box with up and down arrow buttons.

#include "widgets/StdCtrls.h"

class QToolButton;

namespace vmk {

class TCSpinEdit : public TCustomEdit {
public:
    explicit TCSpinEdit(TComponent* owner);

    // The number in the text. Empty text, or text that is not a whole number,
    // gives 0; a number beyond the 32-bit range gives the nearer end of it.
    int GetValue() const;
    // With MinValue and MaxValue both 0 there is no limit; otherwise the value
    // is brought to the nearer bound. Then the text shows it (OnChange when the
    // text changes).
    void SetValue(int value);
    int GetMinValue() const { return minValue_; }
    void SetMinValue(int value) { minValue_ = value; }
    int GetMaxValue() const { return maxValue_; }
    void SetMaxValue(int value) { maxValue_ = value; }
    int GetIncrement() const { return increment_; }
    void SetIncrement(int value) { increment_ = value; }

    // What the arrow buttons and the Up and Down keys do: one step, unless the
    // box is read-only.
    void UpClick();
    void DownClick();

    QToolButton* GetUpButton() const { return up_; }
    QToolButton* GetDownButton() const { return down_; }

    void SetBounds(int left, int top, int width, int height) override;

protected:
    bool AcceptsChar(char32_t c) const override;
    bool OwnKeyDown(uint16_t key) override;
    // A read-only state that a key-down handler sets holds while that key is
    // down; its key-up may never come here (Tab, Shift+Tab or an accelerator
    // moves the focus first), so leaving the field ends it too.
    bool HandleEvent(QObject* target, QEvent* event) override;

private:
    void Step(long long delta);
    void LayoutParts();
    int minValue_ = 0;
    int maxValue_ = 0;
    int increment_ = 1;
    bool heldByKey_ = false;  // read-only since a key-down handler made it so
    QToolButton* up_;
    QToolButton* down_;
};

}  // namespace vmk
