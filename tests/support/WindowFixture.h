#pragma once

// The real main window offscreen, made the one way every window suite uses: a
// fresh scratch folder holding the settings store, the application, the
// scripted user answering every modal window, an empty file list, timers on a
// manual clock, then the window as start-up makes it (not yet shown). Keys and
// the pointer go through the same sender vmk-script uses.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "app/Program.h"
#include "core/FileUtils.h"
#include "core/TempFolder.h"
#include "support/Pictures.h"
#include "tools/UserInput.h"
#include "widgets/Dialogs.h"
#include "widgets/ExtCtrls.h"
#include "widgets/Forms.h"
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

// A fresh scratch folder that holds the program's settings store and stands in
// for the program's own folder (where a save preview writes its trial file and a
// relative output folder lies), so that no test reads or writes beside the test
// program or in the user's settings, and tests may run side by side. Both go back
// when the test ends.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp_ = std::make_unique<TempFolder>();
        dir_ = temp_->Path();
        scratch = dir_.substr(0, dir_.size() - 1);
        const char* store = std::getenv("VELLUMARK_REGISTRY");
        if (store) savedStore_ = store;
        hadStore_ = store != nullptr;
        // A store nobody has written: every test starts from the defaults.
        setenv("VELLUMARK_REGISTRY", (scratch / "registry.reg").c_str(), 1);
        std::filesystem::create_directory(scratch / "program");
        SetApplicationFolder(dir_ + "program/");
    }

    void TearDown() override {
        SetApplicationFolder("");
        if (hadStore_)
            setenv("VELLUMARK_REGISTRY", savedStore_.c_str(), 1);
        else
            unsetenv("VELLUMARK_REGISTRY");
        temp_.reset();
    }

    std::filesystem::path scratch;
    std::string dir_;  // the scratch folder, with its trailing "/"

private:
    std::unique_ptr<TempFolder> temp_;
    std::string savedStore_;
    bool hadStore_ = false;
};

