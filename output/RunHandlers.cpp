#include "app/MainForm.h"
#include "core/FileUtils.h"
#include "output/Compose.h"
#include "output/FormSettings.h"

namespace vmk {

namespace {

// "Please Wait..." and the hourglass for as long as a run lasts, however it
// ends. Both repaints happen at once: the run handles no events in between.
class TRunningState {
public:
    explicit TRunningState(TMainForm& form) : form_(form) {
        form_.Label8->Show();
        form_.Tabs->Update();
        Screen->SetCursor(crHourGlass);
    }
    ~TRunningState() {
        try {
            form_.Label8->Hide();
            Screen->SetCursor(crDefault);
            form_.Tabs->Update();
        } catch (...) {  // an unwinding failure is what the user must see
        }
    }
    TRunningState(const TRunningState&) = delete;
    TRunningState& operator=(const TRunningState&) = delete;

private:
    TMainForm& form_;
};

}  // namespace

void TMainForm::ProcessClick(TObject*) {
    {
        TRunningState running(*this);
        TBitmap working;  // made once, reused for every picture
        TBitmap cover;
        const TCoverSettings coverSettings = CoverSettingsOf(*this);
        const TOutputSettings output = OutputSettingsOf(*this);
        PrepareCover(cover, coverSettings);
        const std::string appFolder = RelativeOutputBase(ApplicationFolder());

        // The count is read before every pass: a message box lets events through.
        for (int i = 0; i < FilePaths().GetCount(); ++i) {
            const std::string source = FilePaths().Get(i);
            if (!IsAcceptedExtension(source)) {
                ShowMessage("Error with file " + source + ": Invalid file extension");
                continue;
            }
            const std::string folder = OutputFolder(output.Path, source, appFolder);
            // A folder that cannot be made shows up as the failing save below.
            ForceDirectories(folder);
            const std::string target = folder + OutputFileName(source, output);
            // The source is read whole here, so a result may safely replace it.
            TJPEGMarkers markers;  // what a JPEG result keeps of a JPEG source
            LoadSource(working, source, markers);
            DrawCover(working, cover, coverSettings);
            WriteResult(working, target, WriteFormatFor(output.SaveAs, source), output.Quality, markers);
        }
    }
    ShowMessage("Operation done! All files have been saved successfully.");
}

void TMainForm::Button1Click(TObject*) {
    if (SaveLocDlg->Execute()) Path->SetText(SaveLocDlg->GetFolder() + "/");
}

}  // namespace vmk
