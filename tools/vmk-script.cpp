// vmk-script: plays a user of the real program from a script, one command a
// line, through the same events a user's actions cause. Exit status: 0 when the
// script runs to its end, 1 when an expectation fails, 2 for a command or
// control it does not know.

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "app/Program.h"
#include "tools/KeyNames.h"
#include "tools/UserInput.h"
#include "widgets/ExtCtrls.h"

namespace vmk {
namespace {

struct ScriptError {
    int status;
    std::string message;
};

[[noreturn]] void Fail(int status, const std::string& message) { throw ScriptError{status, message}; }

// Words split on blanks; "double quotes" group words, with \" \\ \n \r escapes.
std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size()) {
                    const char e = line[i++];
                    if (e == 'n')
                        word += '\n';
                    else if (e == 'r')
                        word += '\r';
                    else
                        word += e;  // \" and \\ and anything else: the character itself
                } else {
                    word += c;
                }
            }
            if (!closed) Fail(2, "unterminated quotes");
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

std::string Hex(TColor c) {
    char buf[16];
    if (c > 0xFFFFFF)
        std::snprintf(buf, sizeof buf, "0x%08X", c);
    else
        std::snprintf(buf, sizeof buf, "0x%06X", c);
    return buf;
}

std::string Bool(bool b) { return b ? "true" : "false"; }

std::string Joined(const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? "|" : "") + items[i];
    return out;
}

long long ParseNumber(const std::string& text) {
    if (text.empty()) Fail(2, "a number is missing");
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long long v =
        hex ? static_cast<long long>(std::strtoull(text.c_str() + 2, &end, 16)) : std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0') Fail(2, "not a number: " + text);
    return v;
}

int ParseInt(const std::string& text) {
    const long long v = ParseNumber(text);
    if (v < INT32_MIN || v > INT32_MAX) Fail(2, "number out of range: " + text);
    return static_cast<int>(v);
}

bool ParseBool(const std::string& text) {
    if (text == "true") return true;
    if (text == "false") return false;
    Fail(2, "expected true or false, got " + text);
}

std::string CursorName(TCursor c) {
    switch (c) {
    case crDefault: return "crDefault";
    case crCross: return "crCross";
    case crHourGlass: return "crHourGlass";
    case crArrow: return "crArrow";
    }
    return std::to_string(static_cast<int>(c));
}

// The picture of an image as a bitmap, without changing what the image holds.
void PictureAsBitmap(TImage& image, TBitmap& out) {
    TGraphic* graphic = image.GetPicture().GetGraphic();
    if (!graphic) return;
    out.Assign(*graphic);
}

class Interpreter {
public:
    Interpreter(TMainForm& form, TScriptedModal& modal) : form_(&form), modal_(modal) {}

    int Run(std::istream& in) {
        std::string line;
        int number = 0;
        try {
            while (std::getline(in, line)) {
                ++number;
                const std::vector<std::string> words = SplitWords(line);
                if (words.empty() || words[0][0] == '#') continue;
                Execute(words);
                QCoreApplication::processEvents();
            }
        } catch (const ScriptError& e) {
            std::cout << "line " << number << ": " << e.message << std::endl;
            return e.status;
        }
        return 0;
    }

private:
    void Need(const std::vector<std::string>& w, size_t min, size_t max) {
        if (w.size() < min || w.size() > max) Fail(2, "wrong number of words for " + w[0]);
    }

    TMainForm& Form() {
        if (!form_ || closed_) Fail(2, "the window is closed");
        return *form_;
    }

    TComponent& Find(const std::string& name) {
        TComponent* c = Form().FindComponent(name);
        if (!c) Fail(2, "unknown control " + name);
        return *c;
    }

    template <class T>
    T& FindAs(const std::string& name, const char* what) {
        auto* c = dynamic_cast<T*>(&Find(name));
        if (!c) Fail(2, name + " is not " + what);
        return *c;
    }

    // A user clicks only a control that is shown and enabled.
    void Usable(TControl& c) {
        if (!c.IsShowing()) Fail(1, c.GetName() + " is hidden");
        if (!c.GetWidget()->isEnabled()) Fail(1, c.GetName() + " is disabled");
    }

    using Words = std::vector<std::string>;

    // One line per command: its name, how many words it takes (the name
    // included) and what it does. Commands with their own word checks take any.
    struct Command {
        const char* name;
        size_t minWords;
        size_t maxWords;
        void (Interpreter::*run)(const Words&);
    };

