#pragma once

// Windows, the application object and the screen cursor.

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "widgets/Controls.h"
#include "widgets/Dispatch.h"  // every window's handlers run through it

class QApplication;

namespace vmk {

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    const std::string& GetCaption() const { return caption_; }
    void SetCaption(const std::string& value);

    // Outer size, frame included, as the window manager reports the frame.
    void SetOuterSize(int width, int height);
    void SetMinOuterSize(int width, int height);
    int GetClientWidth() const;
    int GetClientHeight() const;
    void SetClientSize(int width, int height);
    // Centres the window on the primary screen.
    void CenterOnScreen();

    // The window's size and place as the user left them: the outer bounds of
    // its normal (not maximised) state.
    struct TPlacement {
        int Left = 0, Top = 0, Width = 0, Height = 0;
        bool Maximized = false;
    };
    TPlacement GetPlacement() const;
    // Outer bounds, kept within the available area of the screen they lie on
    // (the primary screen when they lie on none); the window then stays where
    // it is put rather than being centred.
    void SetPlacement(int left, int top, int width, int height);
    // The window opens (or is) maximised.
    void SetMaximized(bool value);
    // A client area below which the window does not shrink, beside the outer
    // minimum: the larger of the two holds.
    void SetMinClientSize(int width, int height);
    // The layout grows with the desktop's font: every control, the window's
    // sizes and minimum.
    void ScaleForDesktop() override;
    // The window's icon, from a Qt resource path (":/vellumark.png").
    void SetIconResource(const std::string& path);

    // Shows the window (not modal).
    void ShowWindow();
    // Asks to close: runs OnClose; unless the action is caNone the window hides,
    // and when it is the application's main window the event loop ends.
    void Close();

    // Clicks the default button that can answer (shown and enabled), if any.
    bool ClickDefaultButton();
    // Clicks the shown, enabled cancel button, if any (the Esc key).
    bool ClickCancelButton();

    TNotifyEvent OnCreate;
    TNotifyEvent OnResize;
    TCloseEvent OnClose;

protected:
    // The end of construction: applies the Tab order, then runs OnCreate.
    void Loaded();
    bool HandleEvent(QObject* target, QEvent* event) override;

private:
    // Outer sizes are set before the window manager has framed the window;
    // once it has, the client area is made to fit them.
    void FitFrame();
    void ApplyMinimum();
    std::string caption_;
    int outerWidth_ = 0, outerHeight_ = 0, minOuterWidth_ = 0, minOuterHeight_ = 0;
    int minClientWidth_ = 0, minClientHeight_ = 0;
    bool frameFitted_ = false;
    bool placed_ = false;
    bool maximized_ = false;
};

enum TCursor : int { crDefault = 0, crArrow = -2, crCross = -3, crHourGlass = -11 };

// The application-wide cursor; anything but crDefault overrides every control's own.
class TScreen {
public:
    TCursor GetCursor() const { return cursor_; }
    void SetCursor(TCursor value);
    // Colour depth of the primary screen in bits per pixel (24 when unknown).
    int GetColorDepth() const;

private:
    TCursor cursor_ = crDefault;
};

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Makes the application ready: the Qt application (unless one exists), the
    // style, the font, and the Qt modal interface unless another is installed.
    void Initialize();
    const std::string& GetTitle() const { return title_; }
    void SetTitle(const std::string& value);

    // Creates a form owned by the application and stores it in ref; the first
    // form created becomes the main window.
    template <class T>
    void CreateForm(T*& ref) {
        auto form = std::make_unique<T>(this);
        ref = form.get();
        AddForm(std::move(form));
    }
    TForm* GetMainForm() const { return mainForm_; }

    // Shows the main window and runs the event loop until it closes, then
    // destroys the forms.
    void Run();
    // Ends the event loop.
    void Terminate();
    bool GetTerminated() const { return terminated_; }
    // Runs pending events once (timers included).
    void ProcessMessages();
    // Handles events, sleeping while there are none, until done() holds. done
    // is asked again after each event and after each WakeUp.
    void ProcessMessagesUntil(const std::function<bool()>& done);
    // Makes ProcessMessagesUntil ask again. Safe from any thread.
    static void WakeUp();
    // Destroys every form now.
    void DestroyForms();

    // The standard exception box: the message, with the title as caption.
    void ShowException(const std::exception& e);

private:
    void AddForm(std::unique_ptr<TForm> form);
    std::string title_;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    std::unique_ptr<QApplication> ownApp_;
};

extern TApplication* Application;
extern TScreen* Screen;

}  // namespace vmk
