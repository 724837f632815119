#include "widgets/ExtCtrls.h"

#include <QFrame>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTabBar>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <set>

#include "widgets/Forms.h"
#include "widgets/QtSupport.h"

namespace vmk {

// ---- TPanel

TPanel::TPanel(TComponent* owner) : TWinControl(owner, new QFrame) { SetBevelOuter(bevelOuter_); }

void TPanel::SetBevelOuter(TPanelBevel value) {
    bevelOuter_ = value;
    auto* frame = static_cast<QFrame*>(GetWidget());
    if (!frame) return;
    switch (value) {
    case TPanelBevel::bvNone: frame->setFrameStyle(QFrame::NoFrame); break;
    case TPanelBevel::bvLowered: frame->setFrameStyle(QFrame::Panel | QFrame::Sunken); break;
    case TPanelBevel::bvRaised: frame->setFrameStyle(QFrame::Panel | QFrame::Raised); break;
    }
}

// ---- TShape

namespace {

class ShapeWidget : public QWidget {
public:
    explicit ShapeWidget(TShape* owner) : owner_(owner) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(ToQColor(owner_->GetBrushColor()));
        int w = width(), h = height();
        int x = 0, y = 0;
        if (owner_->GetShape() == TShapeType::stSquare || owner_->GetShape() == TShapeType::stCircle) {
            const int side = std::min(w, h);
            x = (w - side) / 2;
            y = (h - side) / 2;
            w = h = side;
        }
        const QRect r(x, y, w - 1, h - 1);
        if (owner_->GetShape() == TShapeType::stEllipse || owner_->GetShape() == TShapeType::stCircle)
            p.drawEllipse(r);
        else
            p.drawRect(r);
    }

private:
    TShape* owner_;
};

}  // namespace

TShape::TShape(TComponent* owner) : TControl(owner, new ShapeWidget(this)) {}

void TShape::SetBrushColor(TColor value) {
    brushColor_ = value;
    Invalidate();
}

void TShape::SetShape(TShapeType value) {
    shape_ = value;
    Invalidate();
}

// ---- TImage

namespace {

std::set<TImage*>& LiveImages() {
    static std::set<TImage*> images;
    return images;
}

class ImageWidget : public QWidget {
public:
    explicit ImageWidget(TImage* owner) : owner_(owner) {}

protected:
    void paintEvent(QPaintEvent*) override { owner_->Paint(*this); }

private:
    TImage* owner_;
};

// The top-left part of the bitmap that can show, as a Qt image; with
// see-through on, its transparent colour becomes fully transparent.
QImage ToQImage(TBitmap& bitmap, bool seeThrough, int maxWidth, int maxHeight) {
    const int w = std::min(bitmap.Width(), maxWidth), h = std::min(bitmap.Height(), maxHeight);
    if (w <= 0 || h <= 0) return QImage();
    QImage out(w, h, QImage::Format_ARGB32);
    if (out.isNull()) return out;
    const TColor clear = bitmap.GetTransparentColor();
    const TPixelFormat format = bitmap.GetPixelFormat();
    const TBitmap& cb = bitmap;
    for (int y = 0; y < h; ++y) {
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        const uint8_t* src = cb.GetScanline(y);
        for (int x = 0; x < w; ++x) {
            TColor c;
            if (format == TPixelFormat::pf24bit) {
                const uint8_t* px = src + 3 * static_cast<size_t>(x);
                c = RGBColor(px[2], px[1], px[0]);
            } else if (format == TPixelFormat::pf32bit) {
                const uint8_t* px = src + 4 * static_cast<size_t>(x);
                c = RGBColor(px[2], px[1], px[0]);
            } else {
                c = cb.GetPixelColor(x, y);
            }
            dst[x] = (seeThrough && c == clear) ? qRgba(0, 0, 0, 0)
                                                 : qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
        }
    }
    return out;
}

}  // namespace

