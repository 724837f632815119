#pragma once

// The main window: every control of its five pages, and the handlers that serve
// them. The handlers are defined in the folder of the page that owns them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/StringList.h"
#include "widgets/ComCtrls.h"
#include "widgets/Dialogs.h"
#include "widgets/ExtCtrls.h"
#include "widgets/Forms.h"
#include "widgets/Spin.h"
#include "widgets/StdCtrls.h"

namespace vmk {

class TMainForm : public TForm {
public:
    // Builds the window and its controls, then runs FormCreate.
    explicit TMainForm(TComponent* owner);
    ~TMainForm() override;

    // Controls and components; the form owns them all.
    TApOpenDialog* OpenFiles;
    TApOpenDialog* OpenCover;
    TTabbedNotebook* Tabs;
    TButton* Open;
    TListBox* FilesList;
    TImage* PreviewFiles;
    TButton* Delete;
    TRadioButton* BMP;
    TRadioButton* JPG;
    TRadioButton* AsIs;
    TRadioButton* PNG;
    TRadioButton* WEBP;
    TRadioButton* TIFF;
    TCSpinEdit* JPGQuality;
    TLabel* Label1;
    TPanel* Panel1;
    TRadioButton* Prefix;
    TRadioButton* Suffix;
    TLabel* Label2;
    TEdit* FileFix;
    TListBox* FileListSave;
    TImage* PreviewSave;
    TLabel* Label4;
    TBitBtn* Process;
    TLabel* Label5;
    TLabel* Label8;
    TButton* Update;
    TApColorDialog* ColorDlg;
    TTimer* UpdTimer;
    TPanel* Panel2;
    TImage* PreviewCover;
    TShape* TransColor;
    TButton* SetTColor;
    TLabel* Label11;
    TLabel* Label10;
    TCheckBox* AutoDetTrans;
    TLabel* Label9;
    TCheckBox* CoverTransparent;
    TCSpinEdit* CoverTop;
    TLabel* Label7;
    TLabel* Label6;
    TCSpinEdit* CoverLeft;
    TRadioButton* RB;
    TRadioButton* RT;
    TRadioButton* LT;
    TRadioButton* LB;
    TRadioButton* OtherPos;
    TButton* Browse;
    TEdit* CoverFile;
    TLabel* Label3;
    TLabel* Label12;
    TEdit* Path;
    TButton* Button1;
    TApFolderDialog* SaveLocDlg;
    TStaticText* StaticText1;
    TStaticText* StaticText2;
    TStaticText* StaticText3;
    TStaticText* StaticText4;
    TStaticText* StaticText5;
    // Shown only while a batch run lasts.
    TProgressBar* ProgressBar1;
    TButton* Cancel;
    // The cover's further places, its margins, strength and size.
    TRadioButton* TC;
    TRadioButton* BC;
    TRadioButton* LM;
    TRadioButton* RM;
    TRadioButton* CC;
    TLabel* Label13;
    TCSpinEdit* MarginX;
    TLabel* Label14;
    TCSpinEdit* MarginY;
    TCheckBox* MarginPercent;
    TLabel* Label15;
    TCSpinEdit* Opacity;
    TLabel* Label16;
    TCSpinEdit* SizePercent;
    TLabel* Label17;
    TPanel* Panel3;
    TRadioButton* SizeAsIs;
    TRadioButton* SizeWidth;
    TRadioButton* SizeHeight;
    TRadioButton* SizeShorter;
    // Whole folders on "Files to Edit"; set-ups kept in files, on "About".
    TButton* AddFolder;
    TApFolderDialog* OpenFolder;
    TCheckBox* Subfolders;
    TCheckBox* KeepSubfolders;
    TStaticText* SetupText;
    TButton* SaveSettings;
    TButton* LoadSettings;
    TApOpenDialog* SaveSettingsDialog;
    TApOpenDialog* LoadSettingsDialog;