    void Execute(const Words& w) {
        constexpr size_t any = SIZE_MAX;
        static constexpr Command kCommands[] = {
            {"answer", 1, any, &Interpreter::Answer},
            {"click", 2, 2, &Interpreter::ClickControl},
            {"check", 3, 3, &Interpreter::Check},
            {"text", 3, 3, &Interpreter::Text},
            {"type", 3, 3, &Interpreter::Type},
            {"key", 3, 3, &Interpreter::Key},
            {"select", 3, 3, &Interpreter::Select},
            {"tab", 2, 2, &Interpreter::Tab},
            {"mouse", 5, 6, &Interpreter::Mouse},
            {"drop", 1, any, &Interpreter::Drop},
            {"scroll", 4, 4, &Interpreter::Scroll},
            {"wait", 2, 2, &Interpreter::Wait},
            {"workers", 2, 2, &Interpreter::Workers},
            {"resize", 3, 3, &Interpreter::Resize},
            {"close", 1, 1, &Interpreter::CloseWindow},
            {"expect", 3, 3, &Interpreter::Expect},
            {"expect-message", 2, 2, &Interpreter::ExpectBox},
            {"expect-error", 2, 2, &Interpreter::ExpectBox},
            {"expect-no-message", 1, 1, &Interpreter::ExpectNoBox},
            {"expect-question", 2, 2, &Interpreter::ExpectBox},
            {"expect-folder", 2, 2, &Interpreter::ExpectFolder},
            {"expect-open-folder", 2, 2, &Interpreter::ExpectFolder},
            {"pixel", 5, 5, &Interpreter::Pixel},
            {"save-picture", 3, 3, &Interpreter::SavePicture},
            {"screenshot", 2, 2, &Interpreter::Screenshot},
            {"screenshot-box", 2, 2, &Interpreter::ScreenshotBox},
        };
        for (const Command& c : kCommands) {
            if (w[0] != c.name) continue;
            Need(w, c.minWords, c.maxWords);
            (this->*c.run)(w);
            return;
        }
        Fail(2, "unknown command " + w[0]);
    }

    void ClickControl(const Words& w) {
        TComponent& c = Find(w[1]);
        if (auto* b = dynamic_cast<TButton*>(&c)) {
            Usable(*b);
            b->Click();
        } else if (auto* bc = dynamic_cast<TButtonControl*>(&c)) {
            Usable(*bc);
            bc->Click();
        } else {
            Fail(2, w[1] + " cannot be clicked");
        }
    }

    void Check(const Words& w) {
        auto& b = FindAs<TButtonControl>(w[1], "a check box or radio button");
        const bool want = ParseBool(w[2]);
        Usable(b);
        if (b.GetChecked() != want) b.Click();
    }

    void Text(const Words& w) {
        auto& e = FindAs<TCustomEdit>(w[1], "an edit");
        QLineEdit* le = e.GetLineEdit();
        // As a paste: one change, which a read-only box refuses.
        if (!le->isReadOnly()) {
            le->selectAll();
            le->insert(QString::fromStdString(w[2]));
        }
    }

    void Type(const Words& w) { TypeText(FindAs<TCustomEdit>(w[1], "an edit"), w[2]); }

    void Key(const Words& w) {
        auto& c = FindAs<TControl>(w[1], "a control");
        uint16_t vk = 0;
        if (!VirtualKeyFromName(w[2], vk)) Fail(2, "unknown key " + w[2]);
        if (!PressVirtualKey(c, vk)) Fail(2, "key " + w[2] + " cannot be pressed");
    }

    void Select(const Words& w) {
        auto& l = FindAs<TListBox>(w[1], "a list box");
        const int index = ParseInt(w[2]);
        if (index < 0 || index >= l.GetCount()) Fail(1, "no line " + w[2] + " in " + w[1]);
        l.SelectByUser(index);
    }

    void Tab(const Words& w) {
        const int index = ParseInt(w[1]);
        if (index < 0 || index >= Form().Tabs->GetPageCount()) Fail(1, "no page " + w[1]);
        Form().Tabs->SelectByUser(index);
    }

    void Scroll(const Words& w) {
        auto& image = FindAs<TImage>(w[1], "an image");
        if (!image.IsShowing()) Fail(1, w[1] + " is hidden");
        image.ScrollTo(ParseInt(w[2]), ParseInt(w[3]));
    }

    // The window's timers count on the script's clock, not on real time: a wait
    // moves it on, so a countdown ends exactly where the script says, however
    // busy the machine is.
    void Wait(const Words& w) {
        const int ms = ParseInt(w[1]);
        if (TManualClock* clock = TManualClock::Current()) clock->Advance(static_cast<unsigned>(std::max(ms, 0)));
        QCoreApplication::processEvents();
    }

