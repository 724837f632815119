#pragma once

// The three dialogs, message boxes, and the one interface all modal interaction
// goes through: Qt's windows in the program, a scripted stand-in in tests and
// vmk-script, so that no test ever opens a real modal window.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/StringList.h"
#include "imaging/Graphics.h"
#include "widgets/Classes.h"

namespace vmk {

enum TOpenOption : unsigned {
    ofReadOnly = 1u << 0,
    ofHideReadOnly = 1u << 1,
    ofAllowMultiSelect = 1u << 2,
    ofPathMustExist = 1u << 3,
    ofFileMustExist = 1u << 4,
    ofEnableSizing = 1u << 5,
    // A file to write: the name may be new, and replacing a file is asked first.
    ofSaveFile = 1u << 6,
};
using TOpenOptions = unsigned;

struct TFilterEntry {
    std::string Description;            // shown in the file-type box
    std::vector<std::string> Patterns;  // "*.BMP"; matched without regard to case
};

class TApOpenDialog : public TComponent {
public:
    explicit TApOpenDialog(TComponent* owner);

    // Empty: the platform's default title.
    const std::string& GetTitle() const { return title_; }
    void SetTitle(const std::string& value) { title_ = value; }
    const std::vector<TFilterEntry>& GetFilter() const { return filter_; }
    void SetFilter(std::vector<TFilterEntry> value) { filter_ = std::move(value); }
    // 1-based, as the file-type box counts: the entry selected when it opens.
    int GetFilterIndex() const { return filterIndex_; }
    void SetFilterIndex(int value) { filterIndex_ = value; }
    TOpenOptions GetOptions() const { return options_; }
    void SetOptions(TOpenOptions value) { options_ = value; }
    const std::string& GetInitialDir() const { return initialDir_; }
    void SetInitialDir(const std::string& value) { initialDir_ = value; }
    // With ofSaveFile: the extension (without its dot) a name typed without one gets.
    const std::string& GetDefaultExt() const { return defaultExt_; }
    void SetDefaultExt(const std::string& value) { defaultExt_ = value; }

    // Shows the dialog modally; true when the user confirms. Then FileName is
    // the (first) chosen file and Files every chosen file, in the dialog's order.
    bool Execute();
    const std::string& GetFileName() const { return fileName_; }
    const TStringList& GetFiles() const { return files_; }
    // Sets the result; for the modal implementations.
    void SetResult(const std::vector<std::string>& paths);

private:
    std::string title_;
    std::vector<TFilterEntry> filter_;
    int filterIndex_ = 1;
    TOpenOptions options_ = ofHideReadOnly | ofEnableSizing;
    std::string initialDir_;
    std::string defaultExt_;
    std::string fileName_;
    TStringList files_;
};

class TApColorDialog : public TComponent {
public:
    explicit TApColorDialog(TComponent* owner);

    // The colour the dialog opens on and, after a confirmed Execute, the chosen one.
    TColor GetColor() const { return color_; }
    void SetColor(TColor value) { color_ = value; }

    bool Execute();

private:
    TColor color_ = clWhite;
};

enum class TSpecialFolder { ftDesktop, ftHome };

class TApFolderDialog : public TComponent {
public:
    explicit TApFolderDialog(TComponent* owner);

    TSpecialFolder GetSpecialIniFolder() const { return iniFolder_; }
    void SetSpecialIniFolder(TSpecialFolder value) { iniFolder_ = value; }

