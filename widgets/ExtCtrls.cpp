#include "widgets/ExtCtrls.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <vector>

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
        // The outline in the desktop's text colour, so a dark theme shows it too.
        p.setPen(QPen(palette().color(QPalette::WindowText), 1));
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

// The part src of the bitmap as a Qt image; with see-through on, its
// transparent colour becomes fully transparent.
QImage ToQImage(TBitmap& bitmap, bool seeThrough, bool showAlpha, const QRect& src) {
    const QRect part = src & QRect(0, 0, bitmap.Width(), bitmap.Height());
    if (part.isEmpty()) return QImage();
    QImage out(part.width(), part.height(), QImage::Format_ARGB32);
    if (out.isNull()) return out;
    const TColor clear = bitmap.GetTransparentColor();
    const bool alpha = showAlpha && bitmap.GetAlphaChannel();
    std::vector<TColor> colors(static_cast<size_t>(part.width()));
    for (int row = 0; row < part.height(); ++row) {
        bitmap.GetRowColors(part.top() + row, part.left(), part.width(), colors.data());
        const uint8_t* own = alpha ? bitmap.GetScanline(part.top() + row) + part.left() * 4 : nullptr;
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(row));
        for (int col = 0; col < part.width(); ++col) {
            const TColor c = colors[static_cast<size_t>(col)];
            const int a = own ? own[col * 4 + 3] : 255;
            dst[col] =
                (seeThrough && c == clear) ? qRgba(0, 0, 0, 0) : qRgba(GetRValue(c), GetGValue(c), GetBValue(c), a);
        }
    }
    return out;
}

// Which scroll bars a picture of pw x ph needs in a control of w x h. One bar
// takes room from the other direction, which may then need a bar too. A
// control too small to hold its bars only cuts the picture off.
void NeedScrollBars(int pw, int ph, int w, int h, int bar, bool& needH, bool& needV) {
    needH = needV = false;
    if (w < 2 * bar || h < 2 * bar) return;
    needH = pw > w;
    needV = ph > h;
    if (needH && !needV) needV = ph > h - bar;
    if (needV && !needH) needH = pw > w - bar;
}

// The whole bitmap scaled down to w x h: averaged over whole blocks first
// (cheap, and it keeps the detail a plain resample would alias away), then
// resampled smoothly to the exact size. Averaging is done on premultiplied
// colour, so see-through pixels do not darken their neighbours.
QImage ScaledImage(const TBitmap& bitmap, bool seeThrough, bool showAlpha, int w, int h) {
    const int pw = bitmap.Width(), ph = bitmap.Height();
    if (w <= 0 || h <= 0 || pw <= 0 || ph <= 0) return QImage();
    const int k = std::max(1, std::min(pw / w, ph / h));
    const int rw = pw / k, rh = ph / k;
    QImage reduced(rw, rh, QImage::Format_ARGB32_Premultiplied);
    if (reduced.isNull()) return reduced;
    const TColor clear = bitmap.GetTransparentColor();
    const bool alpha = showAlpha && bitmap.GetAlphaChannel();
    const TPixelFormat format = bitmap.GetPixelFormat();
    const bool plain = !alpha && !seeThrough && (format == TPixelFormat::pf24bit || format == TPixelFormat::pfDevice);
    if (plain && ph > 1 && bitmap.GetScanline(1) - bitmap.GetScanline(0) == bitmap.GetStride()) {
        // Plain rows top down, as Qt reads them: its own smooth scaling, which
        // averages areas too, works on them in place.
        const QImage rows(bitmap.GetScanline(0), pw, ph, bitmap.GetStride(), QImage::Format_BGR888);
        return rows.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    const auto width = static_cast<size_t>(rw) * static_cast<size_t>(k);
    std::vector<uint32_t> sums(static_cast<size_t>(rw) * 4);
    std::vector<TColor> colors(plain ? 0 : width);
    const uint32_t n = static_cast<uint32_t>(k) * static_cast<uint32_t>(k);
    for (int ry = 0; ry < rh; ++ry) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int dy = 0; dy < k; ++dy) {
            const int y = ry * k + dy;
            const uint8_t* row = bitmap.GetScanline(y);
            if (plain) {
                for (size_t x = 0; x < width; ++x) {
                    uint32_t* sum = &sums[x / static_cast<size_t>(k) * 4];
                    sum[0] += row[3 * x + 2];
                    sum[1] += row[3 * x + 1];
                    sum[2] += row[3 * x];
                    sum[3] += 255;
                }
                continue;
            }
            bitmap.GetRowColors(y, 0, static_cast<int>(width), colors.data());
            for (size_t x = 0; x < width; ++x) {
                const TColor c = colors[x];
                uint32_t a = alpha ? row[x * 4 + 3] : 255;
                if (seeThrough && c == clear) a = 0;
                uint32_t* sum = &sums[x / static_cast<size_t>(k) * 4];
                sum[0] += GetRValue(c) * a / 255;
                sum[1] += GetGValue(c) * a / 255;
                sum[2] += GetBValue(c) * a / 255;
                sum[3] += a;
            }
        }
        auto* dst = reinterpret_cast<QRgb*>(reduced.scanLine(ry));
        for (int x = 0; x < rw; ++x) {
            const uint32_t* sum = &sums[static_cast<size_t>(x) * 4];
            dst[x] = qRgba(static_cast<int>(sum[0] / n), static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n),
                           static_cast<int>(sum[3] / n));
        }
    }
    if (rw == w && rh == h) return reduced;
    return reduced.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