    // How many threads the next runs use; 0: every core.
    void Workers(const Words& w) { Form().RunState.Workers = ParseInt(w[1]); }

    // The platform may still hold geometry changes of its own (the window's
    // first showing) when the script resizes; on a busy machine they arrive
    // later and undo the script's size. So the window settles first, and the
    // size is set until it stays.
    void Resize(const Words& w) {
        SettleEvents();
        ResizeUntilItStays(Form(), ParseInt(w[1]), ParseInt(w[2]));
    }

    void CloseWindow(const Words&) {
        Form().Close();
        QCoreApplication::processEvents();
        closed_ = true;
    }

    void Expect(const Words& w) {
        const std::string got = Property(w[1]);
        if (got != w[2]) Fail(1, "expected " + w[2] + ", got " + got);
    }

    static const char* BoxName(TScriptedModal::Box::Kind kind) {
        return kind == TScriptedModal::Box::Message ? "message"
               : kind == TScriptedModal::Box::Error ? "error"
                                                    : "question";
    }

    void ExpectBox(const Words& w) {
        const auto kind = w[0] == "expect-message"    ? TScriptedModal::Box::Message
                          : w[0] == "expect-question" ? TScriptedModal::Box::Question
                                                      : TScriptedModal::Box::Error;
        if (!modal_.HasBox()) Fail(1, std::string("expected ") + BoxName(kind) + " " + w[1] + ", got no box");
        const TScriptedModal::Box box = modal_.TakeBox();
        lastBox_ = box;
        if (box.kind != kind || box.text != w[1])
            Fail(1,
                 std::string("expected ") + BoxName(kind) + " " + w[1] + ", got " + BoxName(box.kind) + " " + box.text);
    }

    // The folder line of the end message last checked, or the folder its button opens ("" for no button).
    void ExpectFolder(const Words& w) {
        const std::string& got = w[0] == "expect-folder" ? lastBox_.folder : lastBox_.openFolder;
        if (got != w[1]) Fail(1, "expected " + w[1] + ", got " + got);
    }

    void ExpectNoBox(const Words&) {
        if (!modal_.HasBox()) return;
        const TScriptedModal::Box& box = modal_.Boxes().front();
        Fail(1, std::string("expected no box, got ") + BoxName(box.kind) + " " + box.text);
    }

    void Pixel(const Words& w) {
        auto& image = FindAs<TImage>(w[1], "an image");
        const int x = ParseInt(w[2]), y = ParseInt(w[3]);
        const TColor want = static_cast<TColor>(ParseNumber(w[4]));
        TBitmap bitmap;
        PictureAsBitmap(image, bitmap);
        if (x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height())
            Fail(1, "pixel " + w[2] + "," + w[3] + " is outside the picture");
        const TColor got = bitmap.GetPixelColor(x, y);
        if (got != want) Fail(1, "expected " + Hex(want) + ", got " + Hex(got));
    }

    void SavePicture(const Words& w) {
        auto& image = FindAs<TImage>(w[1], "an image");
        TBitmap bitmap;
        PictureAsBitmap(image, bitmap);
        try {
            if (bitmap.GetPixelFormat() != TPixelFormat::pf24bit) bitmap.SetPixelFormat(TPixelFormat::pf24bit);
            bitmap.SaveToFile(w[2]);
        } catch (const std::exception& e) {
            Fail(1, std::string("cannot save the picture: ") + e.what());
        }
    }

    void Screenshot(const Words& w) {
        QCoreApplication::processEvents();
        if (!Form().GetWidget()->grab().save(QString::fromStdString(w[1]), "PNG")) Fail(1, "cannot write " + w[1]);
    }

    // A PNG of a box as the program shows it: the newest unchecked one, else the one last checked.
    void ScreenshotBox(const Words& w) {
        const TScriptedModal::Box box = modal_.HasBox() ? modal_.Boxes().back() : lastBox_;
        if (box.text.empty()) Fail(1, "no box to show");
        if (!SnapshotBox(box, w[1])) Fail(1, "cannot write " + w[1]);
    }