    // Fitted previews, a batch list to manage, and what Process waits for.
    TCheckBox* FitFiles;
    TCheckBox* FitCover;
    TCheckBox* FitSave;
    TButton* ClearList;
    TLabel* FilesCount;
    TLabel* ProcessWhy;
    TTimer* SaveTimer;  // a save preview due after a change of what it shows

    // Run rules: what a result whose name is taken does, and what a failure does.
    TPanel* ExistPanel;
    TLabel* ExistLabel;
    TRadioButton* ExistOverwrite;
    TRadioButton* ExistSkip;
    TRadioButton* ExistKeepBoth;
    TPanel* FailPanel;
    TLabel* FailLabel;
    TRadioButton* FailStop;
    TRadioButton* FailGoOn;
    void ExistOverwriteClick(TObject* Sender);  // output/: serves the three "When a result exists" buttons

    // Handlers.
    void OpenClick(TObject* Sender);                                               // inputs/
    void DeleteClick(TObject* Sender);                                             // inputs/
    void FilesListClick(TObject* Sender);                                          // inputs/
    void FormResize(TObject* Sender);                                              // app/
    void FormCreate(TObject* Sender);                                              // app/
    void BrowseClick(TObject* Sender);                                             // inputs/
    void BMPClick(TObject* Sender);                                                // output/
    void FileListSaveClick(TObject* Sender);                                       // output/
    void CoverFileChange(TObject* Sender);                                         // inputs/
    void OtherPosClick(TObject* Sender);                                           // inputs/
    void ProcessClick(TObject* Sender);                                            // output/
    void CoverTransparentClick(TObject* Sender);                                   // inputs/
    void UpdateClick(TObject* Sender);                                             // output/
    void TabsChange(TObject* Sender, int NewTab, bool& AllowChange);               // app/
    void SetTColorClick(TObject* Sender);                                          // inputs/
    void AutoDetTransClick(TObject* Sender);                                       // inputs/
    void PreviewCoverMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);  // inputs/
    void PreviewCoverMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X,
                             int Y);                                            // inputs/
    void UpdTimerTimer(TObject* Sender);                                        // inputs/
    void Label3MouseMove(TObject* Sender, TShiftState Shift, int X, int Y);     // inputs/
    void CoverTopMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);   // inputs/
    void Button1Click(TObject* Sender);                                         // output/
    void JPGQualityChange(TObject* Sender);                                     // output/
    void CoverLeftKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift);   // inputs/
    void CoverTopKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift);    // inputs/
    void JPGQualityKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift);  // output/
    void JPGQualityKeyUp(TObject* Sender, uint16_t& Key, TShiftState Shift);    // output/
    void CoverLeftKeyUp(TObject* Sender, uint16_t& Key, TShiftState Shift);     // inputs/
    void CoverTopKeyUp(TObject* Sender, uint16_t& Key, TShiftState Shift);      // inputs/
    void FormClose(TObject* Sender, TCloseAction& Action);                      // app/
    // Files dropped from a file manager.
    void FilesListDropFiles(TObject* Sender, const std::vector<std::string>& Files);  // inputs/
    void CoverFileDropFiles(TObject* Sender, const std::vector<std::string>& Files);  // inputs/
    void CancelClick(TObject* Sender);                                                // output/
    // The cover's margins, opacity and size fields.
    void MarginPercentClick(TObject* Sender);                                   // inputs/
    void CoverSizeClick(TObject* Sender);                                       // inputs/
    void CoverFieldChange(TObject* Sender);                                     // inputs/
    void CoverFieldKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift);  // inputs/
    void CoverFieldKeyUp(TObject* Sender, uint16_t& Key, TShiftState Shift);    // inputs/
    // Whole folders and set-up files.
    void AddFolderClick(TObject* Sender);     // inputs/
    void SaveSettingsClick(TObject* Sender);  // app/
    void LoadSettingsClick(TObject* Sender);  // app/
    // Where the open dialogs start: the folder of the last picture added, and
    // the last folder added whole.
    std::string LastPictureFolder;
    std::string LastAddedFolder;

    // Fitted previews, the batch list, the save preview that keeps up.
    void FitFilesClick(TObject* Sender);                                       // inputs/
    void FitCoverClick(TObject* Sender);                                       // inputs/
    void FitSaveClick(TObject* Sender);                                        // output/
    void ClearListClick(TObject* Sender);                                      // inputs/
    void FilesListKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift);  // inputs/
    void SavePreviewStale(TObject* Sender);                                    // output/
    void SaveTimerTimer(TObject* Sender);                                      // output/
    // "N pictures" under the list.
    void ShowBatchCount();  // inputs/
    // Why Process cannot run now, in one line; "" when it can.
    std::string ProcessBlocker() const;  // app/

    // The batch run while it lasts: events keep coming, so the window's
    // handlers need to know. Workers 0 takes every core; tests set it, and
    // OnStep, which runs after each entry the run has finished with.
    struct TRunState {
        bool Active = false;
        bool CancelRequested = false;
        bool CloseRequested = false;
        int Workers = 0;
        std::function<void(int index)> OnStep;
    } RunState;

    // Sizing: the least client area that shows every control of every page
    // whole, as worked out from the layout when the window was made.
    int GetMinClientWidth() const { return minClientWidth_; }
    int GetMinClientHeight() const { return minClientHeight_; }