struct TImage::Cache {
    bool dirty = true;
    QImage image;
    // The picture last seen, to notice a new one even when nobody said so.
    const TGraphic* graphic = nullptr;
    int width = -1, height = -1;
    int shownWidth = -1, shownHeight = -1;  // the area the image was made for
    std::unique_ptr<TBitmap> decoded;       // a picture of another kind, decoded once
};

TImage::TImage(TComponent* owner)
    : TControl(owner, new ImageWidget(this)),
      picture_(std::make_unique<TPicture>()),
      cache_(std::make_unique<Cache>()) {
    picture_->OnChange = [this](TPicture&) { PictureChanged(); };
    LiveImages().insert(this);
}

TImage::~TImage() { LiveImages().erase(this); }

TCanvas& TImage::GetCanvas() { return picture_->GetBitmap().GetCanvas(); }

void TImage::SetAutoSize(bool value) {
    autoSize_ = value;
    PictureChanged();
}

void TImage::SetTransparent(bool value) {
    transparent_ = value;
    PictureChanged();
}

void TImage::PictureChanged() {
    cache_->dirty = true;
    cache_->graphic = picture_->GetGraphic();
    cache_->width = picture_->GetWidth();
    cache_->height = picture_->GetHeight();
    // Only a new picture sizes the control; the window's resizing may set
    // another size afterwards.
    if (autoSize_ && cache_->graphic) SetBounds(GetLeft(), GetTop(), cache_->width, cache_->height);
    Invalidate();
}

void TImage::RefreshAll() {
    // Pictures report their changes; this catches only a picture swapped in
    // without a word. The screen form is rebuilt only when something changed,
    // since decoding a large JPEG on every event would stall the window.
    for (TImage* image : LiveImages()) {
        const Cache& c = *image->cache_;
        if (c.graphic != image->picture_->GetGraphic() || c.width != image->picture_->GetWidth() ||
            c.height != image->picture_->GetHeight())
            image->PictureChanged();
    }
}

void TImage::Paint(QWidget& target) {
    QPainter p(&target);
    // No more than the control and its window can show: a large photo need
    // not be converted whole.
    const QWidget* window = target.window();
    const int maxW = std::min(target.width(), window->width());
    const int maxH = std::min(target.height(), window->height());
    if (cache_->dirty || maxW != cache_->shownWidth || maxH != cache_->shownHeight) {
        if (cache_->dirty) cache_->decoded.reset();
        cache_->dirty = false;
        cache_->shownWidth = maxW;
        cache_->shownHeight = maxH;
        cache_->image = QImage();
        TGraphic* graphic = picture_->GetGraphic();
        try {
            if (auto* bitmap = dynamic_cast<TBitmap*>(graphic)) {
                if (!bitmap->GetEmpty()) cache_->image = ToQImage(*bitmap, transparent_, maxW, maxH);
            } else if (graphic && !graphic->GetEmpty()) {
                if (!cache_->decoded) {
                    auto decoded = std::make_unique<TBitmap>();
                    decoded->Assign(*graphic);
                    cache_->decoded = std::move(decoded);
                }
                cache_->image = ToQImage(*cache_->decoded, transparent_, maxW, maxH);
            }
        } catch (const std::exception&) {
            // A picture that cannot be shown paints as empty; its load already
            // reported what was wrong.
            cache_->image = QImage();
        }
    }
    if (!cache_->image.isNull()) p.drawImage(0, 0, cache_->image);
}

// ---- TTabbedNotebook

namespace {
constexpr int kTabBarHeight = 21;
constexpr int kPageLeft = 4, kPageTop = 24, kPageRight = 4, kPageBottom = 4;
}  // namespace

class TTabbedNotebook::TabBar : public QTabBar {
public:
    using QTabBar::QTabBar;
};

TTabPage::TTabPage(TComponent* owner, const std::string& caption)
    : TWinControl(owner, new QWidget), caption_(caption) {
    GetWidget()->setAutoFillBackground(true);
}

