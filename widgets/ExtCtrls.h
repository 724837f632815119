#pragma once

// Panels, shapes, images, the tabbed notebook and the timer.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Graphics.h"
#include "widgets/Controls.h"

class QTimer;
class QRect;
class QPainter;

namespace vmk {

enum class TPanelBevel { bvNone, bvLowered, bvRaised };

class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* owner);

    const std::string& GetCaption() const { return caption_; }
    void SetCaption(const std::string& value) { caption_ = value; }
    TPanelBevel GetBevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TPanelBevel value);

private:
    std::string caption_;
    TPanelBevel bevelOuter_ = TPanelBevel::bvRaised;
};

enum class TShapeType { stRectangle, stSquare, stEllipse, stCircle };

// A plain filled shape with an outline in the text colour (black in a light palette).
class TShape : public TControl {
public:
    explicit TShape(TComponent* owner);

    TColor GetBrushColor() const { return brushColor_; }
    // Repaints at once with the new colour.
    void SetBrushColor(TColor value);
    TShapeType GetShape() const { return shape_; }
    void SetShape(TShapeType value);

private:
    TColor brushColor_ = clWhite;
    TShapeType shape_ = TShapeType::stRectangle;
};

// Shows its picture unscaled with the picture's top-left corner at its own.
// A picture larger than the control gets scroll bars; mouse events then report
// points of the picture (the control's point plus the scroll position), so a
// handler reads the pixel under the pointer however far the view is scrolled.
// A point outside the picture's view (over a scroll bar, or beyond the control
// while a button is held) lies on no pixel: a move there reports (-1, -1), and
// a button there is not reported. With Fit on, a picture larger than the box is
// shown whole instead, scaled down smoothly, and mouse events report the
// picture's own point under the pointer all the same.
class TImage : public TControl {
public:
    explicit TImage(TComponent* owner);
    ~TImage() override;

    TPicture& GetPicture() { return *picture_; }
    // The held bitmap's canvas (an empty holder gets an empty bitmap first).
    TCanvas& GetCanvas();

    // On: the control takes the size of every picture it is given, up to the
    // size its bounds last set (the box the layout gives it), so a larger
    // picture scrolls within that box. An empty picture leaves the size alone.
    bool GetAutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    // On: the picture's transparent colour is not painted; survives every load.
    bool GetTransparent() const { return transparent_; }
    void SetTransparent(bool value);
    // On: a picture with alpha is shown over a light checkerboard, its alpha
    // honoured; off, it is shown opaque.
    bool GetShowAlpha() const { return showAlpha_; }
    void SetShowAlpha(bool value);
    // On: a picture larger than the box is scaled down to fit it, its sides in
    // proportion, with no scroll bars; a smaller one shows at 100 %.
    bool GetFit() const { return fit_; }
    void SetFit(bool value);
    // The picture's size as it is drawn: scaled with Fit on, else its own.
    int GetShownWidth() const;
    int GetShownHeight() const;
    // The box a fitted picture is scaled to: the size its bounds last set,
    // within what its parents show.
    int GetFitBoxWidth() const;
    int GetFitBoxHeight() const;

    void SetBounds(int left, int top, int width, int height) override;

    // The picture point shown at the control's top-left corner; (0, 0) when
    // the picture fits. A new picture starts at (0, 0).
    int GetScrollLeft() const;
    int GetScrollTop() const;
    // Scrolls so that the picture point (x, y) is at the top-left corner, as
    // far as the picture reaches.
    void ScrollTo(int x, int y);
    // Scrolls as little as needed to bring the part of the picture into view;
    // a part larger than the view shows its top-left corner.
    void ScrollInView(const TRect& part);
    // The size of the picture area that shows, scroll bars left out.
    int GetViewWidth() const;
    int GetViewHeight() const;

    // Drops the cached screen form of the picture and repaints; the image does
    // this itself whenever its picture reports a change.
    void PictureChanged();

    // Paints the part area (control coordinates) as shown on screen: for widgets/.
    void Paint(QWidget& target, const QRect& area);

protected:
    bool MapMousePoint(QWidget* source, bool button, int& x, int& y) const override;

private:
    class View;
    void Layout();
    // Room from the control's top-left corner to the nearest right and bottom
    // edges of its parents.
    void RoomInParents(int& width, int& height) const;
    void WheelScroll(int dx, int dy);
    // The shown size of a pw x ph picture in a box of bw x bh.
    void FittedSize(int pw, int ph, int& w, int& h) const;
    TBitmap* PaintedBitmap();
    void PaintFitted(QPainter& p, const TBitmap& bitmap, const QRect& shown, int w, int h);
    static void PaintCheckerboard(QPainter& p, const QRect& under, int sx, int sy);
    std::unique_ptr<TPicture> picture_;
    bool fit_ = false;
    bool autoSize_ = false;
    bool transparent_ = false;
    bool showAlpha_ = false;
    int boxWidth_ = 0, boxHeight_ = 0;
    struct Cache;
    std::unique_ptr<Cache> cache_;
    View* view_;
};