// The control's widget: paints the visible part of the picture and holds the
// two scroll bars, laid out by TImage::Layout whenever the size or the picture
// changes, whether or not the control is shown.
class TImage::View : public QWidget {
public:
    explicit View(TImage* owner) : owner_(owner) {
        horz = new QScrollBar(Qt::Horizontal, this);
        vert = new QScrollBar(Qt::Vertical, this);
        for (QScrollBar* bar : {horz, vert}) {
            bar->hide();
            bar->setRange(0, 0);
            bar->setFocusPolicy(Qt::NoFocus);
            QObject::connect(bar, &QScrollBar::valueChanged, this, [this] { update(); });
        }
    }
    QScrollBar* horz;
    QScrollBar* vert;
    QRect viewArea;  // where the picture shows, scroll bars left out

protected:
    void paintEvent(QPaintEvent* event) override { owner_->Paint(*this, event->rect()); }
    void wheelEvent(QWheelEvent* event) override {
        const QPoint steps = event->angleDelta() / 120;
        owner_->WheelScroll(-steps.x(), -steps.y());
        event->accept();
    }

private:
    TImage* owner_;
};

struct TImage::Cache {
    // The picture last seen, to tell a new one from a changed one.
    const TGraphic* graphic = nullptr;
    int width = -1, height = -1;
    std::unique_ptr<TBitmap> decoded;  // a picture of another kind, decoded once
    bool decodeFailed = false;
    QImage fitted;  // the fitted picture, made for its shown size
};

TImage::TImage(TComponent* owner)
    : TControl(owner, new View(this)),
      picture_(std::make_unique<TPicture>()),
      cache_(std::make_unique<Cache>()),
      view_(static_cast<View*>(GetWidget())) {
    picture_->OnChange = [this](TPicture&) { PictureChanged(); };
    WatchChild(view_->horz);
    WatchChild(view_->vert);
    boxWidth_ = GetWidth();
    boxHeight_ = GetHeight();
}

TImage::~TImage() = default;

TCanvas& TImage::GetCanvas() { return picture_->GetBitmap().GetCanvas(); }

void TImage::SetAutoSize(bool value) {
    autoSize_ = value;
    PictureChanged();
}

void TImage::SetTransparent(bool value) {
    transparent_ = value;
    PictureChanged();
}

void TImage::SetShowAlpha(bool value) {
    showAlpha_ = value;
    PictureChanged();
}

void TImage::SetFit(bool value) {
    if (fit_ == value) return;
    fit_ = value;
    // An auto-sized control sizes itself anew for the picture as now shown.
    if (autoSize_) TControl::SetBounds(GetLeft(), GetTop(), boxWidth_, boxHeight_);
    PictureChanged();
}

int TImage::GetFitBoxWidth() const {
    int roomW = 0, roomH = 0;
    RoomInParents(roomW, roomH);
    return std::min(boxWidth_, roomW);
}