TTabbedNotebook::TTabbedNotebook(TComponent* owner) : TWinControl(owner, new QWidget) {
    QWidget* box = GetWidget();
    frame_ = new QFrame(box);
    static_cast<QFrame*>(frame_)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    bar_ = new TabBar(box);
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    bar_->setFocusPolicy(Qt::TabFocus);
    WatchChild(bar_);
    QObject::connect(bar_, &QTabBar::currentChanged, bar_, [this](int index) {
        if (switching_ || index == pageIndex_) return;
        // The bar moved on its own; the page changes only through ChangePage.
        switching_ = true;
        bar_->setCurrentIndex(pageIndex_);
        switching_ = false;
        SelectByUser(index);
    });
}

TTabPage* TTabbedNotebook::AddPage(const std::string& caption) {
    auto* page = TComponent::Create<TTabPage>(*this, "", caption);
    page->SetParent(this);
    pages_.push_back(page);
    switching_ = true;
    bar_->addTab(ToQ(caption));
    switching_ = false;
    if (pageIndex_ < 0) {
        pageIndex_ = 0;
        switching_ = true;
        bar_->setCurrentIndex(0);
        switching_ = false;
    }
    page->SetVisible(static_cast<int>(pages_.size()) - 1 == pageIndex_);
    LayoutPages();
    return page;
}

TTabPage* TTabbedNotebook::GetPage(int index) const {
    if (index < 0 || index >= GetPageCount()) return nullptr;
    return pages_[static_cast<size_t>(index)];
}

std::vector<std::string> TTabbedNotebook::GetPageCaptions() const {
    std::vector<std::string> out;
    for (TTabPage* p : pages_) out.push_back(p->GetCaption());
    return out;
}

void TTabbedNotebook::SetPageIndex(int index) { ChangePage(index, false); }

void TTabbedNotebook::SelectByUser(int index) {
    if (!bar_->isEnabled()) return;  // a disabled tab takes no click
    Dispatch([&] { ChangePage(index, true); });
}

void TTabbedNotebook::ChangePage(int index, bool) {
    if (index < 0 || index >= GetPageCount() || index == pageIndex_) return;
    bool allow = true;
    if (OnChange) OnChange(this, index, allow);
    if (!allow) return;
    TTabPage* old = GetPage(pageIndex_);
    pageIndex_ = index;
    switching_ = true;
    bar_->setCurrentIndex(index);
    switching_ = false;
    GetPage(index)->SetVisible(true);
    if (old) old->SetVisible(false);
}

bool TTabbedNotebook::GetTabsEnabled() const { return bar_->isEnabled(); }
void TTabbedNotebook::SetTabsEnabled(bool value) { bar_->setEnabled(value); }

void TTabbedNotebook::SetBounds(int left, int top, int width, int height) {
    TWinControl::SetBounds(left, top, width, height);
    LayoutPages();
}

void TTabbedNotebook::LayoutPages() {
    const int w = GetWidth(), h = GetHeight();
    bar_->setGeometry(2, 0, std::max(w - 4, 0), kTabBarHeight);
    frame_->setGeometry(0, kTabBarHeight - 1, w, std::max(h - kTabBarHeight + 1, 0));
    for (TTabPage* page : pages_)
        page->SetBounds(kPageLeft, kPageTop, std::max(w - kPageLeft - kPageRight, 0),
                        std::max(h - kPageTop - kPageBottom, 0));
    bar_->raise();
}

bool TTabbedNotebook::HandleEvent(QObject* target, QEvent* event) {
    return TWinControl::HandleEvent(target, event);
}

// ---- TTimer

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(std::make_unique<QTimer>()) {
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] {
        Dispatch([this] {
            if (OnTimer) OnTimer(this);
        });
    });
    Restart();
}

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool value) {
    if (enabled_ == value) return;
    enabled_ = value;
    Restart();
}

void TTimer::SetInterval(unsigned value) {
    if (interval_ == value) return;
    interval_ = value;
    Restart();
}

void TTimer::Restart() {
    timer_->stop();
    if (enabled_ && interval_ > 0) timer_->start(static_cast<int>(std::min(interval_, 0x7FFFFFFFu)));
}

}  // namespace vmk
