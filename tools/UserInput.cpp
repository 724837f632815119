#include "tools/UserInput.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QString>
#include <QThread>

#include "widgets/Keys.h"

namespace vmk {

namespace {

void SendStroke(QWidget* target, QEvent::Type type, const TQtKeyStroke& stroke) {
    QKeyEvent event(type, stroke.key, Qt::KeyboardModifiers::fromInt(static_cast<int>(stroke.modifiers)),
                    QString::fromStdString(stroke.text));
    QCoreApplication::sendEvent(target, &event);
}

TQtKeyStroke StrokeOfChar(char32_t ch) {
    TQtKeyStroke stroke;
    if (ch >= U'a' && ch <= U'z') {
        stroke.key = Qt::Key_A + static_cast<int>(ch - U'a');
    } else if (ch >= U'A' && ch <= U'Z') {
        stroke.key = Qt::Key_A + static_cast<int>(ch - U'A');
        stroke.modifiers = Qt::ShiftModifier;
    } else if (ch < 0x80) {
        stroke.key = static_cast<int>(ch);  // Qt's key codes for ASCII signs are the signs
    } else {
        stroke.key = Qt::Key_unknown;
    }
    stroke.text = QString::fromUcs4(&ch, 1).toStdString();
    return stroke;
}

}  // namespace

QWidget* KeyTarget(TControl& control) {
    if (auto* e = dynamic_cast<TCustomEdit*>(&control)) return e->GetLineEdit();
    return control.GetWidget();
}

bool SendVirtualKey(TControl& control, uint16_t vk, bool down) {
    TQtKeyStroke stroke;
    if (!QtKeyFromVirtualKey(vk, stroke)) return false;
    SendStroke(KeyTarget(control), down ? QEvent::KeyPress : QEvent::KeyRelease, stroke);
    return true;
}

bool PressVirtualKey(TControl& control, uint16_t vk) {
    return SendVirtualKey(control, vk, true) && SendVirtualKey(control, vk, false);
}

void TypeText(TCustomEdit& edit, const std::string& text) {
    QLineEdit* target = edit.GetLineEdit();
    target->end(false);
    for (char32_t ch : QString::fromStdString(text).toUcs4()) {
        const TQtKeyStroke stroke = StrokeOfChar(ch);
        SendStroke(target, QEvent::KeyPress, stroke);
        SendStroke(target, QEvent::KeyRelease, stroke);
    }
}

void SendMouse(TControl& control, QEvent::Type type, int x, int y, Qt::MouseButton button) {
    QWidget* w = control.GetWidget();
    const QPointF local(x, y);
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::MouseButtons();
    QMouseEvent event(type, local, w->mapToGlobal(local), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

void SettleEvents() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(2);
    }
}

void ResizeUntilItStays(TForm& form, int width, int height) {
    const QWidget* widget = form.GetWidget();
    for (int tries = 0; tries < 20; ++tries) {
        form.SetClientSize(width, height);
        SettleEvents();
        if (widget->width() == width && widget->height() == height) return;
    }
}

}  // namespace vmk