int TImage::GetFitBoxHeight() const {
    int roomW = 0, roomH = 0;
    RoomInParents(roomW, roomH);
    return std::min(boxHeight_, roomH);
}

void TImage::FittedSize(int pw, int ph, int& w, int& h) const {
    w = pw;
    h = ph;
    const int bw = GetFitBoxWidth(), bh = GetFitBoxHeight();
    if (!fit_ || (pw <= bw && ph <= bh) || pw <= 0 || ph <= 0) return;
    if (bw <= 0 || bh <= 0) {
        w = h = 0;
        return;
    }
    // The side that is tighter decides; the other follows, rounded down.
    if (int64_t{bw} * ph <= int64_t{bh} * pw) {
        w = bw;
        h = static_cast<int>(std::max<int64_t>(int64_t{ph} * bw / pw, 1));
    } else {
        h = bh;
        w = static_cast<int>(std::max<int64_t>(int64_t{pw} * bh / ph, 1));
    }
}

int TImage::GetShownWidth() const {
    int w = 0, h = 0;
    FittedSize(picture_->GetWidth(), picture_->GetHeight(), w, h);
    return w;
}

int TImage::GetShownHeight() const {
    int w = 0, h = 0;
    FittedSize(picture_->GetWidth(), picture_->GetHeight(), w, h);
    return h;
}

void TImage::SetBounds(int left, int top, int width, int height) {
    boxWidth_ = std::max(width, 0);
    boxHeight_ = std::max(height, 0);
    TControl::SetBounds(left, top, width, height);
    Layout();
}

int TImage::GetScrollLeft() const { return view_ && view_->horz->isVisibleTo(view_) ? view_->horz->value() : 0; }
int TImage::GetScrollTop() const { return view_ && view_->vert->isVisibleTo(view_) ? view_->vert->value() : 0; }
int TImage::GetViewWidth() const { return view_ ? view_->viewArea.width() : 0; }
int TImage::GetViewHeight() const { return view_ ? view_->viewArea.height() : 0; }

void TImage::ScrollTo(int x, int y) {
    if (!view_) return;
    // The bars keep their values within their ranges.
    view_->horz->setValue(x);
    view_->vert->setValue(y);
}

void TImage::ScrollInView(const TRect& part) {
    if (!view_) return;
    const auto axis = [](int from, int to, int scroll, int view) {
        if (to - from >= view || from < scroll) return from;  // its start first
        if (to > scroll + view) return to - view;
        return scroll;
    };
    ScrollTo(axis(part.Left, part.Right, GetScrollLeft(), GetViewWidth()),
             axis(part.Top, part.Bottom, GetScrollTop(), GetViewHeight()));
}

void TImage::WheelScroll(int dx, int dy) {
    if (!view_) return;
    const int lines = QApplication::wheelScrollLines();
    // A wheel that only turns up and down scrolls sideways when only that bar shows.
    if (dx == 0 && !view_->vert->isVisibleTo(view_)) std::swap(dx, dy);
    view_->horz->setValue(view_->horz->value() + dx * lines * view_->horz->singleStep());
    view_->vert->setValue(view_->vert->value() + dy * lines * view_->vert->singleStep());
}

void TImage::RoomInParents(int& width, int& height) const {
    width = height = INT_MAX;
    if (!view_) return;
    // A control may reach past its page (the previews' layout rule lets them
    // run 20 pixels below it): what the parents cut off cannot hold a bar.
    for (const QWidget* p = view_->parentWidget(); p; p = p->isWindow() ? nullptr : p->parentWidget()) {
        const QPoint at = view_->mapTo(p, QPoint(0, 0));
        width = std::min(width, std::max(p->width() - at.x(), 0));
        height = std::min(height, std::max(p->height() - at.y(), 0));
    }
}

