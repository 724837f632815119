#include "widgets/Dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QVBoxLayout>

#include <memory>
#include <utility>

#include "widgets/Forms.h"
#include "widgets/QtSupport.h"

namespace vmk {

// ---- dialogs

TApOpenDialog::TApOpenDialog(TComponent* owner) : TComponent(owner) {}

bool TApOpenDialog::Execute() { return ModalInterface().ExecuteOpen(*this); }

void TApOpenDialog::SetResult(const std::vector<std::string>& paths) {
    files_.Clear();
    files_.AddStrings(paths);
    fileName_ = paths.empty() ? std::string() : paths.front();
}

TApColorDialog::TApColorDialog(TComponent* owner) : TComponent(owner) {}

bool TApColorDialog::Execute() { return ModalInterface().ExecuteColor(*this); }

TApFolderDialog::TApFolderDialog(TComponent* owner) : TComponent(owner) {}

bool TApFolderDialog::Execute() { return ModalInterface().ExecuteFolder(*this); }

void ShowMessage(const std::string& text) {
    ModalInterface().MessageBox(Application ? Application->GetTitle() : std::string(), text);
}

bool AskYesNo(const std::string& text) {
    return ModalInterface().Question(Application ? Application->GetTitle() : std::string(), text);
}

void ShowEndMessage(const TEndMessage& message) {
    ModalInterface().EndMessage(Application ? Application->GetTitle() : std::string(), message);
}

bool CanOpenFolders() { return !QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty(); }

// ---- the modal interface in use

namespace {
std::unique_ptr<TModalInterface>& Installed() {
    static std::unique_ptr<TModalInterface> modal;
    return modal;
}
}  // namespace

TModalInterface& ModalInterface() {
    auto& modal = Installed();
    if (!modal) modal = std::make_unique<TQtModal>();
    return *modal;
}

std::unique_ptr<TModalInterface> SetModalInterface(std::unique_ptr<TModalInterface> modal) {
    std::unique_ptr<TModalInterface> old = std::move(Installed());
    Installed() = std::move(modal);
    return old;
}

// ---- Qt's windows

namespace {

QWidget* ActiveParent() {
    if (Application && Application->GetMainForm()) return Application->GetMainForm()->GetWidget();
    return QApplication::activeWindow();
}

// "Graphic Files (*.bmp) (*.BMP *.bmp)": Qt reads the patterns from the last
// brackets. Both cases are listed so that matching ignores case on any file system.
QStringList NameFilters(const std::vector<TFilterEntry>& filter) {
    QStringList out;
    for (const TFilterEntry& e : filter) {
        QStringList patterns;
        for (const std::string& p : e.Patterns) {
            const QString q = ToQ(p);
            for (const QString& v : {q, q.toLower(), q.toUpper()})
                if (!patterns.contains(v)) patterns << v;
        }
        out << ToQ(e.Description) + QStringLiteral(" (") + patterns.join(' ') + QStringLiteral(")");
    }
    return out;
}

}  // namespace

void TQtModal::MessageBox(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, ToQ(caption), ToQ(text), QMessageBox::Ok, ActiveParent());
    box.exec();
}

void TQtModal::ErrorBox(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::Critical, ToQ(caption), ToQ(text), QMessageBox::Ok, ActiveParent());
    box.exec();
}

