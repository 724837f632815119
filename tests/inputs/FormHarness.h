#pragma once

// The real main window, offscreen, driven as a user would: clicks, typed keys
// and pointer events go through the controls' own event paths, modal windows
// through the scripted interface.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/MainForm.h"
#include "app/Program.h"
#include "imaging/Graphics.h"
#include "imaging/Jpeg.h"
#include "widgets/Dialogs.h"
#include "widgets/ExtCtrls.h"
#include "widgets/Forms.h"
#include "tools/UserInput.h"
#include "widgets/Keys.h"

namespace vmk::test {

// Remembers the colour each colour dialog opened on.
class TRecordingModal : public TScriptedModal {
public:
    bool ExecuteColor(TApColorDialog& dialog) override {
        openedOn.push_back(dialog.GetColor());
        return TScriptedModal::ExecuteColor(dialog);
    }
    std::vector<TColor> openedOn;
};

class FormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (started) return;
        started = true;
        // Settings from a store nobody has written: every run starts from defaults.
        const auto store = std::filesystem::temp_directory_path() /
                           ("vmk-inputs-store-" + std::to_string(getpid()) + ".reg");
        setenv("VELLUMARK_REGISTRY", store.c_str(), 1);
        Application->Initialize();
        Application->SetTitle(kApplicationTitle);
        InitializeModules();
        // The JPEG format, unless start-up registered it already.
        if (TPicture::FileFormatDescription("jpg").empty()) RegisterJpegFormat();
    }

    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("vmk-inputs-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        auto modal = std::make_unique<TRecordingModal>();
        modal_ = modal.get();
        SetModalInterface(std::move(modal));
        // The file-path list outlives every window; each test starts with an empty batch.
        FilePaths().Clear();
        Screen->SetCursor(crDefault);
        Application->CreateForm(form_);
        form_->ShowWindow();
        modal_->ClearBoxes();
    }

    void TearDown() override {
        Application->DestroyForms();
        form_ = nullptr;
        Screen->SetCursor(crDefault);
        SetModalInterface(nullptr);
        std::filesystem::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // A 24-bit bitmap of w x h whose pixel (x, y) has colour paint(x, y).
    std::string MakeBmp(const std::string& name, int w, int h,
                        const std::function<TColor(int, int)>& paint) {
        TBitmap bmp;
        bmp.SetPixelFormat(TPixelFormat::pf24bit);
        bmp.SetSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) bmp.GetCanvas().SetPixel(x, y, paint(x, y));
        const std::string path = Path(name);
        bmp.SaveToFile(path);
        return path;
    }
    std::string MakeBmp(const std::string& name, int w, int h, TColor colour) {
        return MakeBmp(name, w, h, [colour](int, int) { return colour; });
    }
    // A JPEG of w x h in one colour.
    std::string MakeJpeg(const std::string& name, int w, int h, TColor colour) {
        TBitmap bmp;
        bmp.SetPixelFormat(TPixelFormat::pf24bit);
        bmp.SetSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) bmp.GetCanvas().SetPixel(x, y, colour);
        TJPEGImage jpeg;
        jpeg.Assign(bmp);
        const std::string path = Path(name);
        jpeg.SaveToFile(path);
        return path;
    }
    std::string MakeFile(const std::string& name, const std::string& bytes) {
        const std::string path = Path(name);
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }

    // The oldest unchecked box, taken; "" when there is none.
    std::string TakeMessage() {
        if (!modal_->HasBox()) return "";
        const auto box = modal_->TakeBox();
        EXPECT_EQ(box.kind, TScriptedModal::Box::Message) << box.text;
        EXPECT_EQ(box.caption, kApplicationTitle);
        return box.text;
    }
    std::string TakeError() {
        if (!modal_->HasBox()) return "";
        const auto box = modal_->TakeBox();
        EXPECT_EQ(box.kind, TScriptedModal::Box::Error) << box.text;
        EXPECT_EQ(box.caption, kApplicationTitle);
        return box.text;
    }

    // Moves the window's timers on by ms; they never tick in real time here.
    void Wait(unsigned ms) { clock_.Advance(ms); }

    static void KeyDown(TCustomEdit& edit, uint16_t vk) { ASSERT_TRUE(SendVirtualKey(edit, vk, true)) << vk; }
    static void KeyUp(TCustomEdit& edit, uint16_t vk) { ASSERT_TRUE(SendVirtualKey(edit, vk, false)) << vk; }
    // Key down and up, as a tap of the key.
    static void Key(TCustomEdit& edit, uint16_t vk) {
        KeyDown(edit, vk);
        KeyUp(edit, vk);
    }
    // Types text at the end of the box, one character a key stroke.
    static void Type(TCustomEdit& edit, const std::string& text) { TypeText(edit, text); }

    static void Mouse(TControl& control, QEvent::Type type, int x, int y,
                      Qt::MouseButton button = Qt::NoButton) {
        SendMouse(control, type, x, y, button);
    }
    static void MouseMove(TControl& control, int x, int y) {
        Mouse(control, QEvent::MouseMove, x, y);
    }
    static void MouseUp(TControl& control, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        Mouse(control, QEvent::MouseButtonRelease, x, y, button);
    }

    // Made before the window and gone after it, so every timer of the window
    // counts on it.
    TManualClock clock_;
    TMainForm* form_ = nullptr;
    TRecordingModal* modal_ = nullptr;
    std::filesystem::path dir_;
};

}  // namespace vmk::test
