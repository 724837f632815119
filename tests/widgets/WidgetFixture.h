#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <memory>

#include "widgets/Dialogs.h"
#include "widgets/ExtCtrls.h"
#include "widgets/Forms.h"
#include "widgets/Keys.h"
#include "widgets/Spin.h"
#include "widgets/StdCtrls.h"

// A shown window to put controls on, with the scripted user answering every
// modal window.
class WidgetTest : public testing::Test {
protected:
    void SetUp() override {
        vmk::Application->Initialize();
        vmk::Application->SetTitle("Test Title");
        auto scripted = std::make_unique<vmk::TScriptedModal>();
        modal = scripted.get();
        vmk::SetModalInterface(std::move(scripted));
        form = std::make_unique<vmk::TForm>(nullptr);
        form->SetClientSize(400, 300);
        form->ShowWindow();
    }
    void TearDown() override {
        form.reset();
        vmk::SetModalInterface(nullptr);
        vmk::Screen->SetCursor(vmk::crDefault);
    }

    template <class T>
    T* Make(const char* name, vmk::TWinControl* parent = nullptr) {
        T* c = vmk::TComponent::Create<T>(*form, name);
        c->SetParent(parent ? parent : form.get());
        return c;
    }

    // Presses and releases a key in a line edit as a user would.
    static void Press(QLineEdit* target, uint16_t vk) {
        vmk::TQtKeyStroke s;
        ASSERT_TRUE(vmk::QtKeyFromVirtualKey(vk, s));
        QKeyEvent down(QEvent::KeyPress, s.key, Qt::KeyboardModifiers(static_cast<int>(s.modifiers)),
                       QString::fromStdString(s.text));
        QCoreApplication::sendEvent(target, &down);
        QKeyEvent up(QEvent::KeyRelease, s.key, Qt::KeyboardModifiers(static_cast<int>(s.modifiers)),
                     QString::fromStdString(s.text));
        QCoreApplication::sendEvent(target, &up);
    }

    vmk::TScriptedModal* modal = nullptr;
    std::unique_ptr<vmk::TForm> form;
};