private:
    // Sizing: previews grow both ways, lists downwards, the output folder
    // field to the right; what lies below a growing control in its column, or
    // right of it in its row, moves along. Worked out from the layout as built.
    struct TGrowth {
        TControl* Control;
        int Left, Top, Width, Height;     // as built
        int ParentWidth, ParentHeight;    // the parent's, as built
        bool Wider, Taller, Right, Down;  // grows, moves along
    };
    void PlanGrowth();
    void PlanGrowthIn(TWinControl* parent, int parentWidth, int parentHeight);
    void Grow();
    std::vector<TGrowth> growth_;
    int minClientWidth_ = 0, minClientHeight_ = 0;
    // The save preview's refresh: one at a time; a change during one asks for
    // one more, never for a queue. A failure of an automatic refresh is shown
    // once, not at every change after it.
    bool savePreviewRunning_ = false;
    bool savePreviewAgain_ = false;
    std::string savePreviewFailure_;
    void RefreshSavePreview(bool byUser);  // output/
    // The batch line the file preview shows, -1 for none: removing it empties the preview.
    int previewedLine_ = -1;
    // A fitted JPEG preview's decode scale (a TJPEGReduceBy) and the picture's
    // whole size: a box grown past what that scale fills reads it again.
    struct TFitDecode {
        int Reduce = 0;
        int Width = 0, Height = 0;
    } filesDecode_, saveDecode_;
    void ShowFilePreview(int line);  // inputs/
    void RefitFilePreview();         // inputs/
    void RefitSavePreview();         // output/

    void BuildFilesPage(TWinControl* page);
    void BuildCoverPage(TWinControl* page);
    void BuildSaveOptionsPage(TWinControl* page);
    void BuildProcessPage(TWinControl* page);
    void BuildAboutPage(TWinControl* page);
    void BindEvents();
    void BuildFolderControls(TWinControl* page);
    void BuildSetupControls(TWinControl* page);
};

// The one main window, or null while there is none.
extern TMainForm* MainForm;

// The file-path list: the full path of every source picture, line i belonging
// to line i of FilesList and FileListSave. Created before the entry point runs
// and alive until the process ends.
TStringList& FilePaths();

// The program's texts that more than one place needs.
inline constexpr const char* kApplicationTitle = "Vellumark 1.0";
inline constexpr const char* kProcessCaption =
    "Click to Process all Files\r\n\r\n(All existing files will be overwritten automatically!)";

}  // namespace vmk
