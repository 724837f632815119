#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/MainForm.h"
#include "compose/BatchRun.h"
#include "compose/Compose.h"
#include "core/FileUtils.h"
#include "core/Stop.h"
#include "output/FormSettings.h"
#include "widgets/Dialogs.h"

namespace vmk {

namespace {

// The window while a run lasts, however it ends: "Please Wait...", the
// progress and Cancel shown, the hourglass, and every other control disabled
// so that no other handler can start while the run's events come through.
class TRunningState {
public:
    TRunningState(TMainForm& form, int total) : form_(form) {
        form_.RunState.Active = true;
        form_.RunState.CancelRequested = false;
        form_.RunState.CloseRequested = false;
        for (int i = 0; i < form_.GetComponentCount(); ++i) {
            auto* control = dynamic_cast<TControl*>(form_.GetComponent(i));
            if (!control || control == form_.Tabs || control == form_.Label8 || control == form_.ProgressBar1 ||
                control == form_.Cancel)
                continue;
            disabled_.emplace_back(control, control->GetEnabled());
            control->SetEnabled(false);
        }
        form_.Tabs->SetTabsEnabled(false);
        form_.ProgressBar1->SetMax(total);
        form_.ProgressBar1->SetPosition(0);
        form_.ProgressBar1->Show();
        form_.Cancel->Show();
        form_.Label8->Show();
        if (form_.Cancel->CanFocus()) form_.Cancel->SetFocus();
        form_.Tabs->Update();
        Screen->SetCursor(crHourGlass);
    }
    ~TRunningState() {
        try {
            form_.Label8->Hide();
            form_.ProgressBar1->Hide();
            form_.Cancel->Hide();
            for (auto it = disabled_.rbegin(); it != disabled_.rend(); ++it) it->first->SetEnabled(it->second);
            form_.Tabs->SetTabsEnabled(true);
            Screen->SetCursor(crDefault);
            form_.Tabs->Update();
        } catch (...) {  // an unwinding failure is what the user must see
        }
        form_.RunState.Active = false;
    }
    TRunningState(const TRunningState&) = delete;
    TRunningState& operator=(const TRunningState&) = delete;

private:
    TMainForm& form_;
    std::vector<std::pair<TControl*, bool>> disabled_;
};

// The end message: what became of each entry, and where the results went.
TEndMessage EndMessageFor(const std::vector<TEntryReport>& reports, const std::string& pathText,
                          const std::string& appFolder) {
    const TEndText text = EndMessageText(reports);
    TEndMessage message{text.Text, text.Details, {}, {}};
    std::string open;
    if (pathText.empty()) {
        message.Folder = "beside each source";
        // Sources of one folder have one place worth opening.
        for (const TEntryReport& r : reports) {
            if (r.WrittenTo.empty()) continue;
            const std::string folder = ExtractFilePath(r.WrittenTo);
            if (open.empty()) {
                open = folder;
            } else if (open != folder) {
                open.clear();
                break;
            }
        }
    } else {
        message.Folder = OutputFolder(pathText, std::string(), appFolder);
        open = message.Folder;
    }
    if (!open.empty() && DirectoryExists(open) && CanOpenFolders()) message.OpenFolder = open;
    return message;
}

}  // namespace

void TMainForm::ProcessClick(TObject*) {
    if (RunState.Active) return;  // one run at a time
    std::vector<std::string> sources;
    sources.reserve(static_cast<size_t>(FilePaths().GetCount()));
    for (int i = 0; i < FilePaths().GetCount(); ++i) sources.push_back(FilePaths().Get(i));
    // Pictures added from a folder keep their subfolders under the output folder.
    std::vector<std::string> roots;
    if (KeepSubfolders->GetChecked())
        for (int i = 0; i < FilePaths().GetCount(); ++i) roots.push_back(FilePaths().GetTag(i));
    const int total = static_cast<int>(sources.size());
    const TCoverSettings coverSettings = CoverSettingsOf(*this);
    const TOutputSettings output = OutputSettingsOf(*this);
    const TRunRules rules = RunRulesOf(*this);
    const bool goOn = rules.OnFailure == TOnFailure::GoOn;
    const std::string appFolder = RelativeOutputBase(ApplicationFolder());
    TBitmap cover;  // read once, drawn by every worker
    PrepareCover(cover, coverSettings);
    std::vector<TBatchEntry> plan = PlanBatch(sources, roots, output, appFolder, rules.Existing);
    // Before anything is written: results that would replace one another or
    // their own sources are asked about once (only overwriting loses them).
    if (rules.Existing == TExisting::Overwrite) {
        const std::string question = ClashQuestion(plan, FindClashes(plan));
        if (!question.empty() && !AskYesNo(question)) return;
    }
    int saved = 0;
    bool cancelled = false;
    std::vector<TEntryReport> reports;
    {
        TRunningState running(*this, total);

        // The workers load, stamp and compress ahead; here, in list order, each
        // entry's message is shown or its result handed to the writer, as one
        // thread would. Events are handled between every two steps, so Cancel,
        // Esc and a close are answered however far ahead the workers are.
        TBatchRun run(std::move(plan), cover, coverSettings, output.Quality, RunState.Workers, &TApplication::WakeUp,
                      rules);
        const auto waitFor = [&](const std::function<bool()>& done) {
            Application->ProcessMessages();
            Application->ProcessMessagesUntil([&] { return RunState.CancelRequested || done(); });
            return !RunState.CancelRequested;
        };
        try {
            for (int i = 0; i < run.Count(); ++i) {
                if (!waitFor([&] { return run.IsReady(i); })) break;
                // A refused name's box, or a failure, comes once every earlier result is on disk.
                if (run.NeedsWritesFirst(i) && !waitFor([&] { return run.WritesDone(); })) break;
                run.CheckWrites();
                const TBatchEntry& entry = run.Entry(i);
                if (!entry.Accepted) {
                    run.Commit(i);
                    // Going on, the end message names it with the rest.
                    if (!goOn) ShowMessage("Error with file " + entry.Source + ": Invalid file extension");
                } else if (goOn) {
                    try {
                        run.Commit(i);
                    } catch (const EAbort&) {
                        throw;
                    } catch (const std::exception&) {  // the end message names it
                    }
                } else {
                    NamingFile(entry.Source, [&] { run.Commit(i); });
                }
                ProgressBar1->SetPosition(i + 1);
                if (RunState.OnStep) {
                    // The hook stands in for a user acting after this step: what
                    // the step wrote is on disk by then.
                    if (!waitFor([&] { return run.WritesDone(); })) break;
                    run.CheckWrites();
                    RunState.OnStep(i);
                }
            }
        } catch (...) {
            // Whatever ended the run, what was written is flushed before the box.
            run.Cancel();
            run.Finish();
            Application->ProcessMessagesUntil([&] { return run.Finished(); });
            throw;
        }
        cancelled = RunState.CancelRequested;
        if (cancelled) run.Cancel();
        // The rest is written (none after a Cancel) and flushed without holding up
        // the window; a Cancel meanwhile drops what is not written yet.
        run.Finish();
        Application->ProcessMessagesUntil([&] {
            if (RunState.CancelRequested && !cancelled) {
                cancelled = true;
                run.Cancel();
            }
            return run.Finished();
        });
        saved = run.Saved();
        if (!cancelled) run.CheckWrites();
        for (int i = 0; i < run.Count(); ++i) reports.push_back(run.Report(i));
        // Leaving here stops the workers: pictures still in hand are dropped,
        // and nothing of theirs has reached the disk.
    }
    if (RunState.CloseRequested) {
        Close();
        return;
    }
    if (cancelled) {
        ShowMessage("Operation cancelled! " + std::to_string(saved) + " of " + std::to_string(total) +
                    " files have been saved.");
        return;
    }
    ShowEndMessage(EndMessageFor(reports, output.Path, appFolder));
}

void TMainForm::ExistOverwriteClick(TObject*) { Process->SetCaption(ProcessCaptionFor(RunRulesOf(*this).Existing)); }

void TMainForm::CancelClick(TObject*) {
    if (RunState.Active) RunState.CancelRequested = true;
}

void TMainForm::Button1Click(TObject*) {
    // Opens at the folder already set, when there is one.
    const std::string set = Path->GetText().empty() || HasNulCharacter(Path->GetText())
                                ? std::string()
                                : OutputFolder(Path->GetText(), "", RelativeOutputBase(ApplicationFolder()));
    SaveLocDlg->SetInitialDir(!set.empty() && DirectoryExists(set) ? set : std::string());
    if (SaveLocDlg->Execute()) Path->SetText(SaveLocDlg->GetFolder() + "/");
}

}  // namespace vmk
