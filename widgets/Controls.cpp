#include "widgets/Controls.h"

#include <QDropEvent>
#include <QEvent>
#include <QFile>
#include <QFontDatabase>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <functional>

#include "widgets/Forms.h"
#include "widgets/QtSupport.h"

namespace vmk {

QString CaptionToQ(const std::string& caption) {
    QString text = ToQ(caption);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

namespace {
double gDesktopScale = 1.0;
}  // namespace

double DesktopScale() { return gDesktopScale; }
void SetDesktopScale(double scale) { gDesktopScale = std::max(scale, 1.0); }
int ScaledPixels(int pixels) { return static_cast<int>(std::lround(pixels * gDesktopScale)); }

namespace {
// The first face of the list the system has. MS Sans Serif is rare outside
// Windows; the others come close to its widths, so the laid-out texts fit.
QString FaceFor(const std::string& wanted) {
    const QStringList installed = QFontDatabase::families();
    const QStringList candidates = {ToQ(wanted), QStringLiteral("Microsoft Sans Serif"),
                                    QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                    QStringLiteral("DejaVu Sans Condensed")};
    for (const QString& face : candidates)
        if (installed.contains(face, Qt::CaseInsensitive)) return face;
    return QString();
}
}  // namespace

QFont ToQFont(const TFont& font) {
    QFont f;
    static const QString defaultFace = FaceFor("MS Sans Serif");
    const QString face = font.Name == "MS Sans Serif" ? defaultFace : FaceFor(font.Name);
    if (!face.isEmpty()) f.setFamily(face);
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(ScaledPixels(font.Height > 0 ? font.Height : 11));
    f.setBold(font.Bold);
    return f;
}

TShiftState ShiftFromQt(unsigned modifiers, unsigned buttons) {
    TShiftState s = 0;
    if (modifiers & Qt::ShiftModifier) s |= ssShift;
    if (modifiers & Qt::AltModifier) s |= ssAlt;
    if (modifiers & Qt::ControlModifier) s |= ssCtrl;
    if (buttons & Qt::LeftButton) s |= ssLeft;
    if (buttons & Qt::RightButton) s |= ssRight;
    if (buttons & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

// Watches the Qt events of one control's widgets and hands them to the control.
// Lives as a child of the widget, so it goes when Qt frees the widget.
class TControlHook : public QObject {
public:
    TControlHook(TControl* owner, QWidget* widget) : QObject(widget), owner_(owner) {}
    void Detach() { owner_ = nullptr; }
    // Events stop reaching the control (its widget is about to go).
    void Silence() { silent_ = true; }
    bool eventFilter(QObject* watched, QEvent* event) override {
        return owner_ && !silent_ ? owner_->HandleEvent(watched, event) : false;
    }

private:
    TControl* owner_;
    bool silent_ = false;
};

TControl::TControl(TComponent* owner, QWidget* widget)
    : TComponent(owner), widget_(widget), hook_(new TControlHook(this, widget)) {
    widget_->installEventFilter(hook_);
    widget_->setMouseTracking(true);
    // Mouse events belong to the control under the pointer alone, never also
    // to the panel behind it (a move over the cover preview must not reach the
    // panel's handler, which would take the crosshair away at once).
    widget_->setAttribute(Qt::WA_NoMousePropagation);
    widget_->setFont(ToQFont(font_));
    SyncBoundsFromWidget();
}

TControl::~TControl() {
    // What this control owns goes first, each child taking its own widget along.
    DestroyComponents();
    if (parent_) {
        auto& list = parent_->controls_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    if (widget_) {
        hook_->Detach();
        // Nothing of ours may run while Qt takes the widget apart.
        widget_->blockSignals(true);
        for (QObject* child : widget_->findChildren<QObject*>()) child->blockSignals(true);
        delete widget_;
        widget_ = nullptr;
    }
}

void TControl::SetLeft(int value) { SetBounds(value, GetTop(), GetWidth(), GetHeight()); }
void TControl::SetTop(int value) { SetBounds(GetLeft(), value, GetWidth(), GetHeight()); }
void TControl::SetWidth(int value) { SetBounds(GetLeft(), GetTop(), value, GetHeight()); }
void TControl::SetHeight(int value) { SetBounds(GetLeft(), GetTop(), GetWidth(), value); }

void TControl::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    ApplyBounds();
}

void TControl::ApplyBounds() {
    if (widget_) widget_->setGeometry(left_, top_, width_, height_);
}

void TControl::ScaleForDesktop() {
    // Each edge is scaled, so neighbours stay as far apart as they were.
    const int left = ScaledPixels(left_), top = ScaledPixels(top_);
    SetBounds(left, top, ScaledPixels(left_ + width_) - left, ScaledPixels(top_ + height_) - top);
    // A control sized by its text takes that size again.
    FontChanged();
}

void TWinControl::ScaleForDesktop() {
    TControl::ScaleForDesktop();
    ScaleChildrenForDesktop();
}

void TWinControl::ScaleChildrenForDesktop() {
    for (TControl* c : controls_) c->ScaleForDesktop();
}

void TControl::SyncBoundsFromWidget() {
    if (!widget_) return;
    left_ = widget_->x();
    top_ = widget_->y();
    width_ = widget_->width();
    height_ = widget_->height();
}

bool TControl::GetVisible() const {
    if (widget_ && widget_->isWindow()) return widget_->isVisible();
    return visible_;
}

void TControl::SetVisible(bool value) {
    visible_ = value;
    if (widget_) widget_->setVisible(value);
}

bool TControl::IsShowing() const { return widget_ && widget_->isVisible(); }

void TControl::SetEnabled(bool value) {
    enabled_ = value;
    if (widget_) widget_->setEnabled(value);
}

void TControl::SetHint(const std::string& value) {
    hint_ = value;
    if (widget_) widget_->setToolTip(showHint_ ? ToQ(hint_) : QString());
}

void TControl::SetShowHint(bool value) {
    showHint_ = value;
    SetHint(hint_);
}

void TControl::SetTabOrder(int value) { tabOrder_ = value; }

void TControl::SetFont(const TFont& font) {
    font_ = font;
    if (widget_) widget_->setFont(ToQFont(font_));
    FontChanged();
}

void TControl::FontChanged() {}

void TControl::SetParent(TWinControl* parent) {
    if (parent_ == parent) return;
    if (parent_) {
        auto& list = parent_->controls_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    parent_ = parent;
    if (!widget_) return;
    if (parent) {
        parent->controls_.push_back(this);
        widget_->setParent(parent->ClientWidget());
    } else {
        widget_->setParent(nullptr);
    }
    widget_->setVisible(visible_);
}

void TControl::Update() {
    if (widget_) widget_->repaint();
}

void TControl::Invalidate() {
    if (widget_) widget_->update();
}

void TControl::WatchChild(QWidget* child) {
    child->installEventFilter(hook_);
    child->setMouseTracking(true);
    child->setAttribute(Qt::WA_NoMousePropagation);
    child->setAcceptDrops(dragAcceptFiles_);
    watched_.push_back(child);
}

void TControl::SetDragAcceptFiles(bool value) {
    dragAcceptFiles_ = value;
    if (!widget_) return;
    // A list box takes drops on its viewport, a spin edit on its line edit:
    // every part of the control must let them in.
    widget_->setAcceptDrops(value);
    for (QWidget* child : watched_) child->setAcceptDrops(value);
}

namespace {

// The local files a drag carries, as the file system spells their paths; web
// addresses and the like are not files of ours.
std::vector<std::string> DroppedFiles(const QMimeData* mime) {
    std::vector<std::string> files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (!path.isEmpty()) files.push_back(QFile::encodeName(path).toStdString());
    }
    return files;
}

}  // namespace

bool TControl::MapMousePoint(QWidget* source, bool, int& x, int& y) const {
    if (source && source != widget_ && widget_) {
        const QPoint p = source->mapTo(widget_, QPoint(x, y));
        x = p.x();
        y = p.y();
    }
    return true;
}

bool TControl::HandleEvent(QObject* target, QEvent* event) {
    const QEvent::Type type = event->type();
    if (dragAcceptFiles_ && (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)) {
        auto* de = static_cast<QDropEvent*>(event);
        const std::vector<std::string> files = DroppedFiles(de->mimeData());
        if (files.empty()) return false;
        // Files are always taken as a copy: the file manager must not delete its own.
        if (de->possibleActions() & Qt::CopyAction) de->setDropAction(Qt::CopyAction);
        de->accept();
        if (type == QEvent::Drop && OnDropFiles) Dispatch([&] { OnDropFiles(this, files); });
        // Swallowed: an edit would otherwise insert the path into its text.
        return true;
    }
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonPress)
        return false;
    auto* me = static_cast<QMouseEvent*>(event);
    const QPoint at = me->position().toPoint();
    int x = at.x(), y = at.y();
    if (!MapMousePoint(qobject_cast<QWidget*>(target), type != QEvent::MouseMove, x, y)) return false;
    const TShiftState shift = ShiftFromQt(me->modifiers().toInt(), me->buttons().toInt());
    if (type == QEvent::MouseMove) {
        if (OnMouseMove) Dispatch([&] { OnMouseMove(this, shift, x, y); });
        return false;
    }
    TMouseButton button = TMouseButton::mbLeft;
    if (me->button() == Qt::RightButton)
        button = TMouseButton::mbRight;
    else if (me->button() == Qt::MiddleButton)
        button = TMouseButton::mbMiddle;
    const TMouseEvent& handler = type == QEvent::MouseButtonRelease ? OnMouseUp : OnMouseDown;
    if (handler) Dispatch([&] { handler(this, button, shift, x, y); });
    return false;
}

TWinControl::TWinControl(TComponent* owner, QWidget* widget) : TControl(owner, widget) {}

TWinControl::~TWinControl() {
    // What this control owns goes first, each child taking its own widget along.
    DestroyComponents();
    // Children still alive (owned elsewhere) lose their widgets with ours:
    // nothing of theirs may run while Qt takes them apart.
    std::function<void(const std::vector<TControl*>&)> silence = [&](const std::vector<TControl*>& list) {
        for (TControl* c : list) {
            if (c->widget_) c->hook_->Silence();
            if (auto* win = dynamic_cast<TWinControl*>(c)) silence(win->controls_);
        }
    };
    silence(controls_);
    for (TControl* child : controls_) child->parent_ = nullptr;
}

void TWinControl::SetFocus() {
    if (QWidget* w = GetWidget()) w->setFocus(Qt::OtherFocusReason);
}

bool TWinControl::Focused() const {
    QWidget* w = GetWidget();
    return w && (w->hasFocus() || (w->focusProxy() && w->focusProxy()->hasFocus()));
}

bool TWinControl::CanFocus() const { return IsShowing() && GetEnabled(); }

namespace {

struct TPlaced {
    TControl* control;
    int left, top, right, bottom;
};

// Two boxes whose edges overlap by this much still count as side by side: the
// classic layouts set 17-pixel rows at a 16-pixel pitch.
constexpr int kOverlapSlack = 2;

// Splits the items into bands along one axis wherever no item spans the gap.
std::vector<std::vector<TPlaced>> Bands(std::vector<TPlaced> items, bool columns) {
    const auto start = [columns](const TPlaced& p) { return columns ? p.left : p.top; };
    const auto end = [columns](const TPlaced& p) { return columns ? p.right : p.bottom; };
    std::stable_sort(items.begin(), items.end(),
                     [&](const TPlaced& a, const TPlaced& b) { return start(a) < start(b); });
    std::vector<std::vector<TPlaced>> bands;
    int reach = 0;
    for (const TPlaced& p : items) {
        if (bands.empty() || start(p) > reach - kOverlapSlack) {
            bands.emplace_back();
            reach = end(p);
        }
        bands.back().push_back(p);
        reach = std::max(reach, end(p));
    }
    return bands;
}

// Reading order: separate columns first (so a column is read down before the
// next), then rows, each cut again the same way; what no cut separates goes by
// its top-left corner.
void ReadingOrder(const std::vector<TPlaced>& items, std::vector<TControl*>& out) {
    if (items.size() < 2) {
        for (const TPlaced& p : items) out.push_back(p.control);
        return;
    }
    for (bool columns : {true, false}) {
        const auto bands = Bands(items, columns);
        if (bands.size() < 2) continue;
        for (const auto& band : bands) ReadingOrder(band, out);
        return;
    }
    std::vector<TPlaced> rest = items;
    std::stable_sort(rest.begin(), rest.end(), [](const TPlaced& a, const TPlaced& b) {
        return a.top != b.top ? a.top < b.top : a.left < b.left;
    });
    for (const TPlaced& p : rest) out.push_back(p.control);
}

}  // namespace

void TWinControl::OrderTabStops() {
    std::vector<TPlaced> stops;
    for (TControl* c : controls_)
        if (c->GetTabOrder() >= 0)
            stops.push_back({c, c->GetLeft(), c->GetTop(), c->GetLeft() + c->GetWidth(), c->GetTop() + c->GetHeight()});
    std::vector<TControl*> ordered;
    ReadingOrder(stops, ordered);
    // Radio buttons with one parent are one group and one stop: they stay
    // together where the first of them comes.
    std::vector<TControl*> grouped;
    bool radiosPlaced = false;
    for (TControl* c : ordered) {
        const bool radio = c->IsRadioGroupMember();
        if (radio && radiosPlaced) continue;
        if (!radio) {
            grouped.push_back(c);
            continue;
        }
        radiosPlaced = true;
        for (TControl* r : ordered)
            if (r->IsRadioGroupMember()) grouped.push_back(r);
    }
    for (size_t i = 0; i < grouped.size(); ++i) grouped[i]->tabOrder_ = static_cast<int>(i);
    for (TControl* c : controls_)
        if (auto* win = dynamic_cast<TWinControl*>(c)) win->OrderTabStops();
}

void TWinControl::CollectTabChain(std::vector<QWidget*>& chain) const {
    std::vector<TControl*> ordered;
    for (TControl* c : controls_)
        if (c->GetTabOrder() >= 0 && c->GetWidget()) ordered.push_back(c);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](TControl* a, TControl* b) { return a->GetTabOrder() < b->GetTabOrder(); });
    if (ordered.empty()) {
        // A control made of parts (a spin edit) goes in whole; Qt puts its
        // focus proxy in its place.
        if (QWidget* w = GetWidget()) chain.push_back(w);
        return;
    }
    for (TControl* c : ordered) {
        if (auto* win = dynamic_cast<TWinControl*>(c))
            win->CollectTabChain(chain);
        else
            chain.push_back(c->GetWidget());
    }
}

void TWinControl::ApplyTabOrder() {
    OrderTabStops();
    std::vector<QWidget*> chain;
    CollectTabChain(chain);
    for (size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
    UpdateRadioStops(true);
}

void TWinControl::UpdateRadioStops(bool below) {
    // The group's one stop is its checked button, or its first while none is.
    std::vector<TControl*> radios;
    for (TControl* c : controls_)
        if (c->IsRadioGroupMember() && c->GetWidget()) radios.push_back(c);
    if (!radios.empty()) {
        TControl* stop = nullptr;
        for (TControl* r : radios)
            if (r->IsRadioChecked()) stop = r;
        if (!stop)
            stop = *std::min_element(radios.begin(), radios.end(),
                                     [](TControl* a, TControl* b) { return a->GetTabOrder() < b->GetTabOrder(); });
        for (TControl* r : radios) r->GetWidget()->setFocusPolicy(r == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
    if (!below) return;
    for (TControl* c : controls_)
        if (auto* win = dynamic_cast<TWinControl*>(c)) win->UpdateRadioStops(true);
}

}  // namespace vmk
