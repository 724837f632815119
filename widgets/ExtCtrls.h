#pragma once

// Panels, shapes, images, the tabbed notebook and the timer.

#include <memory>
#include <string>
#include <vector>

#include "imaging/Graphics.h"
#include "widgets/Controls.h"

class QTimer;

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

// A plain filled shape with a black outline.
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
class TImage : public TControl {
public:
    explicit TImage(TComponent* owner);
    ~TImage() override;

    TPicture& GetPicture() { return *picture_; }
    // The held bitmap's canvas (an empty holder gets an empty bitmap first).
    TCanvas& GetCanvas();

    // On: the control takes the size of every picture it is given.
    bool GetAutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    // On: the picture's transparent colour is not painted; survives every load.
    bool GetTransparent() const { return transparent_; }
    void SetTransparent(bool value);

    // Drops the cached screen form of the picture and repaints; the image does
    // this itself whenever its picture reports a change.
    void PictureChanged();
    // PictureChanged for every image whose picture was replaced unannounced;
    // the dispatch calls it after each event.
    static void RefreshAll();

    // Paints the picture as shown on screen: for widgets/ and tests.
    void Paint(QWidget& target);

private:
    std::unique_ptr<TPicture> picture_;
    bool autoSize_ = false;
    bool transparent_ = false;
    struct Cache;
    std::unique_ptr<Cache> cache_;
};

// One page of a tabbed notebook; its client area holds the page's controls.
class TTabPage : public TWinControl {
public:
    TTabPage(TComponent* owner, const std::string& caption);
    const std::string& GetCaption() const { return caption_; }

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

    TTabChangeEvent OnChange;

protected:
    bool HandleEvent(QObject* target, QEvent* event) override;

private:
    void ChangePage(int index, bool byUser);
    void LayoutPages();
    std::vector<TTabPage*> pages_;
    int pageIndex_ = -1;
    bool switching_ = false;
    class TabBar;
    TabBar* bar_;
    QWidget* frame_;
};

// Runs OnTimer every Interval milliseconds while enabled, through the event loop.
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
    void Restart();
    std::unique_ptr<QTimer> timer_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
};

}  // namespace vmk
