#include "widgets/Forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#include "core/Exception.h"
#include "widgets/Dialogs.h"
#include "widgets/ExtCtrls.h"
#include "widgets/QtSupport.h"
#include "widgets/StdCtrls.h"

namespace vmk {

namespace {
TApplication gApplication;
TScreen gScreen;

// Fusion with the indicator sizes and spacings of the classic Windows look, so
// captions laid out for it fit their controls.
class TClassicStyle : public QProxyStyle {
public:
    TClassicStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight: return 12;
        case PM_CheckBoxLabelSpacing:
        case PM_RadioButtonLabelSpacing: return 3;
        case PM_TabBarTabHSpace: return 10;
        default: return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
    // A focused push button gets the classic dotted ring inside its edge:
    // Fusion marks focus and the default button alike, so the large default
    // Process button would never show that it has the focus.
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element != CE_PushButton || !(option->state & State_HasFocus)) return;
        painter->save();
        QPen pen(option->palette.color(QPalette::ButtonText), 1, Qt::DotLine);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(4, 4, -5, -5));
        painter->restore();
    }
};
}  // namespace

// The desktop's font size against the layout's 11 pixels, as the desktop
// was when the program started. The offscreen platform has no desktop: there
// the layout keeps its own size, the same on every machine.
namespace {
double DesktopFontScale() {
    static const double scale = [] {
        if (QGuiApplication::platformName() == QStringLiteral("offscreen")) return 1.0;
        const QFontInfo desktop(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
        return desktop.pixelSize() > 0 ? desktop.pixelSize() / 11.0 : 1.0;
    }();
    return scale;
}
}  // namespace

TApplication* Application = &gApplication;
TScreen* Screen = &gScreen;

// ---- TForm

TForm::TForm(TComponent* owner) : TWinControl(owner, new QWidget(nullptr, Qt::Window)) {
    QWidget* w = GetWidget();
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->setAutoFillBackground(true);
    w->hide();
}

TForm::~TForm() = default;

void TForm::SetCaption(const std::string& value) {
    caption_ = value;
    if (QWidget* w = GetWidget()) w->setWindowTitle(ToQ(value));
}

namespace {
QSize FrameExtra(const QWidget& w) {
    const QSize extra = w.frameGeometry().size() - w.geometry().size();
    return QSize(std::max(extra.width(), 0), std::max(extra.height(), 0));
}
}  // namespace

void TForm::SetOuterSize(int width, int height) {
    outerWidth_ = width;
    outerHeight_ = height;
    if (QWidget* w = GetWidget()) {
        const QSize extra = FrameExtra(*w);
        w->resize(width - extra.width(), height - extra.height());
    }
}

void TForm::SetMinOuterSize(int width, int height) {
    minOuterWidth_ = width;
    minOuterHeight_ = height;
    ApplyMinimum();
}

void TForm::SetMinClientSize(int width, int height) {
    minClientWidth_ = width;
    minClientHeight_ = height;
    ApplyMinimum();
}

void TForm::ApplyMinimum() {
    QWidget* w = GetWidget();
    if (!w) return;
    QSize extra = FrameExtra(*w);
    if (w->windowHandle()) {
        const QMargins m = w->windowHandle()->frameMargins();
        extra = extra.expandedTo(QSize(m.left() + m.right(), m.top() + m.bottom()));
    }
    w->setMinimumSize(std::max(minOuterWidth_ - extra.width(), minClientWidth_),
                      std::max(minOuterHeight_ - extra.height(), minClientHeight_));
}

void TForm::ScaleForDesktop() {
    ScaleChildrenForDesktop();
    if (outerWidth_ > 0) SetOuterSize(ScaledPixels(outerWidth_), ScaledPixels(outerHeight_));
    if (minOuterWidth_ > 0) SetMinOuterSize(ScaledPixels(minOuterWidth_), ScaledPixels(minOuterHeight_));
}

TForm::TPlacement TForm::GetPlacement() const {
    TPlacement p;
    QWidget* w = GetWidget();
    if (!w) return p;
    const QRect client = w->isMaximized() || w->isFullScreen() ? w->normalGeometry() : w->geometry();
    QMargins m;
    if (w->windowHandle()) m = w->windowHandle()->frameMargins();
    p.Left = client.left() - m.left();
    p.Top = client.top() - m.top();
    p.Width = client.width() + m.left() + m.right();
    p.Height = client.height() + m.top() + m.bottom();
    p.Maximized = w->isVisible() ? w->isMaximized() : maximized_;
    return p;
}

void TForm::SetPlacement(int left, int top, int width, int height) {
    QWidget* w = GetWidget();
    if (!w) return;
    // The screen the window's middle is on, else the one its corner is on.
    const QPoint middle(left + width / 2, top + height / 2);
    QScreen* screen = QGuiApplication::screenAt(middle);
    if (!screen) screen = QGuiApplication::screenAt(QPoint(left, top));
    if (!screen) {
        // Off every screen now (a screen gone since): its size, in the middle.
        SetOuterSize(width, height);
        CenterOnScreen();
        return;
    }
    const QRect area = screen->availableGeometry();
    width = std::min(width, area.width());
    height = std::min(height, area.height());
    SetOuterSize(width, height);
    const QSize outer = QSize(width, height).expandedTo(w->frameGeometry().size());
    left = std::clamp(left, area.left(), std::max(area.left(), area.left() + area.width() - outer.width()));
    top = std::clamp(top, area.top(), std::max(area.top(), area.top() + area.height() - outer.height()));
    w->move(left, top);
    placed_ = true;
}

void TForm::SetMaximized(bool value) {
    maximized_ = value;
    QWidget* w = GetWidget();
    if (!w || !w->isVisible()) return;
    if (value)
        w->showMaximized();
    else
        w->showNormal();
}

int TForm::GetClientWidth() const { return GetWidget() ? GetWidget()->width() : 0; }
int TForm::GetClientHeight() const { return GetWidget() ? GetWidget()->height() : 0; }

void TForm::SetClientSize(int width, int height) {
    if (QWidget* w = GetWidget()) w->resize(width, height);
}

void TForm::CenterOnScreen() {
    QWidget* w = GetWidget();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!w || !screen) return;
    const QRect area = screen->availableGeometry();
    const QSize outer = w->frameGeometry().size().expandedTo(w->size());
    w->move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
}

