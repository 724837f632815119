#pragma once

// The standard controls. Setting a value from code runs the control's change or
// click handler exactly when the value changes, as a user's change would; the
// handler then runs directly, so its exceptions reach the code that set the value.

#include <string>
#include <vector>

#include "widgets/Controls.h"

class QLineEdit;

namespace vmk {

class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);

    // "&" marks the accelerator letter; "\r\n" breaks the line.
    const std::string& GetCaption() const { return caption_; }
    void SetCaption(const std::string& value);
    // A default button answers the Enter key on its page.
    bool GetDefault() const { return default_; }
    void SetDefault(bool value);
    // A cancel button answers the Esc key in its window.
    bool GetCancel() const { return cancel_; }
    void SetCancel(bool value) { cancel_ = value; }

    // A user's click: runs OnClick through the event dispatch.
    void Click();

    TNotifyEvent OnClick;

protected:
    TButton(TComponent* owner, QWidget* widget);
    void FontChanged() override;

private:
    void Init();
    std::string caption_;
    bool default_ = false;
    bool cancel_ = false;
};

// A button that may carry a picture; ours never does. Several caption lines.
class TBitBtn : public TButton {
public:
    explicit TBitBtn(TComponent* owner);
};

// Checked state of check boxes and radio buttons.
class TButtonControl : public TWinControl {
public:
    const std::string& GetCaption() const { return caption_; }
    void SetCaption(const std::string& value);
    bool GetChecked() const { return checked_; }
    virtual void SetChecked(bool value) = 0;

    // A user's click (mouse or space bar), through the event dispatch.
    virtual void Click() = 0;

    TNotifyEvent OnClick;

protected:
    TButtonControl(TComponent* owner, QWidget* widget);
    // Shows the state without running anything.
    void ShowChecked(bool value);
    bool checked_ = false;

private:
    std::string caption_;
};

class TCheckBox : public TButtonControl {
public:
    explicit TCheckBox(TComponent* owner);
    // Runs OnClick when the state changes.
    void SetChecked(bool value) override;
    // A user's click toggles the state.
    void Click() override;
};

// Radio buttons with the same parent form one group.
class TRadioButton : public TButtonControl {
public:
    explicit TRadioButton(TComponent* owner);
    // Switching on switches the group's others off, then runs OnClick of this
    // button only; switching off runs nothing. No change, no handler.
    void SetChecked(bool value) override;
    // A user's click switches the button on (no change when it is on already).
    void Click() override;

    bool IsRadioGroupMember() const override { return true; }
    bool IsRadioChecked() const override { return checked_; }

protected:
    // The arrow keys move within the group and switch on where they land.
    bool HandleEvent(QObject* target, QEvent* event) override;
};

// A single-line text box.
class TCustomEdit : public TWinControl {
public:
    std::string GetText() const;
    // Runs OnChange when the text differs from what is shown.
    void SetText(const std::string& value);
    bool GetReadOnly() const;
    void SetReadOnly(bool value);
    void SelectAll();

    // Runs after every change of the text, by the user or by code.
    TNotifyEvent OnChange;
    // Key events carry Windows virtual-key codes. OnKeyDown runs before the key
    // edits the text, so a handler that makes the box read-only blocks that key.
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;

    // The Qt line edit that holds the text; for widgets/, tools and tests.
    QLineEdit* GetLineEdit() const { return GetWidget() ? edit_ : nullptr; }

protected:
    // widget is the line edit itself or holds one.
    TCustomEdit(TComponent* owner, QWidget* widget);
    bool HandleEvent(QObject* target, QEvent* event) override;
    // Whether the box takes a typed character; the spin edit takes only a number's.
    virtual bool AcceptsChar(char32_t) const { return true; }
    // The key handling of the control itself, after OnKeyDown; true swallows the key.
    virtual bool OwnKeyDown(uint16_t) { return false; }
    void TextEdited();

private:
    QLineEdit* edit_;
    std::string lastText_;
    bool settingText_ = false;
};

class TEdit : public TCustomEdit {
public:
    explicit TEdit(TComponent* owner);
};

// The items of a list box.
class TListBox;
class TListItems {
public:
    explicit TListItems(TListBox& owner) : owner_(owner) {}
    int GetCount() const;
    std::string Get(int index) const;  // EListError when out of range
    std::string operator[](int index) const { return Get(index); }
    int Add(const std::string& text);
    // Appends every text in one update of the list: a folder's thousands of
    // names without a repaint for each.
    // Adds many lines in one update; hints, when given, are their tool tips.
    void AddStrings(const std::vector<std::string>& texts, const std::vector<std::string>& hints = {});
    void Delete(int index);  // EListError when out of range
    void Clear();
    int IndexOf(const std::string& text) const;
    std::vector<std::string> ToVector() const;
    // The tool tip of one line ("" for none); EListError when out of range.
    std::string GetHint(int index) const;
    void SetHint(int index, const std::string& hint);

private:
    TListBox& owner_;
};

class TListBox : public TWinControl {
public:
    explicit TListBox(TComponent* owner);

    TListItems& GetItems() { return items_; }
    const TListItems& GetItems() const { return items_; }
    int GetCount() const { return items_.GetCount(); }
    // -1 when no line is selected.
    int GetItemIndex() const;
    // Selects a line from code (-1: none); runs nothing.
    void SetItemIndex(int index);
    int GetItemHeight() const { return itemHeight_; }
    void SetItemHeight(int value);

    // A user's selection of line index; runs OnClick through the event dispatch.
    void SelectByUser(int index);

    // On: several lines can be selected (Shift for a range, Ctrl for one more);
    // the item index is the line last clicked while it stays selected.
    bool GetMultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool value);
    // Every selected line, in order.
    std::vector<int> GetSelectedIndices() const;
    int GetSelCount() const { return static_cast<int>(GetSelectedIndices().size()); }
    // Selects or deselects one line from code; runs nothing.
    void SetSelected(int index, bool value);

    // Runs when the user selects a line, by mouse or keyboard.
    TNotifyEvent OnClick;
    // A key going down while the list has the focus, with its virtual-key code.
    TKeyEvent OnKeyDown;

protected:
    bool HandleEvent(QObject* target, QEvent* event) override;

private:
    friend class TListItems;
    TListItems items_;
    int itemHeight_ = 13;
    int rowAtPress_ = -2;
    bool settingIndex_ = false;
    bool multiSelect_ = false;
};

class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner);

    const std::string& GetCaption() const { return caption_; }
    void SetCaption(const std::string& value);
    TAlignment GetAlignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    // On: the label takes the size of its text. Off: it keeps its size.
    bool GetAutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    bool GetWordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    // The control the caption's accelerator moves the focus to.
    void SetFocusControl(TWinControl* control);

protected:
    TLabel(TComponent* owner, QWidget* widget);
    void FontChanged() override;
    void ApplyBounds() override;
    void Refit();

private:
    std::string caption_;
    TAlignment alignment_ = TAlignment::taLeftJustify;
    bool autoSize_ = true;
    bool wordWrap_ = false;
};

// A label with a window of its own; it can take part in the Tab order.
class TStaticText : public TWinControl {
public:
    explicit TStaticText(TComponent* owner);

    const std::string& GetCaption() const { return caption_; }
    void SetCaption(const std::string& value);
    bool GetAutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);

protected:
    void FontChanged() override;

private:
    void Refit();
    std::string caption_;
    bool autoSize_ = true;
};

}  // namespace vmk