    void Answer(const std::vector<std::string>& w) {
        if (w.size() < 3) Fail(2, "answer needs a dialog and an answer");
        const std::string& dialog = w[1];
        if (dialog == "Question") {  // the next yes-or-no question
            Need(w, 3, 3);
            if (w[2] != "yes" && w[2] != "no") Fail(2, "a question is answered yes or no");
            modal_.QueueAnswer(w[2] == "yes");
            return;
        }
        TComponent& c = Find(dialog);
        if (w[2] == "cancel" && w.size() == 3) {
            modal_.QueueCancel(dialog);
        } else if (dynamic_cast<TApColorDialog*>(&c)) {
            Need(w, 3, 3);
            modal_.QueueColor(dialog, static_cast<TColor>(ParseNumber(w[2])));
        } else if (dynamic_cast<TApOpenDialog*>(&c)) {
            modal_.QueuePaths(dialog, std::vector<std::string>(w.begin() + 2, w.end()));
        } else if (dynamic_cast<TApFolderDialog*>(&c)) {
            Need(w, 3, 3);
            modal_.QueuePaths(dialog, {w[2]});
        } else {
            Fail(2, dialog + " is not a dialog");
        }
    }

    void Mouse(const std::vector<std::string>& w) {
        auto& c = FindAs<TControl>(w[1], "a control");
        if (!c.IsShowing()) Fail(1, w[1] + " is hidden");
        const int x = ParseInt(w[3]), y = ParseInt(w[4]);
        if (w[2] == "move") {
            Need(w, 5, 5);
            SendMouse(c, QEvent::MouseMove, x, y);
        } else if (w[2] == "up") {
            Qt::MouseButton button = Qt::LeftButton;
            if (w.size() == 6) {
                if (w[5] == "right")
                    button = Qt::RightButton;
                else if (w[5] != "left")
                    Fail(2, "unknown mouse button " + w[5]);
            }
            SendMouse(c, QEvent::MouseButtonRelease, x, y, button);
        } else {
            Fail(2, "unknown mouse action " + w[2]);
        }
    }