namespace {

// The end message's window: sentence, the scrolling list with its copy button,
// the folder line and its open button.
void BuildEndMessage(QDialog& box, const std::string& caption, const TEndMessage& message) {
    box.setWindowTitle(ToQ(caption));
    auto* layout = new QVBoxLayout(&box);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(&box);
    const bool clean = message.Details.empty();
    const QStyle::StandardPixmap kind = clean ? QStyle::SP_MessageBoxInformation : QStyle::SP_MessageBoxWarning;
    const int side = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    icon->setPixmap(box.style()->standardIcon(kind, nullptr, &box).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* text = new QLabel(ToQ(message.Text), &box);
    text->setObjectName(QStringLiteral("EndText"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(text, 1);
    layout->addLayout(top);
    QPlainTextEdit* list = nullptr;
    if (!clean) {
        // However many entries failed, the box stays on the screen: the list scrolls.
        list = new QPlainTextEdit(ToQ(message.Details), &box);
        list->setObjectName(QStringLiteral("EndDetails"));
        list->setReadOnly(true);
        list->setLineWrapMode(QPlainTextEdit::NoWrap);
        list->setMinimumSize(600, 160);
        layout->addWidget(list, 1);
    }
    if (!message.Folder.empty()) {
        auto* folder = new QLabel(QStringLiteral("Saved in: ") + ToQ(message.Folder), &box);
        folder->setObjectName(QStringLiteral("EndFolder"));
        folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(folder);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    if (list) {
        QPushButton* copy = buttons->addButton(QStringLiteral("&Copy List"), QDialogButtonBox::ActionRole);
        QObject::connect(copy, &QPushButton::clicked, &box,
                         [details = ToQ(message.Details)] { QGuiApplication::clipboard()->setText(details); });
    }
    if (!message.OpenFolder.empty()) {
        QPushButton* open = buttons->addButton(QStringLiteral("&Open Folder"), QDialogButtonBox::ActionRole);
        QObject::connect(open, &QPushButton::clicked, &box, [folder = ToQ(message.OpenFolder)] {
            QProcess::startDetached(QStringLiteral("xdg-open"), {folder});
        });
    }
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    layout->addWidget(buttons);
}

void BuildQuestion(QMessageBox& box) {
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // Stopping loses nothing: it is what Enter does.
    box.setDefaultButton(QMessageBox::No);
}

}  // namespace

void TQtModal::EndMessage(const std::string& caption, const TEndMessage& message) {
    QDialog box(ActiveParent());
    BuildEndMessage(box, caption, message);
    box.exec();
}

bool TQtModal::Question(const std::string& caption, const std::string& text) {
    QMessageBox box(ActiveParent());
    box.setWindowTitle(ToQ(caption));
    box.setText(ToQ(text));
    BuildQuestion(box);
    return box.exec() == QMessageBox::Yes;
}

bool SnapshotBox(const TScriptedModal::Box& box, const std::string& png) {
    std::unique_ptr<QWidget> shown;
    if (box.kind == TScriptedModal::Box::Question) {
        auto question = std::make_unique<QMessageBox>(ActiveParent());
        question->setWindowTitle(ToQ(box.caption));
        question->setText(ToQ(box.text));
        BuildQuestion(*question);
        shown = std::move(question);
    } else {
        auto end = std::make_unique<QDialog>(ActiveParent());
        std::string text = box.text;
        if (!box.details.empty()) text.resize(text.size() - box.details.size() - 1);
        BuildEndMessage(*end, box.caption, TEndMessage{text, box.details, box.folder, box.openFolder});
        shown = std::move(end);
    }
    shown->show();
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
    const bool saved = shown->grab().save(ToQ(png), "PNG");
    shown->close();
    return saved;
}

bool TQtModal::ExecuteOpen(TApOpenDialog& dialog) {
    QFileDialog fd(ActiveParent());
    fd.setOption(QFileDialog::DontUseNativeDialog);
    if (!dialog.GetTitle().empty()) fd.setWindowTitle(ToQ(dialog.GetTitle()));
    const TOpenOptions o = dialog.GetOptions();
    if (o & ofSaveFile) {
        fd.setAcceptMode(QFileDialog::AcceptSave);
        fd.setFileMode(QFileDialog::AnyFile);
        if (!dialog.GetDefaultExt().empty()) fd.setDefaultSuffix(ToQ(dialog.GetDefaultExt()));
    } else {
        fd.setFileMode((o & ofAllowMultiSelect) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    fd.setOption(QFileDialog::ReadOnly, false);
    const QStringList filters = NameFilters(dialog.GetFilter());
    if (!filters.isEmpty()) {
        fd.setNameFilters(filters);
        const int index = dialog.GetFilterIndex() - 1;
        if (index >= 0 && index < filters.size()) fd.selectNameFilter(filters[index]);
    }
    if (!dialog.GetInitialDir().empty()) fd.setDirectory(ToQ(dialog.GetInitialDir()));
    if (fd.exec() != QDialog::Accepted) return false;
    std::vector<std::string> paths;
    for (const QString& f : fd.selectedFiles()) paths.push_back(FromQ(f));
    if (paths.empty()) return false;
    dialog.SetResult(paths);
    return true;
}

bool TQtModal::ExecuteColor(TApColorDialog& dialog) {
    QColorDialog cd(ToQColor(dialog.GetColor()), ActiveParent());
    if (cd.exec() != QDialog::Accepted) return false;
    dialog.SetColor(FromQColor(cd.selectedColor()));
    return true;
}

bool TQtModal::ExecuteFolder(TApFolderDialog& dialog) {
    QString start = QDir::homePath();
    if (dialog.GetSpecialIniFolder() == TSpecialFolder::ftDesktop) {
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        if (!desktop.isEmpty() && QDir(desktop).exists()) start = desktop;
    }
    if (!dialog.GetInitialDir().empty() && QDir(ToQ(dialog.GetInitialDir())).exists())
        start = ToQ(dialog.GetInitialDir());
    const QString chosen = QFileDialog::getExistingDirectory(
        ActiveParent(), QString(), start, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty()) return false;
    dialog.SetFolder(FromQ(chosen));
    return true;
}

// ---- the scripted user

void TScriptedModal::QueuePaths(const std::string& dialog, std::vector<std::string> paths) {
    Answer a;
    a.ok = true;
    a.paths = std::move(paths);
    answers_[dialog].push_back(std::move(a));
}

void TScriptedModal::QueueColor(const std::string& dialog, TColor color) {
    Answer a;
    a.ok = true;
    a.color = color;
    answers_[dialog].push_back(std::move(a));
}

void TScriptedModal::QueueCancel(const std::string& dialog) { answers_[dialog].push_back(Answer{}); }

void TScriptedModal::QueueAnswer(bool yes) {
    Answer a;
    a.ok = yes;
    answers_["Question"].push_back(std::move(a));
}

bool TScriptedModal::Question(const std::string& caption, const std::string& text) {
    Record(Box{Box::Question, caption, text, {}, {}, {}});
    Answer a;
    return Next("Question", a);
}

void TScriptedModal::EndMessage(const std::string& caption, const TEndMessage& message) {
    std::string text = message.Text;
    if (!message.Details.empty()) text += "\n" + message.Details;
    Record(Box{Box::Message, caption, std::move(text), message.Folder, message.OpenFolder, message.Details});
}

TScriptedModal::Box TScriptedModal::TakeBox() {
    Box b = boxes_.front();
    boxes_.pop_front();
    return b;
}

int TScriptedModal::ExecuteCount(const std::string& dialog) const {
    auto it = executed_.find(dialog);
    return it == executed_.end() ? 0 : it->second;
}

bool TScriptedModal::Next(const std::string& dialog, Answer& answer) {
    ++executed_[dialog];
    auto it = answers_.find(dialog);
    if (it == answers_.end() || it->second.empty()) return false;  // no answer: cancelled
    answer = std::move(it->second.front());
    it->second.pop_front();
    return answer.ok;
}

void TScriptedModal::Record(Box box) {
    boxes_.push_back(std::move(box));
    if (OnBox) OnBox(boxes_.back());
}

void TScriptedModal::MessageBox(const std::string& caption, const std::string& text) {
    Record(Box{Box::Message, caption, text, {}, {}, {}});
}

void TScriptedModal::ErrorBox(const std::string& caption, const std::string& text) {
    Record(Box{Box::Error, caption, text, {}, {}, {}});
}

bool TScriptedModal::ExecuteOpen(TApOpenDialog& dialog) {
    Answer a;
    if (!Next(dialog.GetName(), a) || a.paths.empty()) return false;
    if (!(dialog.GetOptions() & ofAllowMultiSelect)) a.paths.resize(1);
    dialog.SetResult(a.paths);
    return true;
}

bool TScriptedModal::ExecuteColor(TApColorDialog& dialog) {
    Answer a;
    if (!Next(dialog.GetName(), a)) return false;
    dialog.SetColor(a.color);
    return true;
}

bool TScriptedModal::ExecuteFolder(TApFolderDialog& dialog) {
    Answer a;
    if (!Next(dialog.GetName(), a) || a.paths.empty()) return false;
    dialog.SetFolder(a.paths.front());
    return true;
}

}  // namespace vmk