void TImage::Layout() {
    if (!view_) return;
    const int pw = picture_->GetWidth(), ph = picture_->GetHeight();
    int roomW = 0, roomH = 0;
    RoomInParents(roomW, roomH);
    const int w = std::min(GetWidth(), roomW), h = std::min(GetHeight(), roomH);
    const int bar = view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view_);
    bool needH = false, needV = false;
    if (!fit_) NeedScrollBars(pw, ph, w, h, bar, needH, needV);
    const int viewW = std::max(w - (needV ? bar : 0), 0);
    const int viewH = std::max(h - (needH ? bar : 0), 0);
    view_->viewArea = QRect(0, 0, viewW, viewH);
    cache_->fitted = QImage();
    QScrollBar* horz = view_->horz;
    QScrollBar* vert = view_->vert;
    horz->setRange(0, needH ? pw - viewW : 0);
    horz->setPageStep(std::max(viewW, 1));
    horz->setSingleStep(16);
    vert->setRange(0, needV ? ph - viewH : 0);
    vert->setPageStep(std::max(viewH, 1));
    vert->setSingleStep(16);
    horz->setGeometry(0, h - bar, viewW, bar);
    vert->setGeometry(w - bar, 0, bar, viewH);
    horz->setVisible(needH);
    vert->setVisible(needV);
    view_->update();
}

void TImage::PictureChanged() {
    TGraphic* graphic = picture_->GetGraphic();
    const bool newPicture = graphic != cache_->graphic;
    cache_->decoded.reset();
    cache_->decodeFailed = false;
    cache_->fitted = QImage();
    cache_->graphic = graphic;
    cache_->width = picture_->GetWidth();
    cache_->height = picture_->GetHeight();
    // Only a new picture sizes the control, and never to nothing: the window's
    // resizing may set another size afterwards.
    if (autoSize_ && graphic && cache_->width > 0 && cache_->height > 0 && view_) {
        const int bar = view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view_);
        int roomW = 0, roomH = 0;
        RoomInParents(roomW, roomH);
        const int boxW = std::min(boxWidth_, roomW), boxH = std::min(boxHeight_, roomH);
        bool needH = false, needV = false;
        int shownW = 0, shownH = 0;
        FittedSize(cache_->width, cache_->height, shownW, shownH);
        if (!fit_) NeedScrollBars(cache_->width, cache_->height, boxW, boxH, bar, needH, needV);
        const int w = std::min(shownW + (needV ? bar : 0), boxW);
        const int h = std::min(shownH + (needH ? bar : 0), boxH);
        TControl::SetBounds(GetLeft(), GetTop(), w, h);
    }
    Layout();
    if (newPicture) ScrollTo(0, 0);
    Invalidate();
}

bool TImage::MapMousePoint(QWidget* source, bool button, int& x, int& y) const {
    if (!view_) return false;
    QPoint p(x, y);
    if (source && source != view_) p = source->mapTo(view_, p);
    const bool onScrollBar = source == view_->horz || source == view_->vert;
    if (onScrollBar || !view_->viewArea.contains(p)) {
        if (button) return false;
        x = y = -1;
        return true;
    }
    int shownW = 0, shownH = 0;
    const int pw = picture_->GetWidth(), ph = picture_->GetHeight();
    FittedSize(pw, ph, shownW, shownH);
    if (shownW != pw || shownH != ph) {
        // The picture's own pixel under the pointer; past the shown picture,
        // points past the picture, so that they lie on none of its pixels.
        const auto axis = [](int at, int shown, int full) {
            if (at >= shown) return full + (at - shown);
            return static_cast<int>(int64_t{at} * full / shown);
        };
        x = axis(p.x(), shownW, pw);
        y = axis(p.y(), shownH, ph);
        return true;
    }
    x = p.x() + GetScrollLeft();
    y = p.y() + GetScrollTop();
    return true;
}

TBitmap* TImage::PaintedBitmap() {
    TGraphic* graphic = picture_->GetGraphic();
    if (!graphic || graphic->GetEmpty()) return nullptr;
    TBitmap* bitmap = dynamic_cast<TBitmap*>(graphic);
    if (bitmap) return bitmap;
    if (!cache_->decoded && !cache_->decodeFailed) {
        try {
            auto decoded = std::make_unique<TBitmap>();
            decoded->Assign(*graphic);
            cache_->decoded = std::move(decoded);
        } catch (const std::exception&) {
            // Painting cannot report: the handlers decode a picture before
            // they show it, so only a picture handed over undecoded gets here.
            cache_->decodeFailed = true;
        }
    }
    return cache_->decoded.get();
}