    // Files dragged from a file manager onto the control: the drag enters,
    // moves and drops where Qt would deliver it.
    void Drop(const std::vector<std::string>& w) {
        if (w.size() < 3) Fail(2, "drop needs a control and at least one path");
        auto& c = FindAs<TControl>(w[1], "a control");
        Usable(c);
        QWidget* target = c.GetWidget();
        if (auto* e = dynamic_cast<TCustomEdit*>(&c))
            target = e->GetLineEdit();
        else if (auto* area = qobject_cast<QAbstractScrollArea*>(target))
            target = area->viewport();
        QMimeData mime;
        QList<QUrl> urls;
        for (size_t i = 2; i < w.size(); ++i) urls.append(QUrl::fromLocalFile(QString::fromStdString(w[i])));
        mime.setUrls(urls);
        const QPoint at(2, 2);
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QCoreApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) Fail(1, w[1] + " does not take dropped files");
        QDragMoveEvent move(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
        QDropEvent drop(QPointF(at), offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
    }

    std::string Property(const std::string& target) {
        const size_t dot = target.find('.');
        if (dot == std::string::npos) Fail(2, "expected CONTROL.PROPERTY, got " + target);
        const std::string name = target.substr(0, dot), prop = target.substr(dot + 1);
        if (name == "Screen" && prop == "Cursor") return CursorName(Screen->GetCursor());
        if (name == "Application" && prop == "Title") return Application->GetTitle();
        if (name == "FilePaths") {
            if (prop == "Items") return Joined(FilePaths().Items());
            if (prop == "Count") return std::to_string(FilePaths().GetCount());
            Fail(2, "unknown property " + target);
        }
        if (name == "MainForm") {
            if (prop == "Caption") return Form().GetCaption();
            if (prop == "ClientWidth" || prop == "Width") return std::to_string(Form().GetClientWidth());
            if (prop == "ClientHeight" || prop == "Height") return std::to_string(Form().GetClientHeight());
            Fail(2, "unknown property " + target);
        }
        TComponent& comp = Find(name);
        if (prop == "Color") {
            if (auto* s = dynamic_cast<TShape*>(&comp)) return Hex(s->GetBrushColor());
            if (auto* d = dynamic_cast<TApColorDialog*>(&comp)) return Hex(d->GetColor());
            Fail(2, name + " has no Color");
        }
        if (prop == "Enabled") {
            if (auto* t = dynamic_cast<TTimer*>(&comp)) return Bool(t->GetEnabled());
        }
        // Where a dialog opens next.
        if (prop == "InitialDir") {
            if (auto* d = dynamic_cast<TApOpenDialog*>(&comp)) return d->GetInitialDir();
            if (auto* d = dynamic_cast<TApFolderDialog*>(&comp)) return d->GetInitialDir();
            Fail(2, name + " has no InitialDir");
        }
        auto* c = dynamic_cast<TControl*>(&comp);
        if (!c) Fail(2, "unknown property " + target);
        if (prop == "Left") return std::to_string(c->GetLeft());
        if (prop == "Top") return std::to_string(c->GetTop());
        if (prop == "Width") return std::to_string(c->GetWidth());
        if (prop == "Height") return std::to_string(c->GetHeight());
        if (prop == "Enabled") return Bool(c->GetEnabled());
        if (prop == "Visible") return Bool(c->GetVisible());
        if (prop == "Hint") return c->GetHint();
        if (prop == "Caption") {
            if (auto* b = dynamic_cast<TButton*>(c)) return b->GetCaption();
            if (auto* b = dynamic_cast<TButtonControl*>(c)) return b->GetCaption();
            if (auto* l = dynamic_cast<TLabel*>(c)) return l->GetCaption();
            if (auto* s = dynamic_cast<TStaticText*>(c)) return s->GetCaption();
            if (auto* p = dynamic_cast<TPanel*>(c)) return p->GetCaption();
        }
        if (auto* e = dynamic_cast<TCustomEdit*>(c)) {
            if (prop == "Text") return e->GetText();
            if (prop == "ReadOnly") return Bool(e->GetReadOnly());
            if (auto* s = dynamic_cast<TCSpinEdit*>(c); s && prop == "Value") return std::to_string(s->GetValue());
        }
        if (auto* b = dynamic_cast<TButtonControl*>(c); b && prop == "Checked") return Bool(b->GetChecked());
        if (auto* l = dynamic_cast<TListBox*>(c)) {
            if (prop == "ItemIndex") return std::to_string(l->GetItemIndex());
            if (prop == "Items") return Joined(l->GetItems().ToVector());
            if (prop == "Count") return std::to_string(l->GetCount());
        }
        if (auto* t = dynamic_cast<TTabbedNotebook*>(c)) {
            if (prop == "PageIndex") return std::to_string(t->GetPageIndex());
            if (prop == "Items") return Joined(t->GetPageCaptions());
            if (prop == "Count") return std::to_string(t->GetPageCount());
        }
        if (auto* i = dynamic_cast<TImage*>(c)) {
            if (prop == "PictureWidth") return std::to_string(i->GetPicture().GetWidth());
            if (prop == "PictureHeight") return std::to_string(i->GetPicture().GetHeight());
            if (prop == "ScrollLeft") return std::to_string(i->GetScrollLeft());
            if (prop == "ScrollTop") return std::to_string(i->GetScrollTop());
            if (prop == "ViewWidth") return std::to_string(i->GetViewWidth());
            if (prop == "ViewHeight") return std::to_string(i->GetViewHeight());
        }
        Fail(2, "unknown property " + target);
    }

    TMainForm* form_;
    TScriptedModal& modal_;
    TScriptedModal::Box lastBox_{TScriptedModal::Box::Message, {}, {}, {}, {}, {}};
    bool closed_ = false;
};

}  // namespace
}  // namespace vmk

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::setlocale(LC_ALL, "");
    std::ifstream file;
    if (argc > 1) {
        file.open(argv[1]);
        if (!file) {
            std::cerr << "vmk-script: cannot read " << argv[1] << std::endl;
            return 2;
        }
    }
    std::istream& in = argc > 1 ? static_cast<std::istream&>(file) : std::cin;

    int qtArgc = 1;
    QApplication platform(qtArgc, argv);
    auto scripted = std::make_unique<vmk::TScriptedModal>();
    vmk::TScriptedModal& modal = *scripted;
    modal.OnBox = [](const vmk::TScriptedModal::Box& box) {
        const char* kind = box.kind == vmk::TScriptedModal::Box::Message ? "message: "
                           : box.kind == vmk::TScriptedModal::Box::Error ? "error: "
                                                                         : "question: ";
        std::cout << kind << box.text << std::endl;
    };
    vmk::SetModalInterface(std::move(scripted));
    vmk::InitializeModules();
    // Made before the window, so that every timer of it counts on the script's clock.
    vmk::TManualClock clock;
    int status = 0;
    vmk::RunProgram([&] {
        if (!vmk::MainForm) {
            status = 2;
            return;
        }
        vmk::Interpreter interpreter(*vmk::MainForm, modal);
        status = interpreter.Run(in);
    });
    vmk::FinalizeModules();
    std::cout.flush();
    return status;
}
