#include "widgets/Spin.h"

#include <QEvent>
#include <QFrame>
#include <QLineEdit>
#include <QToolButton>
#include "core/Saturate.h"
#include "widgets/Forms.h"
#include "widgets/Keys.h"
#include "widgets/QtSupport.h"

namespace vmk {

namespace {

constexpr int kButtonWidth = 15;

QWidget* MakeSpinBox() {
    auto* box = new QFrame;
    box->setFrameShape(QFrame::NoFrame);
    auto* edit = new QLineEdit(box);
    edit->setObjectName(QStringLiteral("edit"));
    box->setFocusProxy(edit);
    box->setFocusPolicy(Qt::StrongFocus);
    for (auto arrow : {Qt::UpArrow, Qt::DownArrow}) {
        auto* button = new QToolButton(box);
        button->setArrowType(arrow);
        button->setObjectName(arrow == Qt::UpArrow ? QStringLiteral("up") : QStringLiteral("down"));
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
    }
    return box;
}

}  // namespace

TCSpinEdit::TCSpinEdit(TComponent* owner) : TCustomEdit(owner, MakeSpinBox()) {
    QWidget* box = GetWidget();
    up_ = box->findChild<QToolButton*>(QStringLiteral("up"));
    down_ = box->findChild<QToolButton*>(QStringLiteral("down"));
    WatchChild(up_);
    WatchChild(down_);
    QObject::connect(up_, &QToolButton::clicked, up_, [this] { Dispatch([this] { UpClick(); }); });
    QObject::connect(down_, &QToolButton::clicked, down_, [this] { Dispatch([this] { DownClick(); }); });
    SetText("0");
    LayoutParts();
}

int TCSpinEdit::GetValue() const {
    const std::string text = GetText();
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    while (n > i && text[n - 1] == ' ') --n;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == n) return 0;
    long long v = 0;
    for (; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        if (v < (1LL << 40)) v = v * 10 + (text[i] - '0');
    }
    // A number beyond the 32-bit range is taken as the nearer end of it.
    return SaturatingAdd(negative ? -v : v, 0);
}

void TCSpinEdit::SetValue(int value) {
    if (minValue_ != 0 || maxValue_ != 0) {
        if (value < minValue_) value = minValue_;
        if (value > maxValue_) value = maxValue_;
    }
    SetText(std::to_string(value));
}

void TCSpinEdit::Step(long long delta) {
    if (GetReadOnly()) return;
    SetValue(SaturatingAdd(GetValue(), delta));
}

void TCSpinEdit::UpClick() { Step(increment_); }
void TCSpinEdit::DownClick() { Step(-static_cast<long long>(increment_)); }

bool TCSpinEdit::AcceptsChar(char32_t c) const { return (c >= U'0' && c <= U'9') || c == U'-' || c == U'+'; }

bool TCSpinEdit::OwnKeyDown(uint16_t key) {
    // Called from the key event, so the step goes through the dispatch.
    if (key == VK_UP) {
        Dispatch([this] { UpClick(); });
        return true;
    }
    if (key == VK_DOWN) {
        Dispatch([this] { DownClick(); });
        return true;
    }
    return false;
}

bool TCSpinEdit::HandleEvent(QObject* target, QEvent* event) {
    QLineEdit* edit = GetLineEdit();
    if (edit == nullptr || target != edit) return TCustomEdit::HandleEvent(target, event);
    const QEvent::Type type = event->type();
    if (type == QEvent::FocusOut && heldByKey_) {
        heldByKey_ = false;
        SetReadOnly(false);
    }
    const bool wasReadOnly = GetReadOnly();
    const bool handled = TCustomEdit::HandleEvent(target, event);
    if (type == QEvent::KeyPress && !wasReadOnly && GetReadOnly()) heldByKey_ = true;
    // Made writable again (its key-up, or code): nothing is held any more, and a
    // read-only state set later by code is not ours to end.
    if (!GetReadOnly()) heldByKey_ = false;
    return handled;
}

void TCSpinEdit::SetBounds(int left, int top, int width, int height) {
    TCustomEdit::SetBounds(left, top, width, height);
    LayoutParts();
}

void TCSpinEdit::LayoutParts() {
    QWidget* box = GetWidget();
    QLineEdit* edit = GetLineEdit();
    if (!box || !edit) return;
    const int w = box->width(), h = box->height();
    const int bw = w > 2 * kButtonWidth ? kButtonWidth : 0;
    edit->setGeometry(0, 0, w - bw, h);
    up_->setGeometry(w - bw, 0, bw, h / 2);
    down_->setGeometry(w - bw, h / 2, bw, h - h / 2);
    up_->setVisible(bw > 0);
    down_->setVisible(bw > 0);
}

}  // namespace vmk