void TImage::PaintFitted(QPainter& p, const TBitmap& bitmap, const QRect& shown, int w, int h) {
    if (cache_->fitted.width() != w || cache_->fitted.height() != h)
        cache_->fitted = ScaledImage(bitmap, transparent_, showAlpha_, w, h);
    if (cache_->fitted.isNull()) return;
    const QRect under = shown & QRect(0, 0, w, h);
    if (under.isEmpty()) return;
    if (showAlpha_ && bitmap.GetAlphaChannel()) PaintCheckerboard(p, under, 0, 0);
    p.drawImage(under.topLeft(), cache_->fitted, under);
}

void TImage::Paint(QWidget& target, const QRect& area) {
    QPainter p(&target);
    const int sx = GetScrollLeft(), sy = GetScrollTop();
    // Only the part that shows is converted: a large photo need not be whole.
    const QRect shown = area & view_->viewArea;
    if (shown.isEmpty()) return;
    TBitmap* bitmap = PaintedBitmap();
    if (!bitmap) return;
    int shownW = 0, shownH = 0;
    FittedSize(bitmap->Width(), bitmap->Height(), shownW, shownH);
    if (shownW != bitmap->Width() || shownH != bitmap->Height()) {
        PaintFitted(p, *bitmap, shown, shownW, shownH);
        return;
    }
    const QImage image = ToQImage(*bitmap, transparent_, showAlpha_, shown.translated(sx, sy));
    if (image.isNull()) return;
    if (showAlpha_ && bitmap->GetAlphaChannel()) PaintCheckerboard(p, QRect(shown.topLeft(), image.size()), sx, sy);
    p.drawImage(shown.topLeft(), image);
}

void TImage::PaintCheckerboard(QPainter& p, const QRect& under, int sx, int sy) {
    // A light checkerboard under the picture, fixed to it, so that what is
    // see-through shows as such.
    constexpr int kSquare = 8;
    p.fillRect(under, QColor(255, 255, 255));
    for (int y = (under.top() + sy) / kSquare * kSquare - sy; y < under.bottom() + 1; y += kSquare)
        for (int x = (under.left() + sx) / kSquare * kSquare - sx; x < under.right() + 1; x += kSquare)
            if (((x + sx) / kSquare + (y + sy) / kSquare) % 2 != 0)
                p.fillRect(QRect(x, y, kSquare, kSquare) & under, QColor(214, 214, 214));
}

// ---- TTabbedNotebook

namespace {
// The tabs' height follows the font; the page starts 3 pixels below them.
int TabBarHeight() { return ScaledPixels(21); }
int PageTop() { return TabBarHeight() + 3; }
constexpr int kPageLeft = 4, kPageRight = 4, kPageBottom = 4;
}  // namespace

class TTabbedNotebook::TabBar : public QTabBar {
public:
    using QTabBar::QTabBar;
};

// Watches every key of the application for the page keys of the notebook's
// window: a focused list or edit would otherwise take Ctrl+Page Down itself.
class TTabbedNotebook::PageKeys : public QObject {
public:
    PageKeys(TTabbedNotebook* owner, QObject* parent) : QObject(parent), owner_(owner) {}