void TForm::SetIconResource(const std::string& path) {
    if (QWidget* w = GetWidget()) w->setWindowIcon(QIcon(ToQ(path)));
}

void TForm::ShowWindow() {
    if (QWidget* w = GetWidget()) {
        if (maximized_)
            w->showMaximized();
        else
            w->show();
        w->activateWindow();
    }
}

void TForm::FitFrame() {
    QWidget* w = GetWidget();
    if (!w || !w->windowHandle()) return;
    const QMargins m = w->windowHandle()->frameMargins();
    const int fw = m.left() + m.right(), fh = m.top() + m.bottom();
    if (fw <= 0 && fh <= 0) return;  // no frame (offscreen, or not known yet)
    ApplyMinimum();
    if (w->isMaximized()) return;
    if (outerWidth_ > 0) w->resize(outerWidth_ - fw, outerHeight_ - fh);
    // A window put in its place stays there; only a new one is centred.
    if (!placed_) CenterOnScreen();
}

void TForm::Close() {
    if (QWidget* w = GetWidget()) w->close();
}

namespace {

// The first button below parent, depth first in creation order, that passes test.
TButton* FindButton(TWinControl* parent, const std::function<bool(TButton&)>& test) {
    for (int i = 0; i < parent->GetControlCount(); ++i) {
        TControl* c = parent->GetControl(i);
        if (auto* b = dynamic_cast<TButton*>(c); b && test(*b)) return b;
        if (auto* win = dynamic_cast<TWinControl*>(c))
            if (TButton* found = FindButton(win, test)) return found;
    }
    return nullptr;
}

bool IsLiveButton(TButton& b) { return b.IsShowing() && b.GetWidget()->isEnabled(); }

}  // namespace

bool TForm::ClickDefaultButton() {
    // A focused button answers Enter itself; otherwise the shown default button.
    TButton* chosen = FindButton(this, [](TButton& b) { return b.Focused() && b.CanFocus(); });
    if (!chosen) chosen = FindButton(this, [](TButton& b) { return b.GetDefault() && IsLiveButton(b); });
    if (!chosen) return false;
    chosen->Click();
    return true;
}