// One page of a tabbed notebook; its client area holds the page's controls.
class TTabPage : public TWinControl {
public:
    TTabPage(TComponent* owner, const std::string& caption);
    const std::string& GetCaption() const { return caption_; }
    // The notebook places the page; only its controls scale.
    void ScaleForDesktop() override { ScaleChildrenForDesktop(); }

private:
    std::string caption_;
};

// Pages with tabs on top. Each page's client area starts 4 pixels right of and
// 24 pixels below the notebook's top-left corner and ends 4 pixels inside its
// other edges.
class TTabbedNotebook : public TWinControl {
public:
    explicit TTabbedNotebook(TComponent* owner);

    // Adds a page with its tab caption; the notebook owns it.
    TTabPage* AddPage(const std::string& caption);
    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    TTabPage* GetPage(int index) const;
    std::vector<std::string> GetPageCaptions() const;

    int GetPageIndex() const { return pageIndex_; }
    // Runs OnChange (with the new index) before the page is shown, exactly when
    // the page changes; the page changes unless the handler forbids it.
    void SetPageIndex(int index);
    // A user's choice of a tab; runs OnChange through the event dispatch.
    void SelectByUser(int index);
    // Off: the tabs take no clicks or keys; the pages keep their own states.
    bool GetTabsEnabled() const;
    void SetTabsEnabled(bool value);

    void SetBounds(int left, int top, int width, int height) override;
    // The tabs, then the shown page's controls.
    void CollectTabChain(std::vector<QWidget*>& chain) const override;
    // The user's step to the next page (1) or the one before (-1), round the
    // ends, as Ctrl+Tab and Ctrl+Page Down (Ctrl+Shift+Tab, Ctrl+Page Up) do
    // anywhere in the window. Focus on the page left goes to the new page's
    // first control.
    void StepPage(int step);

    TTabChangeEvent OnChange;

protected:
    bool HandleEvent(QObject* target, QEvent* event) override;

private:
    class PageKeys;
    void ChangePage(int index);
    void LayoutPages();
    std::vector<TTabPage*> pages_;
    int pageIndex_ = -1;
    bool switching_ = false;
    class TabBar;
    TabBar* bar_;
    QWidget* frame_;
};

class TManualClock;

// Runs OnTimer every Interval milliseconds while enabled, through the event loop
// (or, while a TManualClock exists, as that clock is moved on).
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool GetEnabled() const { return enabled_; }
    // Switching on starts a fresh countdown; setting the same state does nothing.
    void SetEnabled(bool value);
    unsigned GetInterval() const { return interval_; }
    void SetInterval(unsigned value);

    TNotifyEvent OnTimer;

private:
    friend class TManualClock;
    void Restart();
    void Fire();
    std::unique_ptr<QTimer> timer_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
};

// While one exists, every TTimer counts on this clock instead of real time: a
// timer ticks only when Advance moves the clock past its deadline. Tests use it
// so that a countdown neither waits in real time nor depends on the machine's load.
class TManualClock {
public:
    TManualClock();
    ~TManualClock();
    TManualClock(const TManualClock&) = delete;
    TManualClock& operator=(const TManualClock&) = delete;

    // Moves time on by ms. Each enabled timer whose deadline falls within ticks
    // there, earliest first (in the order they were started when at the same
    // moment), its OnTimer run through Dispatch as the event loop would; a timer
    // still enabled afterwards is due again an interval later.
    void Advance(unsigned ms);
    uint64_t Now() const { return now_; }

    // The clock in use, or null for real time.
    static TManualClock* Current();

private:
    friend class TTimer;
    struct Due {
        uint64_t at;
        uint64_t order;
    };
    void Schedule(TTimer* timer, uint64_t at);
    void Forget(TTimer* timer);
    uint64_t now_ = 0;
    uint64_t started_ = 0;
    std::map<TTimer*, Due> due_;
    TManualClock* previous_;
};

}  // namespace vmk