    static int StepOf(const QKeyEvent& ke) {
        const Qt::KeyboardModifiers mods = ke.modifiers() & ~Qt::KeypadModifier;
        if (!(mods & Qt::ControlModifier) || (mods & (Qt::AltModifier | Qt::MetaModifier))) return 0;
        const bool shift = (mods & Qt::ShiftModifier) != 0;
        switch (ke.key()) {
        case Qt::Key_Tab: return shift ? -1 : 1;
        case Qt::Key_Backtab: return -1;
        case Qt::Key_PageDown: return shift ? 0 : 1;
        case Qt::Key_PageUp: return shift ? 0 : -1;
        default: return 0;
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
        auto* ke = static_cast<QKeyEvent*>(event);
        const int step = StepOf(*ke);
        auto* target = qobject_cast<QWidget*>(watched);
        QWidget* own = owner_->GetWidget();
        if (step == 0 || !target || !own || !own->isVisible() || target->window() != own->window()) return false;
        // Claimed before any shortcut; the key press itself then changes the page.
        ke->accept();
        if (type == QEvent::KeyPress) owner_->StepPage(step);
        return true;
    }

private:
    TTabbedNotebook* owner_;
};

TTabPage::TTabPage(TComponent* owner, const std::string& caption) : TWinControl(owner, new QWidget), caption_(caption) {
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
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(new PageKeys(this, bar_));
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

void TTabbedNotebook::SetPageIndex(int index) { ChangePage(index); }

void TTabbedNotebook::SelectByUser(int index) {
    if (!bar_->isEnabled()) return;  // a disabled tab takes no click
    Dispatch([&] { ChangePage(index); });
}

void TTabbedNotebook::ChangePage(int index) {
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
    const int barHeight = TabBarHeight(), pageTop = PageTop();
    bar_->setGeometry(2, 0, std::max(w - 4, 0), barHeight);
    frame_->setGeometry(0, barHeight - 1, w, std::max(h - barHeight + 1, 0));
    for (TTabPage* page : pages_)
        page->SetBounds(kPageLeft, pageTop, std::max(w - kPageLeft - kPageRight, 0),
                        std::max(h - pageTop - kPageBottom, 0));
    bar_->raise();
}

bool TTabbedNotebook::HandleEvent(QObject* target, QEvent* event) { return TWinControl::HandleEvent(target, event); }

void TTabbedNotebook::CollectTabChain(std::vector<QWidget*>& chain) const {
    chain.push_back(bar_);
    for (TTabPage* page : pages_) page->CollectTabChain(chain);
}

void TTabbedNotebook::StepPage(int step) {
    const int count = GetPageCount();
    if (count < 2 || !bar_->isEnabled()) return;
    TTabPage* old = GetPage(pageIndex_);
    QWidget* focus = QApplication::focusWidget();
    const bool focusOnPage = focus && old && old->GetWidget() && old->GetWidget()->isAncestorOf(focus);
    SelectByUser(((pageIndex_ + step) % count + count) % count);
    TTabPage* now = GetPage(pageIndex_);
    if (now == old || !focusOnPage) return;
    std::vector<QWidget*> chain;
    now->CollectTabChain(chain);
    for (QWidget* w : chain)
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    bar_->setFocus(Qt::TabFocusReason);
}

// ---- TTimer

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(std::make_unique<QTimer>()) {
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { Fire(); });
    Restart();
}

TTimer::~TTimer() {
    if (TManualClock* clock = TManualClock::Current()) clock->Forget(this);
}

void TTimer::Fire() {
    Dispatch([this] {
        if (OnTimer) OnTimer(this);
    });
}

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
    const bool running = enabled_ && interval_ > 0;
    if (TManualClock* clock = TManualClock::Current()) {
        if (running)
            clock->Schedule(this, clock->Now() + interval_);
        else
            clock->Forget(this);
        return;
    }
    if (running) timer_->start(static_cast<int>(std::min(interval_, 0x7FFFFFFFu)));
}

// ---- TManualClock

namespace {
TManualClock* currentClock = nullptr;
}

TManualClock::TManualClock() : previous_(currentClock) { currentClock = this; }

TManualClock::~TManualClock() { currentClock = previous_; }

TManualClock* TManualClock::Current() { return currentClock; }

void TManualClock::Schedule(TTimer* timer, uint64_t at) { due_[timer] = Due{at, started_++}; }

void TManualClock::Forget(TTimer* timer) { due_.erase(timer); }

void TManualClock::Advance(unsigned ms) {
    const uint64_t end = now_ + ms;
    for (;;) {
        auto next = due_.end();
        for (auto it = due_.begin(); it != due_.end(); ++it)
            if (it->second.at <= end && (next == due_.end() || it->second.at < next->second.at ||
                                         (it->second.at == next->second.at && it->second.order < next->second.order)))
                next = it;
        if (next == due_.end()) break;
        TTimer* timer = next->first;
        now_ = next->second.at;
        // Due again an interval on, unless OnTimer stops or restarts it.
        Schedule(timer, now_ + timer->interval_);
        timer->Fire();
    }
    now_ = end;
}

}  // namespace vmk