    // After a confirmed Execute, the chosen folder's path (no separator added).
    bool Execute();
    const std::string& GetFolder() const { return folder_; }
    void SetFolder(const std::string& value) { folder_ = value; }
    // Where the dialog opens when that folder exists; "" for the special folder.
    const std::string& GetInitialDir() const { return initialDir_; }
    void SetInitialDir(const std::string& value) { initialDir_ = value; }

private:
    TSpecialFolder iniFolder_ = TSpecialFolder::ftDesktop;
    std::string initialDir_;
    std::string folder_;
};

// The end of a run: its sentence; a line for each entry that was not simply
// saved (shown scrollable, with a button that copies them); where the results
// went; and the folder a button opens in the file manager ("" for no button).
struct TEndMessage {
    std::string Text;
    std::string Details;
    std::string Folder;
    std::string OpenFolder;
};

// Every modal window of the program.
class TModalInterface {
public:
    virtual ~TModalInterface() = default;
    // A box with caption, text and one OK button; returns when it is closed.
    virtual void MessageBox(const std::string& caption, const std::string& text) = 0;
    // The exception box: the failure's message, with the application title.
    virtual void ErrorBox(const std::string& caption, const std::string& text) = 0;
    virtual bool ExecuteOpen(TApOpenDialog& dialog) = 0;
    virtual bool ExecuteColor(TApColorDialog& dialog) = 0;
    virtual bool ExecuteFolder(TApFolderDialog& dialog) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Question(const std::string& caption, const std::string& text) = 0;
    virtual void EndMessage(const std::string& caption, const TEndMessage& message) = 0;
};

// The modal interface in use: Qt's unless one was installed.
TModalInterface& ModalInterface();
// Installs a modal interface (null: back to Qt's); returns the previous one.
std::unique_ptr<TModalInterface> SetModalInterface(std::unique_ptr<TModalInterface> modal);

// Real modal windows.
class TQtModal : public TModalInterface {
public:
    void MessageBox(const std::string& caption, const std::string& text) override;
    void ErrorBox(const std::string& caption, const std::string& text) override;
    bool ExecuteOpen(TApOpenDialog& dialog) override;
    bool ExecuteColor(TApColorDialog& dialog) override;
    bool ExecuteFolder(TApFolderDialog& dialog) override;
    bool Question(const std::string& caption, const std::string& text) override;
    void EndMessage(const std::string& caption, const TEndMessage& message) override;
};

// A scripted user: dialogs take queued answers (a dialog with none is cancelled)
// and boxes are recorded, oldest first, instead of shown.
class TScriptedModal : public TModalInterface {
public:
    struct Box {
        enum Kind { Message, Error, Question } kind;
        std::string caption;
        std::string text;  // an end message's: its sentence, then its lines
        // An end message's folder line and the folder its button opens.
        std::string folder;
        std::string openFolder;
        std::string details;  // an end message's lines alone
    };

    // The next Execute of the dialog of that name: confirmed with these paths
    // (open dialogs: the files; folder dialog: one folder) or this colour.
    void QueuePaths(const std::string& dialog, std::vector<std::string> paths);
    void QueueColor(const std::string& dialog, TColor color);
    void QueueCancel(const std::string& dialog);
    // The next question's answer: Yes or No. A question with none queued is answered No.
    void QueueAnswer(bool yes);

    // Unchecked boxes, oldest first.
    const std::deque<Box>& Boxes() const { return boxes_; }
    bool HasBox() const { return !boxes_.empty(); }
    Box TakeBox();
    void ClearBoxes() { boxes_.clear(); }
    // How many Execute calls each dialog saw.
    int ExecuteCount(const std::string& dialog) const;

    // Told of every box as it is shown (vmk-script prints it).
    std::function<void(const Box&)> OnBox;

    void MessageBox(const std::string& caption, const std::string& text) override;
    void ErrorBox(const std::string& caption, const std::string& text) override;
    bool ExecuteOpen(TApOpenDialog& dialog) override;
    bool ExecuteColor(TApColorDialog& dialog) override;
    bool ExecuteFolder(TApFolderDialog& dialog) override;
    bool Question(const std::string& caption, const std::string& text) override;
    void EndMessage(const std::string& caption, const TEndMessage& message) override;

private:
    struct Answer {
        bool ok = false;
        std::vector<std::string> paths;
        TColor color = 0;
    };
    bool Next(const std::string& dialog, Answer& answer);
    void Record(Box box);
    std::map<std::string, std::deque<Answer>> answers_;
    std::map<std::string, int> executed_;
    std::deque<Box> boxes_;
};

// A modal box with the application title as caption, the text and one OK button.
void ShowMessage(const std::string& text);
// The same with Yes and No; true for Yes.
bool AskYesNo(const std::string& text);
// A run's end message, with the application title as caption.
void ShowEndMessage(const TEndMessage& message);
// Whether a folder can be opened in the file manager here (xdg-open is installed).
bool CanOpenFolders();
// Writes a PNG of a recorded box as the program would show it, for pictures of
// the program; false when it cannot be written.
bool SnapshotBox(const TScriptedModal::Box& box, const std::string& png);

}  // namespace vmk