bool TForm::ClickCancelButton() {
    TButton* chosen = FindButton(this, [](TButton& b) { return b.GetCancel() && IsLiveButton(b); });
    if (!chosen) return false;
    chosen->Click();
    return true;
}

void TForm::Loaded() {
    ApplyTabOrder();
    // A failure in the create handler is shown and the window still comes up.
    if (OnCreate) Dispatch([this] { OnCreate(this); });
}

bool TForm::HandleEvent(QObject* target, QEvent* event) {
    QWidget* w = GetWidget();
    if (target == w) {
        switch (event->type()) {
        case QEvent::Resize:
            SyncBoundsFromWidget();
            if (OnResize) Dispatch([this] { OnResize(this); });
            break;
        case QEvent::Move: SyncBoundsFromWidget(); break;
        case QEvent::Show:
            if (!frameFitted_) {
                frameFitted_ = true;
                QTimer::singleShot(150, w, [this] { FitFrame(); });
            }
            break;
        case QEvent::Close: {
            auto* ce = static_cast<QCloseEvent*>(event);
            // A handler that fails (settings that cannot be written) is shown,
            // and the window closes all the same: otherwise a lasting failure
            // would keep the user from ever closing it.
            TCloseAction action = TCloseAction::caHide;
            if (OnClose) Dispatch([&] { OnClose(this, action); });
            if (action == TCloseAction::caNone) {
                ce->ignore();
                return true;
            }
            if (Application && Application->GetMainForm() == this) Application->Terminate();
            return false;
        }
        default: break;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if ((ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) && ke->modifiers() == Qt::NoModifier &&
            target == w) {
            if (ClickDefaultButton()) return true;
        }
        // Esc reaches the window from any control that does not use it.
        if (ke->key() == Qt::Key_Escape && ke->modifiers() == Qt::NoModifier && target == w) {
            if (ClickCancelButton()) return true;
        }
    }
    return TWinControl::HandleEvent(target, event);
}

// ---- TScreen

void TScreen::SetCursor(TCursor value) {
    if (value == cursor_) return;
    const bool haveApp = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (haveApp && cursor_ != crDefault) QGuiApplication::restoreOverrideCursor();
    cursor_ = value;
    if (!haveApp || value == crDefault) return;
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (value == crCross)
        shape = Qt::CrossCursor;
    else if (value == crHourGlass)
        shape = Qt::WaitCursor;
    QGuiApplication::setOverrideCursor(QCursor(shape));
}

int TScreen::GetColorDepth() const {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return 24;
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->depth() > 0 ? screen->depth() : 24;
}

// ---- TApplication

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
    // Forms hold Qt widgets: they go before the Qt application does.
    DestroyForms();
    ownApp_.reset();
}

void TApplication::Initialize() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "vellumark";
        static char* argv[] = {name, nullptr};
        ownApp_ = std::make_unique<QApplication>(argc, argv);
    }
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        app->setQuitOnLastWindowClosed(false);
        SetDesktopScale(DesktopFontScale());
        app->setStyle(new TClassicStyle);
        QApplication::setFont(ToQFont(TFont{}));
    }
    terminated_ = false;
}

void TApplication::SetTitle(const std::string& value) {
    title_ = value;
    if (QCoreApplication::instance()) QCoreApplication::setApplicationName(ToQ(value));
}

void TApplication::AddForm(std::unique_ptr<TForm> form) {
    TForm* raw = form.get();
    Adopt(std::move(form));
    if (!mainForm_) mainForm_ = raw;
}

void TApplication::Run() {
    if (mainForm_) {
        mainForm_->ShowWindow();
        if (!terminated_) QApplication::exec();
    }
    DestroyForms();
}

void TApplication::Terminate() {
    terminated_ = true;
    QCoreApplication::quit();
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TApplication::ProcessMessagesUntil(const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TApplication::WakeUp() {
    // An empty call queued to the main thread: its arrival ends the wait of
    // processEvents, and posting is safe from any thread.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}

void TApplication::DestroyForms() {
    mainForm_ = nullptr;
    DestroyComponents();
}

void TApplication::ShowException(const std::exception& e) { ModalInterface().ErrorBox(title_, e.what()); }

}  // namespace vmk