class WindowTest : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        Application->Initialize();
        Application->SetTitle(kApplicationTitle);
        InitializeModules();
        auto recording = std::make_unique<TRecordingModal>();
        modal_ = recording.get();
        SetModalInterface(std::move(recording));
        // The file-path list outlives every window; each test starts with an empty batch.
        FilePaths().Clear();
        Screen->SetCursor(crDefault);
        Application->CreateForm(MainForm);
        form_ = MainForm;
    }

    void TearDown() override {
        Application->DestroyForms();
        form_ = nullptr;
        FilePaths().Clear();
        Screen->SetCursor(crDefault);
        SetModalInterface(nullptr);
        FinalizeModules();
        ScratchTest::TearDown();
    }

    // Shows the window, as start-up does, with no box left from making it.
    void Show() {
        form_->ShowWindow();
        modal_->ClearBoxes();
    }
    // The platform may still hold geometry changes of its own (the window's
    // first showing); on a busy machine they arrive late and undo the size
    // set here. And a window fits its frame a moment after it is first shown,
    // taking its stored outer size again. So the window settles first, past
    // that moment, and the size is set until it stays.
    void ShowAt(int width, int height) {
        form_->ShowWindow();
        // Past the frame fitting of a window shown before this call, too.
        QElapsedTimer since;
        since.start();
        while (since.elapsed() < 300) SettleEvents();
        ResizeUntilItStays(*form_, width, height);
    }

    std::string Path(const std::string& name) const { return (scratch / name).string(); }

    // An empty file with the given name in the scratch folder.
    std::string Touch(const std::string& name) {
        std::string path = Path(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f) std::fclose(f);
        return path;
    }
    // A real bitmap file with the given name in the scratch folder.
    std::string Bitmap(const std::string& name) {
        std::string path = Path(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::filesystem::copy_file(VMK_TESTDATA "/bmpsuite/g/pal1.bmp", path,
                                   std::filesystem::copy_options::overwrite_existing);
        return path;
    }
    // A 24-bit bitmap of w x h whose pixel (x, y) has colour paint(x, y).
    std::string MakeBmp(const std::string& name, int w, int h, const std::function<TColor(int, int)>& paint) {
        std::string path = Path(name);
        Painted(w, h, paint)->SaveToFile(path);
        return path;
    }
    std::string MakeBmp(const std::string& name, int w, int h, TColor colour) {
        return MakeBmp(name, w, h, [colour](int, int) { return colour; });
    }
    // A JPEG of w x h in one colour.
    std::string MakeJpeg(const std::string& name, int w, int h, TColor colour) {
        TJPEGImage jpeg;
        jpeg.Assign(*Painted(w, h, [colour](int, int) { return colour; }));
        std::string path = Path(name);
        jpeg.SaveToFile(path);
        return path;
    }
    std::string MakeFile(const std::string& name, const std::string& bytes) {
        std::string path = Path(name);
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }

    // The oldest unchecked box, taken; "" when there is none.
    std::string TakeMessage() { return TakeBoxOf(TScriptedModal::Box::Message); }
    std::string TakeError() { return TakeBoxOf(TScriptedModal::Box::Error); }
    // The boxes shown since the last call, as "message: ..." or "error: ...".
    std::vector<std::string> TakeBoxes() {
        std::vector<std::string> texts;
        while (modal_->HasBox()) {
            const auto box = modal_->TakeBox();
            const char* kind = box.kind == TScriptedModal::Box::Message ? "message: "
                               : box.kind == TScriptedModal::Box::Error ? "error: "
                                                                        : "question: ";
            texts.push_back(kind + box.text);
        }
        return texts;
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
    static void Mouse(TControl& control, QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::NoButton) {
        SendMouse(control, type, x, y, button);
    }
    static void MouseMove(TControl& control, int x, int y) { Mouse(control, QEvent::MouseMove, x, y); }
    static void MouseUp(TControl& control, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        Mouse(control, QEvent::MouseButtonRelease, x, y, button);
    }

    // A file the run knows of, as the file list would add it.
    void AddSource(const std::string& path) {
        FilePaths().Add(path);
        form_->FilesList->GetItems().Add(ExtractFileName(path));
        form_->FileListSave->GetItems().Add(ExtractFileName(path));
    }
    std::string WriteCover(TBitmap& cover, const std::string& name = "cover.bmp") {
        std::string path = dir_ + name;
        cover.SaveToFile(path);
        form_->CoverFile->SetText(path);
        return path;
    }
    void Place(TRadioButton* button, int left = 0, int top = 0) {
        button->SetChecked(true);
        // The offsets are set after the button: choosing a position may fill them in.
        if (button == form_->OtherPos) {
            form_->CoverLeft->SetValue(left);
            form_->CoverTop->SetValue(top);
        }
    }
    void RunProcess() { form_->Process->Click(); }

    // Made before the window and gone after it, so every timer of the window
    // counts on it.
    TManualClock clock_;
    TMainForm* form_ = nullptr;
    TRecordingModal* modal_ = nullptr;

private:
    std::string TakeBoxOf(TScriptedModal::Box::Kind kind) {
        if (!modal_->HasBox()) return "";
        const auto box = modal_->TakeBox();
        EXPECT_EQ(box.kind, kind) << box.text;
        EXPECT_EQ(box.caption, kApplicationTitle);
        return box.text;
    }
};

// The window with every output setting at a known value.
class OutputTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        form_->CoverTransparent->SetChecked(true);
        form_->AutoDetTrans->SetChecked(true);
        form_->LT->SetChecked(true);
        form_->BMP->SetChecked(true);
        form_->Prefix->SetChecked(true);
        form_->FileFix->SetText("VMK_");
        form_->Path->SetText("");
        form_->JPGQuality->SetValue(85);
        modal_->ClearBoxes();
    }
};

inline const std::string kDone = "message: Operation done! All files have been saved successfully.";

}  // namespace vmk::test
