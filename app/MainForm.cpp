#include "app/MainForm.h"

#include <QtGlobal>
#include <algorithm>

#include "app/Settings.h"
#include "compose/Compose.h"
#include "core/FileUtils.h"

// The icon lives in a static library, whose resources must be registered by hand.
static void RegisterResources() { Q_INIT_RESOURCE(vellumark); }

namespace vmk {

TMainForm* MainForm = nullptr;

namespace {
// Made when the program's modules initialise, before the entry point runs; it
// lives until the process ends.
TStringList gFilePaths;

template <class T>
T* Place(TMainForm& form, TWinControl* parent, const char* name, int left, int top, int width, int height,
         int tabOrder = -1) {
    T* control = TComponent::Create<T>(form, name);
    control->SetParent(parent);
    control->SetBounds(left, top, width, height);
    control->SetTabOrder(tabOrder);
    return control;
}

TFont BoldFont(int height) {
    TFont f;
    f.Height = height;
    f.Bold = true;
    return f;
}
}  // namespace

TStringList& FilePaths() { return gFilePaths; }

TMainForm::TMainForm(TComponent* owner) : TForm(owner) {
    SetCaption("Vellumark");
    RegisterResources();
    SetIconResource(":/vellumark.png");
    SetOuterSize(600, 400);
    SetMinOuterSize(350, 400);
    CenterOnScreen();

    OpenFiles = TComponent::Create<TApOpenDialog>(*this, "OpenFiles");
    OpenFiles->SetTitle("Open Graphic Files...");
    OpenFiles->SetOptions(ofHideReadOnly | ofAllowMultiSelect | ofPathMustExist | ofFileMustExist | ofEnableSizing);
    OpenFiles->SetFilter(
        {{"Graphic Files (*.bmp, *.jpg, *.jpeg, *.png, *.webp, *.tif, *.tiff, *.heic, *.heif, *.avif)",
          {"*.BMP", "*.JPG", "*.JPEG", "*.PNG", "*.WEBP", "*.TIF", "*.TIFF", "*.HEIC", "*.HEIF", "*.AVIF"}},
         {"Windows/OS2 Bitmaps (*.bmp)", {"*.BMP"}},
         {"JPEG-Files (*.jpg, *.jpeg)", {"*.JPG", "*.JPEG"}},
         {"PNG-Files (*.png)", {"*.PNG"}},
         {"WebP-Files (*.webp)", {"*.WEBP"}},
         {"TIFF-Files (*.tif, *.tiff)", {"*.TIF", "*.TIFF"}},
         {"HEIF-Files (*.heic, *.heif)", {"*.HEIC", "*.HEIF"}},
         {"AVIF-Files (*.avif)", {"*.AVIF"}}});
    OpenFiles->SetFilterIndex(1);

    OpenCover = TComponent::Create<TApOpenDialog>(*this, "OpenCover");
    OpenCover->SetOptions(ofHideReadOnly | ofPathMustExist | ofFileMustExist | ofEnableSizing);
    OpenCover->SetFilter({{"Cover Pictures (*.BMP, *.PNG)", {"*.BMP", "*.PNG"}},
                          {"Windows/OS2 Bitmaps (*.BMP)", {"*.BMP"}},
                          {"PNG Pictures (*.PNG)", {"*.PNG"}}});
    OpenCover->SetFilterIndex(1);

    ColorDlg = TComponent::Create<TApColorDialog>(*this, "ColorDlg");
    ColorDlg->SetColor(clWhite);

    SaveLocDlg = TComponent::Create<TApFolderDialog>(*this, "SaveLocDlg");
    SaveLocDlg->SetSpecialIniFolder(TSpecialFolder::ftDesktop);

    UpdTimer = TComponent::Create<TTimer>(*this, "UpdTimer");
    UpdTimer->SetEnabled(false);
    UpdTimer->SetInterval(1000);

    // The save preview's refresh after a change, once the changes stop.
    SaveTimer = TComponent::Create<TTimer>(*this, "SaveTimer");
    SaveTimer->SetEnabled(false);
    SaveTimer->SetInterval(150);

    Tabs = Place<TTabbedNotebook>(*this, this, "Tabs", -2, -2, 337, 369, 0);
    BuildFilesPage(Tabs->AddPage("Files to Edit"));
    BuildCoverPage(Tabs->AddPage("Cover File"));
    BuildSaveOptionsPage(Tabs->AddPage("Save Options"));
    BuildProcessPage(Tabs->AddPage("Process"));
    BuildAboutPage(Tabs->AddPage("About"));
    Tabs->SetPageIndex(3);  // as laid out; FormCreate opens page 0

    BindEvents();
    ScaleForDesktop();
    PlanGrowth();
    Loaded();
}

TMainForm::~TMainForm() {
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::BuildFilesPage(TWinControl* page) {
    Open = Place<TButton>(*this, page, "Open", 0, 8, 129, 25, 0);
    Open->SetCaption("&Open (or Add)");
    FilesList = Place<TListBox>(*this, page, "FilesList", 0, 40, 129, 265, 1);
    FilesList->SetItemHeight(13);
    Delete = Place<TButton>(*this, page, "Delete", 0, 312, 131, 25, 2);
    Delete->SetCaption("&Delete Selected");
    PreviewFiles = Place<TImage>(*this, page, "PreviewFiles", 136, 8, 185, 329);
    PreviewFiles->SetHint("Preview of selected");
    PreviewFiles->SetShowHint(true);
    PreviewFiles->SetAutoSize(true);
    BuildFolderControls(page);
    // Fitted preview, a list of many selections with its count and a Clear.
    FilesList->SetHeight(152);  // below the folder controls
    FilesList->SetMultiSelect(true);
    FilesCount = Place<TLabel>(*this, page, "FilesCount", 0, 260, 129, 13);
    FilesCount->SetAutoSize(false);
    FilesCount->SetCaption("0 pictures");
    ClearList = Place<TButton>(*this, page, "ClearList", 0, 280, 131, 25, 3);
    ClearList->SetCaption("&Clear List");
    FitFiles = Place<TCheckBox>(*this, page, "FitFiles", 136, 6, 120, 17, 4);
    FitFiles->SetCaption("Fi&t to the box");
    FitFiles->SetChecked(true);
    PreviewFiles->SetBounds(136, 26, 185, 311);
    PreviewFiles->SetFit(true);
}

// Whole folders: the buttons and choices go above the list, which gives up
// their height; the tab order runs down the column.
void TMainForm::BuildFolderControls(TWinControl* page) {
    OpenFolder = TComponent::Create<TApFolderDialog>(*this, "OpenFolder");
    OpenFolder->SetSpecialIniFolder(TSpecialFolder::ftHome);
    AddFolder = Place<TButton>(*this, page, "AddFolder", 0, 37, 129, 25, 1);
    AddFolder->SetCaption("Add &Folder...");
    AddFolder->SetHint("Adds every picture of a folder, in name order");
    AddFolder->SetShowHint(true);
    Subfolders = Place<TCheckBox>(*this, page, "Subfolders", 0, 66, 129, 17, 2);
    Subfolders->SetCaption("Include s&ubfolders");
    KeepSubfolders = Place<TCheckBox>(*this, page, "KeepSubfolders", 0, 84, 129, 17, 3);
    KeepSubfolders->SetCaption("&Keep subfolders");
    KeepSubfolders->SetChecked(true);
    KeepSubfolders->SetHint(
        "With an output folder set on \"Process\", a picture added from a subfolder\r\n"
        "gets its result in the same subfolder there");
    KeepSubfolders->SetShowHint(true);
    FilesList->SetBounds(0, 104, 129, 201);
    FilesList->SetTabOrder(4);
    Delete->SetTabOrder(5);
}

void TMainForm::BuildCoverPage(TWinControl* page) {
    Panel2 = Place<TPanel>(*this, page, "Panel2", 0, 0, 329, 345, 0);
    Panel2->SetBevelOuter(TPanelBevel::bvNone);

    Label3 = Place<TLabel>(*this, Panel2, "Label3", 8, 4, 50, 13);
    Label3->SetCaption("File Name:");
    CoverFile = Place<TEdit>(*this, Panel2, "CoverFile", 8, 20, 161, 21, 11);
    Browse = Place<TButton>(*this, Panel2, "Browse", 8, 48, 161, 25, 10);
    Browse->SetCaption("&Browse");
    LT = Place<TRadioButton>(*this, Panel2, "LT", 8, 80, 73, 17, 7);
    LT->SetCaption("Left Top");
    RT = Place<TRadioButton>(*this, Panel2, "RT", 88, 80, 81, 17, 6);
    RT->SetCaption("Right Top");
    LB = Place<TRadioButton>(*this, Panel2, "LB", 8, 96, 73, 17, 8);
    LB->SetCaption("Left Bottom");
    RB = Place<TRadioButton>(*this, Panel2, "RB", 88, 96, 81, 17, 5);
    RB->SetCaption("Right Bottom");
    OtherPos = Place<TRadioButton>(*this, Panel2, "OtherPos", 8, 112, 49, 17, 9);
    OtherPos->SetCaption("Other:");
    Label6 = Place<TLabel>(*this, Panel2, "Label6", 24, 132, 21, 13);
    Label6->SetCaption("Left:");
    CoverLeft = Place<TCSpinEdit>(*this, Panel2, "CoverLeft", 64, 128, 49, 22, 4);
    CoverLeft->SetValue(0);
    Label7 = Place<TLabel>(*this, Panel2, "Label7", 24, 156, 22, 13);
    Label7->SetCaption("Top:");
    CoverTop = Place<TCSpinEdit>(*this, Panel2, "CoverTop", 64, 152, 49, 22, 3);
    CoverTop->SetValue(0);
    CoverTransparent = Place<TCheckBox>(*this, Panel2, "CoverTransparent", 8, 184, 97, 17, 2);
    CoverTransparent->SetCaption("Transparent");
    Label9 = Place<TLabel>(*this, Panel2, "Label9", 8, 208, 94, 13);
    Label9->SetCaption("Transparency color:");
    AutoDetTrans = Place<TCheckBox>(*this, Panel2, "AutoDetTrans", 8, 224, 97, 17, 1);
    AutoDetTrans->SetCaption("Auto Detect");
    AutoDetTrans->SetChecked(true);
    Label10 = Place<TLabel>(*this, Panel2, "Label10", 8, 240, 161, 25);
    Label10->SetAutoSize(false);
    Label10->SetWordWrap(true);
    Label10->SetCaption("(Uses color of most left-bottom pixel)");
    TransColor = Place<TShape>(*this, Panel2, "TransColor", 8, 276, 17, 17);
    TransColor->SetShape(TShapeType::stRectangle);
    TransColor->SetBrushColor(clWhite);
    SetTColor = Place<TButton>(*this, Panel2, "SetTColor", 32, 272, 75, 25, 0);
    SetTColor->SetCaption("Change");
    Label11 = Place<TLabel>(*this, Panel2, "Label11", 8, 304, 161, 33);
    Label11->SetAutoSize(false);
    Label11->SetWordWrap(true);
    Label11->SetCaption("(Or drop color in preview - preview will update then after 1 second)");
    // The five further places join the group of the four corners; the rest
    // sits above the preview, which takes what is left of the column.
    TC = Place<TRadioButton>(*this, Panel2, "TC", 177, 4, 84, 17, 12);
    TC->SetCaption("&Top Centre");
    CC = Place<TRadioButton>(*this, Panel2, "CC", 265, 4, 72, 17, 16);
    CC->SetCaption("C&entre");
    LM = Place<TRadioButton>(*this, Panel2, "LM", 177, 20, 84, 17, 14);
    LM->SetCaption("Middle &Left");
    RM = Place<TRadioButton>(*this, Panel2, "RM", 265, 20, 81, 17, 15);
    RM->SetCaption("Middle &Right");
    BC = Place<TRadioButton>(*this, Panel2, "BC", 177, 36, 100, 17, 13);
    BC->SetCaption("Botto&m Centre");
    Label13 = Place<TLabel>(*this, Panel2, "Label13", 177, 62, 48, 13);
    Label13->SetCaption("Margin &X:");
    MarginX = Place<TCSpinEdit>(*this, Panel2, "MarginX", 234, 58, 50, 22, 17);
    Label14 = Place<TLabel>(*this, Panel2, "Label14", 177, 86, 48, 13);
    Label14->SetCaption("Margin &Y:");
    MarginY = Place<TCSpinEdit>(*this, Panel2, "MarginY", 234, 82, 50, 22, 18);
    MarginPercent = Place<TCheckBox>(*this, Panel2, "MarginPercent", 288, 60, 52, 17, 19);
    MarginPercent->SetCaption("i&n %");
    Label15 = Place<TLabel>(*this, Panel2, "Label15", 177, 112, 66, 13);
    Label15->SetCaption("O&pacity (%):");
    Opacity = Place<TCSpinEdit>(*this, Panel2, "Opacity", 248, 108, 49, 22, 20);
    Label16 = Place<TLabel>(*this, Panel2, "Label16", 177, 136, 66, 13);
    Label16->SetCaption("Cover si&ze:");
    SizePercent = Place<TCSpinEdit>(*this, Panel2, "SizePercent", 248, 132, 49, 22, 21);
    Label17 = Place<TLabel>(*this, Panel2, "Label17", 300, 136, 12, 13);
    Label17->SetCaption("%");
    Panel3 = Place<TPanel>(*this, Panel2, "Panel3", 177, 156, 169, 50, 22);
    Panel3->SetBevelOuter(TPanelBevel::bvNone);
    SizeAsIs = Place<TRadioButton>(*this, Panel3, "SizeAsIs", 0, 0, 80, 17, 0);
    SizeAsIs->SetCaption("&As it is");
    SizeWidth = Place<TRadioButton>(*this, Panel3, "SizeWidth", 84, 0, 84, 17, 1);
    SizeWidth->SetCaption("of &width");
    SizeHeight = Place<TRadioButton>(*this, Panel3, "SizeHeight", 0, 16, 80, 17, 2);
    SizeHeight->SetCaption("of &height");
    SizeShorter = Place<TRadioButton>(*this, Panel3, "SizeShorter", 0, 32, 160, 17, 3);
    SizeShorter->SetCaption("of the &shorter side");
    Label13->SetFocusControl(MarginX);
    Label14->SetFocusControl(MarginY);
    Label15->SetFocusControl(Opacity);
    Label16->SetFocusControl(SizePercent);
    MarginX->SetMaxValue(99999);
    MarginY->SetMaxValue(99999);
    MarginX->SetValue(0);
    MarginY->SetValue(0);
    Opacity->SetMinValue(1);
    Opacity->SetMaxValue(100);
    Opacity->SetValue(100);
    SizePercent->SetMinValue(1);
    SizePercent->SetMaxValue(100);
    SizePercent->SetValue(20);
    SizeAsIs->SetChecked(true);
    SizePercent->SetEnabled(false);
    PreviewCover = Place<TImage>(*this, Panel2, "PreviewCover", 177, 212, 145, 117);
    PreviewCover->SetHint("Preview of Cover File");
    PreviewCover->SetShowHint(true);
    PreviewCover->SetTransparent(true);
    PreviewCover->SetShowAlpha(true);
    // Fitted cover preview: off, the cover shows pixel for pixel for picking.
    FitCover = Place<TCheckBox>(*this, Panel2, "FitCover", 177, 210, 120, 17, 23);
    FitCover->SetCaption("F&it to the box");
    PreviewCover->SetBounds(177, 230, 145, 99);
}

void TMainForm::BuildSaveOptionsPage(TWinControl* page) {
    Label4 = Place<TLabel>(*this, page, "Label4", 8, 0, 43, 13);
    Label4->SetCaption("Save As:");
    BMP = Place<TRadioButton>(*this, page, "BMP", 8, 16, 49, 17, 0);
    BMP->SetCaption("BMP");
    JPG = Place<TRadioButton>(*this, page, "JPG", 8, 32, 49, 17, 1);
    JPG->SetCaption("JPG");
    AsIs = Place<TRadioButton>(*this, page, "AsIs", 8, 48, 57, 17, 2);
    AsIs->SetCaption("As it is");
    PNG = Place<TRadioButton>(*this, page, "PNG", 66, 16, 45, 17, 8);
    PNG->SetCaption("PNG");
    WEBP = Place<TRadioButton>(*this, page, "WEBP", 66, 32, 45, 17, 9);
    WEBP->SetCaption("WebP");
    TIFF = Place<TRadioButton>(*this, page, "TIFF", 66, 48, 45, 17, 10);
    TIFF->SetCaption("TIFF");
    Label1 = Place<TLabel>(*this, page, "Label1", 8, 64, 65, 13);
    Label1->SetCaption("JPEG-Quality:");
    JPGQuality = Place<TCSpinEdit>(*this, page, "JPGQuality", 8, 80, 97, 22, 3);
    JPGQuality->SetMinValue(1);
    JPGQuality->SetMaxValue(100);
    JPGQuality->SetValue(kDefaultQuality);
    // One quality serves every lossy result; the label keeps its name.
    JPGQuality->SetHint("Quality of JPEG, WebP, HEIC and AVIF results");
    JPGQuality->SetShowHint(true);
    Label2 = Place<TLabel>(*this, page, "Label2", 8, 112, 53, 13);
    Label2->SetCaption("File names:");
    Panel1 = Place<TPanel>(*this, page, "Panel1", 8, 128, 97, 33, 4);
    Panel1->SetBevelOuter(TPanelBevel::bvNone);
    Prefix = Place<TRadioButton>(*this, Panel1, "Prefix", 0, 0, 113, 17, 0);
    Prefix->SetCaption("Prefix");
    Suffix = Place<TRadioButton>(*this, Panel1, "Suffix", 0, 16, 113, 17, 1);
    Suffix->SetCaption("Suffix");
    FileFix = Place<TEdit>(*this, page, "FileFix", 8, 168, 97, 21, 5);
    Label5 = Place<TLabel>(*this, page, "Label5", 8, 200, 41, 13);
    Label5->SetCaption("Preview:");
    FileListSave = Place<TListBox>(*this, page, "FileListSave", 8, 216, 97, 89, 6);
    FileListSave->SetItemHeight(13);
    Update = Place<TButton>(*this, page, "Update", 8, 312, 97, 25, 7);
    Update->SetCaption("&Update");
    Update->SetDefault(true);
    PreviewSave = Place<TImage>(*this, page, "PreviewSave", 112, 8, 209, 329);
    // Fitted save preview.
    FitSave = Place<TCheckBox>(*this, page, "FitSave", 112, 6, 120, 17, 11);
    FitSave->SetCaption("Fi&t to the box");
    FitSave->SetChecked(true);
    PreviewSave->SetBounds(112, 26, 209, 311);
    PreviewSave->SetFit(true);
}

void TMainForm::BuildProcessPage(TWinControl* page) {
    Label12 = Place<TLabel>(*this, page, "Label12", 8, 8, 261, 13);
    Label12->SetCaption("Save files to (Empty to put in same directory as original):");
    Path = Place<TEdit>(*this, page, "Path", 8, 24, 233, 21, 1);
    Button1 = Place<TButton>(*this, page, "Button1", 248, 22, 75, 25, 2);
    Button1->SetCaption("Browse");
    Process = Place<TBitBtn>(*this, page, "Process", 8, 56, 313, 121, 0);
    Process->SetFont(BoldFont(11));
    Process->SetDefault(true);
    Label8 = Place<TLabel>(*this, page, "Label8", 8, 184, 313, 33);
    Label8->SetAutoSize(false);
    Label8->SetAlignment(TAlignment::taCenter);
    Label8->SetFont(BoldFont(20));
    Label8->SetCaption("Please Wait...");
    Label8->SetVisible(false);
    ProgressBar1 = Place<TProgressBar>(*this, page, "ProgressBar1", 8, 224, 313, 21);
    ProgressBar1->SetVisible(false);
    Cancel = Place<TButton>(*this, page, "Cancel", 124, 256, 81, 25, 3);
    Cancel->SetCaption("Cancel");
    Cancel->SetCancel(true);
    Cancel->SetVisible(false);
    // Why Process is greyed, while it is.
    ProcessWhy = Place<TLabel>(*this, page, "ProcessWhy", 8, 182, 313, 17);
    ProcessWhy->SetAutoSize(false);
    ProcessWhy->SetAlignment(TAlignment::taCenter);
    ProcessWhy->SetVisible(false);

    // Run rules, each a row of its own under the run's progress.
    ExistPanel = Place<TPanel>(*this, page, "ExistPanel", 8, 288, 313, 17, 4);
    ExistPanel->SetBevelOuter(TPanelBevel::bvNone);
    ExistLabel = Place<TLabel>(*this, ExistPanel, "ExistLabel", 0, 2, 106, 13);
    ExistLabel->SetCaption("When a result exists:");
    ExistOverwrite = Place<TRadioButton>(*this, ExistPanel, "ExistOverwrite", 108, 0, 72, 17, 0);
    ExistOverwrite->SetCaption("O&verwrite");
    ExistOverwrite->SetChecked(true);
    ExistSkip = Place<TRadioButton>(*this, ExistPanel, "ExistSkip", 182, 0, 46, 17, 1);
    ExistSkip->SetCaption("S&kip");
    ExistKeepBoth = Place<TRadioButton>(*this, ExistPanel, "ExistKeepBoth", 230, 0, 83, 17, 2);
    ExistKeepBoth->SetCaption("Keep &both");
    FailPanel = Place<TPanel>(*this, page, "FailPanel", 8, 310, 313, 17, 5);
    FailPanel->SetBevelOuter(TPanelBevel::bvNone);
    FailLabel = Place<TLabel>(*this, FailPanel, "FailLabel", 0, 2, 70, 13);
    FailLabel->SetCaption("On a failure:");
    FailStop = Place<TRadioButton>(*this, FailPanel, "FailStop", 72, 0, 92, 17, 0);
    FailStop->SetCaption("Stop the r&un");
    FailStop->SetChecked(true);
    FailGoOn = Place<TRadioButton>(*this, FailPanel, "FailGoOn", 164, 0, 149, 17, 1);
    FailGoOn->SetCaption("Skip the file and &go on");
}

void TMainForm::BuildAboutPage(TWinControl* page) {
    StaticText1 = Place<TStaticText>(*this, page, "StaticText1", 8, 8, 200, 24, 0);
    StaticText1->SetFont(BoldFont(16));
    StaticText1->SetCaption("Vellumark v1.0.1");
    StaticText2 = Place<TStaticText>(*this, page, "StaticText2", 8, 32, 195, 17, 1);
    StaticText2->SetCaption("Made by Quorvex for everyone with a logo to stamp.");
    StaticText3 = Place<TStaticText>(*this, page, "StaticText3", 8, 48, 90, 17, 2);
    StaticText3->SetCaption("Written in 2026.");
    StaticText5 = Place<TStaticText>(*this, page, "StaticText5", 8, 72, 309, 57, 4);
    StaticText5->SetAutoSize(false);
    StaticText5->SetCaption(
        "Add your pictures on \"Files to Edit\", choose the cover and its place on \"Cover "
        "File\", pick the format and name on \"Save Options\", then press the big button on "
        "\"Process\".");
    StaticText4 = Place<TStaticText>(*this, page, "StaticText4", 8, 136, 311, 41, 3);
    StaticText4->SetAutoSize(false);
    StaticText4->SetCaption("For everyone who ever signed a hundred holiday photos\r\nby hand.");
    BuildSetupControls(page);
}

// Set-ups: the settings of all four pages at once, so they sit on the page
// that belongs to no single step.
void TMainForm::BuildSetupControls(TWinControl* page) {
    SetupText = Place<TStaticText>(*this, page, "SetupText", 8, 192, 309, 33, 5);
    SetupText->SetAutoSize(false);
    SetupText->SetCaption("Keep the settings of every page in a file (one per client, say) and load them again:");
    SaveSettings = Place<TButton>(*this, page, "SaveSettings", 8, 228, 121, 25, 6);
    SaveSettings->SetCaption("&Save Settings...");
    LoadSettings = Place<TButton>(*this, page, "LoadSettings", 136, 228, 121, 25, 7);
    LoadSettings->SetCaption("&Load Settings...");
    const std::vector<TFilterEntry> filter = {{"Vellumark Settings (*.reg)", {"*.REG"}}, {"All Files (*)", {"*"}}};
    SaveSettingsDialog = TComponent::Create<TApOpenDialog>(*this, "SaveSettingsDialog");
    SaveSettingsDialog->SetTitle("Save Settings...");
    SaveSettingsDialog->SetOptions(ofHideReadOnly | ofSaveFile | ofPathMustExist | ofEnableSizing);
    SaveSettingsDialog->SetFilter(filter);
    SaveSettingsDialog->SetDefaultExt("reg");
    LoadSettingsDialog = TComponent::Create<TApOpenDialog>(*this, "LoadSettingsDialog");
    LoadSettingsDialog->SetTitle("Load Settings...");
    LoadSettingsDialog->SetOptions(ofHideReadOnly | ofPathMustExist | ofFileMustExist | ofEnableSizing);
    LoadSettingsDialog->SetFilter(filter);
}

void TMainForm::BindEvents() {
    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnResize = [this](TObject* s) { FormResize(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    Tabs->OnChange = [this](TObject* s, int tab, bool& allow) { TabsChange(s, tab, allow); };

    Open->OnClick = [this](TObject* s) { OpenClick(s); };
    Delete->OnClick = [this](TObject* s) { DeleteClick(s); };
    FilesList->OnClick = [this](TObject* s) { FilesListClick(s); };

    Browse->OnClick = [this](TObject* s) { BrowseClick(s); };
    CoverFile->OnChange = [this](TObject* s) { CoverFileChange(s); };
    for (TRadioButton* b : {LT, RT, LB, RB, OtherPos}) b->OnClick = [this](TObject* s) { OtherPosClick(s); };
    CoverTransparent->OnClick = [this](TObject* s) { CoverTransparentClick(s); };
    AutoDetTrans->OnClick = [this](TObject* s) { AutoDetTransClick(s); };
    SetTColor->OnClick = [this](TObject* s) { SetTColorClick(s); };
    PreviewCover->OnMouseMove = [this](TObject* s, TShiftState sh, int x, int y) {
        PreviewCoverMouseMove(s, sh, x, y);
    };
    PreviewCover->OnMouseUp = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
        PreviewCoverMouseUp(s, b, sh, x, y);
    };
    UpdTimer->OnTimer = [this](TObject* s) { UpdTimerTimer(s); };
    for (TControl* c : std::initializer_list<TControl*>{Panel2, TransColor, Label11, Label10, Label9, Label7, Label6,
                                                        Label3, SetTColor, AutoDetTrans, CoverTransparent, RB, RT, LT,
                                                        LB, OtherPos, Browse, CoverFile})
        c->OnMouseMove = [this](TObject* s, TShiftState sh, int x, int y) { Label3MouseMove(s, sh, x, y); };
    for (TControl* c : {static_cast<TControl*>(CoverLeft), static_cast<TControl*>(CoverTop)})
        c->OnMouseMove = [this](TObject* s, TShiftState sh, int x, int y) { CoverTopMouseMove(s, sh, x, y); };
    CoverLeft->OnKeyDown = [this](TObject* s, uint16_t& k, TShiftState sh) { CoverLeftKeyDown(s, k, sh); };
    CoverTop->OnKeyDown = [this](TObject* s, uint16_t& k, TShiftState sh) { CoverTopKeyDown(s, k, sh); };
    CoverLeft->OnKeyUp = [this](TObject* s, uint16_t& k, TShiftState sh) { CoverLeftKeyUp(s, k, sh); };
    CoverTop->OnKeyUp = [this](TObject* s, uint16_t& k, TShiftState sh) { CoverTopKeyUp(s, k, sh); };
    for (TRadioButton* b : {TC, BC, LM, RM, CC}) b->OnClick = [this](TObject* s) { OtherPosClick(s); };
    MarginPercent->OnClick = [this](TObject* s) { MarginPercentClick(s); };
    for (TRadioButton* b : {SizeAsIs, SizeWidth, SizeHeight, SizeShorter})
        b->OnClick = [this](TObject* s) { CoverSizeClick(s); };
    for (TCSpinEdit* field : {MarginX, MarginY, Opacity, SizePercent}) {
        field->OnChange = [this](TObject* s) { CoverFieldChange(s); };
        field->OnKeyDown = [this](TObject* s, uint16_t& k, TShiftState sh) { CoverFieldKeyDown(s, k, sh); };
        field->OnKeyUp = [this](TObject* s, uint16_t& k, TShiftState sh) { CoverFieldKeyUp(s, k, sh); };
    }

    for (TRadioButton* b : {BMP, JPG, AsIs, PNG, WEBP, TIFF}) b->OnClick = [this](TObject* s) { BMPClick(s); };
    JPGQuality->OnChange = [this](TObject* s) { JPGQualityChange(s); };
    JPGQuality->OnKeyDown = [this](TObject* s, uint16_t& k, TShiftState sh) { JPGQualityKeyDown(s, k, sh); };
    JPGQuality->OnKeyUp = [this](TObject* s, uint16_t& k, TShiftState sh) { JPGQualityKeyUp(s, k, sh); };
    FileListSave->OnClick = [this](TObject* s) { FileListSaveClick(s); };
    Update->OnClick = [this](TObject* s) { UpdateClick(s); };

    Process->OnClick = [this](TObject* s) { ProcessClick(s); };
    Cancel->OnClick = [this](TObject* s) { CancelClick(s); };
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    // Run rules
    for (TRadioButton* b : {ExistOverwrite, ExistSkip, ExistKeepBoth})
        b->OnClick = [this](TObject* s) { ExistOverwriteClick(s); };

    // Files dragged from a file manager.
    FilesList->SetDragAcceptFiles(true);
    FilesList->OnDropFiles = [this](TObject* s, const std::vector<std::string>& f) { FilesListDropFiles(s, f); };
    CoverFile->SetDragAcceptFiles(true);
    CoverFile->OnDropFiles = [this](TObject* s, const std::vector<std::string>& f) { CoverFileDropFiles(s, f); };

    // Whole folders and set-up files.
    AddFolder->OnClick = [this](TObject* s) { AddFolderClick(s); };
    SaveSettings->OnClick = [this](TObject* s) { SaveSettingsClick(s); };
    LoadSettings->OnClick = [this](TObject* s) { LoadSettingsClick(s); };

    // Fitted previews, the batch list, the save preview that keeps up.
    FitFiles->OnClick = [this](TObject* s) { FitFilesClick(s); };
    FitCover->OnClick = [this](TObject* s) { FitCoverClick(s); };
    FitSave->OnClick = [this](TObject* s) { FitSaveClick(s); };
    ClearList->OnClick = [this](TObject* s) { ClearListClick(s); };
    FilesList->OnKeyDown = [this](TObject* s, uint16_t& k, TShiftState sh) { FilesListKeyDown(s, k, sh); };
    SaveTimer->OnTimer = [this](TObject* s) { SaveTimerTimer(s); };
    // Every setting the save preview shows marks it stale before its own
    // handler runs, so a handler's failure still leaves the preview to follow.
    const auto follows = [this](auto& event) {
        event = [this, own = event](TObject* s, auto&&... more) {
            SavePreviewStale(s);
            if (own) own(s, more...);
        };
    };
    for (TRadioButton* b : {LT,       RT,        LB,         RB,          OtherPos, TC,  BC,   LM,  RM,   CC,
                            SizeAsIs, SizeWidth, SizeHeight, SizeShorter, BMP,      JPG, AsIs, PNG, WEBP, TIFF})
        follows(b->OnClick);
    for (TCheckBox* b : {CoverTransparent, AutoDetTrans, MarginPercent}) follows(b->OnClick);
    for (TCustomEdit* e : std::initializer_list<TCustomEdit*>{CoverFile, CoverLeft, CoverTop, MarginX, MarginY, Opacity,
                                                              SizePercent, JPGQuality})
        follows(e->OnChange);
    follows(SetTColor->OnClick);
    follows(UpdTimer->OnTimer);
    follows(PreviewCover->OnMouseUp);
}

void TMainForm::FormCreate(TObject*) {
    Process->SetCaption(kProcessCaption);
    Tabs->SetPageIndex(0);
    vmk::LoadSettings(*this);
}

void TMainForm::FormResize(TObject*) {
    const int w = GetClientWidth(), h = GetClientHeight();
    Tabs->SetHeight(h + 4);
    Tabs->SetWidth(w + 4);
    Grow();
    // A fitted preview decoded for a smaller box is read again for this one.
    RefitFilePreview();
    RefitSavePreview();
}

// ---- Sizing

namespace {
// Below this, in the same column, or right of it in the same row.
constexpr int kSlack = 2;
bool Below(const TControl& c, int top, int left, int right) {
    return c.GetTop() >= top - kSlack && c.GetLeft() < right && c.GetLeft() + c.GetWidth() > left;
}
bool RightOf(const TControl& c, int left, int top, int bottom) {
    return c.GetLeft() >= left - kSlack && c.GetTop() < bottom && c.GetTop() + c.GetHeight() > top;
}
}  // namespace

void TMainForm::PlanGrowth() {
    growth_.clear();
    int pageWidth = 0, pageHeight = 0;
    const int margin = ScaledPixels(4);
    for (int i = 0; i < Tabs->GetPageCount(); ++i) {
        TWinControl* page = Tabs->GetPage(i);
        pageWidth = page->GetWidth();
        pageHeight = page->GetHeight();
        // The cover page's panel fills its page.
        if (page == Panel2->GetParent()) Panel2->SetBounds(0, 0, pageWidth, pageHeight);
        PlanGrowthIn(page, pageWidth, pageHeight);
    }
    PlanGrowthIn(Panel2, pageWidth, pageHeight);
    // The least page that holds every control that stays where it is (hidden
    // ones too: they show during a run), with a margin; what grows or moves
    // along fits whenever the page is at least as large as built.
    int needWidth = pageWidth, needHeight = pageHeight;
    const auto fit = [&](TWinControl* parent) {
        for (int i = 0; i < parent->GetControlCount(); ++i) {
            TControl* c = parent->GetControl(i);
            if (c == Panel2) continue;
            const bool moves =
                std::any_of(growth_.begin(), growth_.end(), [c](const TGrowth& g) { return g.Control == c; });
            if (moves) continue;
            needWidth = std::max(needWidth, c->GetLeft() + c->GetWidth() + margin);
            needHeight = std::max(needHeight, c->GetTop() + c->GetHeight() + margin);
        }
    };
    for (int i = 0; i < Tabs->GetPageCount(); ++i) fit(Tabs->GetPage(i));
    fit(Panel2);
    // The client area around a page: the notebook overlaps the client's edges
    // by 2 pixels and puts its pages inside its frame and below its tabs.
    minClientWidth_ = needWidth + (Tabs->GetWidth() - pageWidth) - 4;
    minClientHeight_ = needHeight + (Tabs->GetHeight() - pageHeight) - 4;
    SetMinClientSize(minClientWidth_, minClientHeight_);
}

void TMainForm::PlanGrowthIn(TWinControl* parent, int parentWidth, int parentHeight) {
    std::vector<TControl*> wider, taller;
    for (int i = 0; i < parent->GetControlCount(); ++i) {
        TControl* c = parent->GetControl(i);
        if (dynamic_cast<TImage*>(c)) {
            wider.push_back(c);
            taller.push_back(c);
        } else if (dynamic_cast<TListBox*>(c)) {
            taller.push_back(c);
        } else if (c == Path) {
            wider.push_back(c);
        }
    }
    // Of two growing controls one above the other, the upper one grows and
    // the lower moves down with it.
    const auto growsDown = [&](TControl* c) {
        if (std::find(taller.begin(), taller.end(), c) == taller.end()) return false;
        return std::none_of(taller.begin(), taller.end(), [c](TControl* g) {
            return g != c && Below(*c, g->GetTop() + g->GetHeight(), g->GetLeft(), g->GetLeft() + g->GetWidth());
        });
    };
    for (int i = 0; i < parent->GetControlCount(); ++i) {
        TControl* c = parent->GetControl(i);
        TGrowth g{c,     c->GetLeft(), c->GetTop(), c->GetWidth(), c->GetHeight(), parentWidth, parentHeight,
                  false, false,        false,       false};
        g.Wider = std::find(wider.begin(), wider.end(), c) != wider.end();
        g.Taller = growsDown(c);
        for (TControl* w : wider)
            if (w != c && !g.Wider &&
                RightOf(*c, w->GetLeft() + w->GetWidth(), w->GetTop(), w->GetTop() + w->GetHeight()))
                g.Right = true;
        for (TControl* t : taller)
            if (t != c && !g.Taller && growsDown(t) &&
                Below(*c, t->GetTop() + t->GetHeight(), t->GetLeft(), t->GetLeft() + t->GetWidth()))
                g.Down = true;
        if (g.Wider || g.Taller || g.Right || g.Down) growth_.push_back(g);
    }
}

void TMainForm::Grow() {
    if (TWinControl* page = Panel2->GetParent()) Panel2->SetBounds(0, 0, page->GetWidth(), page->GetHeight());
    for (const TGrowth& g : growth_) {
        const TWinControl* parent = g.Control->GetParent();
        if (!parent) continue;
        const int dx = parent->GetWidth() - g.ParentWidth, dy = parent->GetHeight() - g.ParentHeight;
        const int left = g.Left + (g.Right ? dx : 0), top = g.Top + (g.Down ? dy : 0);
        const int width = std::max(g.Width + (g.Wider ? dx : 0), 0);
        const int height = std::max(g.Height + (g.Taller ? dy : 0), 0);
        if (left != g.Control->GetLeft() || top != g.Control->GetTop() || width != g.Control->GetWidth() ||
            height != g.Control->GetHeight())
            g.Control->SetBounds(left, top, width, height);
    }
}

void TMainForm::TabsChange(TObject*, int NewTab, bool&) {
    // Showing the save options shows their preview anew.
    if (NewTab == 2) SavePreviewStale(this);
    if (NewTab != 3) return;
    const std::string why = ProcessBlocker();
    Process->SetEnabled(why.empty());
    ProcessWhy->SetCaption(why);
    ProcessWhy->SetVisible(!why.empty());
}

std::string TMainForm::ProcessBlocker() const {
    const std::string cover = CoverFile->GetText();
    if (FilePaths().GetCount() == 0) return "No pictures to process: add some on \"Files to Edit\".";
    if (cover.empty()) return "No cover: choose one on \"Cover File\".";
    if (!FileExists(cover)) return "The cover file does not exist.";
    if (!IsCoverPath(cover)) return "The cover must be a .bmp or .png picture.";
    return "";
}

void TMainForm::FormClose(TObject*, TCloseAction& Action) {
    if (RunState.Active) {
        // The run stops first; it closes the window once its files are whole.
        RunState.CancelRequested = true;
        RunState.CloseRequested = true;
        Action = TCloseAction::caNone;
        return;
    }
    vmk::SaveSettings(*this);
}

}  // namespace vmk
