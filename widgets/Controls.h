#pragma once

// Visual controls: a TControl wraps one Qt widget and keeps the VCL-style
// geometry, visibility, enabling and mouse events; a TWinControl can hold others.

#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "widgets/Classes.h"

class QObject;
class QEvent;

namespace vmk {

class TWinControl;
class TControlHook;

struct TFont {
    std::string Name = "MS Sans Serif";
    int Height = 11;  // character height in pixels
    bool Bold = false;
    bool operator==(const TFont&) const = default;
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// The desktop's font against the layout's own 11-pixel font: every font is
// that much larger, and a form's layout grows with it (never below 1).
double DesktopScale();
void SetDesktopScale(double scale);
int ScaledPixels(int pixels);

class TControl : public TComponent {
public:
    ~TControl() override;

    int GetLeft() const { return left_; }
    int GetTop() const { return top_; }
    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    void SetLeft(int value);
    void SetTop(int value);
    void SetWidth(int value);
    void SetHeight(int value);
    virtual void SetBounds(int left, int top, int width, int height);

    // The control's own flag, as set; a control on a hidden page stays "visible".
    bool GetVisible() const;
    void SetVisible(bool value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // True when the control and every parent up to the window are shown.
    bool IsShowing() const;

    // The control's own flag; off greys the control and takes away its input.
    bool GetEnabled() const { return enabled_; }
    virtual void SetEnabled(bool value);

    const std::string& GetHint() const { return hint_; }
    void SetHint(const std::string& value);
    bool GetShowHint() const { return showHint_; }
    void SetShowHint(bool value);

    int GetTabOrder() const { return tabOrder_; }
    void SetTabOrder(int value);
    // Radio buttons with one parent form a group with one tab stop.
    virtual bool IsRadioGroupMember() const { return false; }
    virtual bool IsRadioChecked() const { return false; }

    const TFont& GetFont() const { return font_; }
    void SetFont(const TFont& font);

    TWinControl* GetParent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);

    // Repaints the control at once, before the next event is handled.
    void Update();
    // Asks for a repaint when the event loop next runs.
    void Invalidate();

    // The Qt widget; for widgets/, tools and tests only. Null once Qt freed it.
    QWidget* GetWidget() const { return widget_; }

    // On: files dragged from a file manager may be dropped here, and each drop
    // runs OnDropFiles. Other drags (plain text onto an edit) keep the widget's
    // own handling.
    bool GetDragAcceptFiles() const { return dragAcceptFiles_; }
    void SetDragAcceptFiles(bool value);

    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TMouseEvent OnMouseDown;
    TDropFilesEvent OnDropFiles;

protected:
    TControl(TComponent* owner, QWidget* widget);
    // Routes the mouse events of a Qt child (part of this control) here too.
    void WatchChild(QWidget* child);
    // Hook for the Qt events of the widget (and watched children) before Qt
    // handles them; true swallows the event.
    virtual bool HandleEvent(QObject* target, QEvent* event);
    // Turns a mouse event's point (x, y), in source's coordinates, into the
    // control's own; false when the event is not reported (button says whether
    // it is a press or release rather than a move).
    virtual bool MapMousePoint(QWidget* source, bool button, int& x, int& y) const;
    virtual void FontChanged();
    // Puts the widget where the control's bounds say; a control may paint a
    // larger area than its bounds (a label whose text would be cut off).
    virtual void ApplyBounds();
    // Takes the bounds from the widget (a window the user resized).
    void SyncBoundsFromWidget();
    // Scales the bounds by DesktopScale, and those of every control below.
    virtual void ScaleForDesktop();

private:
    friend class TControlHook;
    friend class TWinControl;
    QPointer<QWidget> widget_;  // null once Qt has freed the widget
    TControlHook* hook_;
    TWinControl* parent_ = nullptr;
    std::vector<QWidget*> watched_;  // children of widget_, so they go with it
    bool dragAcceptFiles_ = false;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool enabled_ = true;
    bool visible_ = true;
    bool showHint_ = false;
    int tabOrder_ = -1;
    std::string hint_;
    TFont font_;
};

// A control that can hold other controls.
class TWinControl : public TControl {
public:
    ~TWinControl() override;
    int GetControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* GetControl(int index) const { return controls_.at(static_cast<size_t>(index)); }

    // Gives keyboard focus to the control.
    void SetFocus();
    bool Focused() const;
    bool CanFocus() const;

    // Numbers the tab stops of this control and of every control below it in
    // reading order (columns left to right, each top to bottom, a row left to
    // right), the radio buttons of one parent together at the place of the
    // first, and chains Qt's Tab order so. Controls added anywhere slot in by
    // where they are.
    void ApplyTabOrder();
    // Makes the checked radio button of the children (the first while none is)
    // their group's one tab stop; below: also in every control further down.
    void UpdateRadioStops(bool below = false);

    // Where children's widgets go (the page area of a notebook page, for example).
    virtual QWidget* ClientWidget() const { return GetWidget(); }

    // Appends the widgets that take focus, in Tab order: the children's, in
    // their TabOrder, or the control's own when it holds no tab stops.
    virtual void CollectTabChain(std::vector<QWidget*>& chain) const;

protected:
    TWinControl(TComponent* owner, QWidget* widget);
    void ScaleForDesktop() override;
    void ScaleChildrenForDesktop();
    // Renumbers the children's tab stops by position, then theirs.
    void OrderTabStops();

private:
    friend class TControl;
    std::vector<TControl*> controls_;
};

}  // namespace vmk
