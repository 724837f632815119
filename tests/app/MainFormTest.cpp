// The main window: its inventory, start-up state, resizing and the Process
// button's enabling, through the real window.

#include <sys/stat.h>
#include <QApplication>
#include <QIcon>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <functional>

#include "app/Program.h"
#include "support/WindowFixture.h"

using namespace vmk;

using MainFormTest = vmk::test::WindowTest;
// The real program started and closed, with its store in a scratch folder.
using ProgramTest = vmk::test::ScratchTest;

namespace {

struct Row {
    const char* name;
    std::function<bool(TComponent*)> kind;
    const char* parent;            // "0".."4" for a page, else a panel's name
    int left, top, width, height;  // width -1: sized by its text
    int tabOrder;
    const char* caption;  // nullptr: none to check
};

template <class T>
std::function<bool(TComponent*)> Is() {
    return [](TComponent* c) { return dynamic_cast<T*>(c) != nullptr; };
}

std::string CaptionOf(TComponent* c) {
    if (auto* b = dynamic_cast<TButton*>(c)) return b->GetCaption();
    if (auto* b = dynamic_cast<TButtonControl*>(c)) return b->GetCaption();
    if (auto* l = dynamic_cast<TLabel*>(c)) return l->GetCaption();
    if (auto* s = dynamic_cast<TStaticText*>(c)) return s->GetCaption();
    if (auto* e = dynamic_cast<TCustomEdit*>(c)) return e->GetText();
    return "";
}

}  // namespace

TEST_F(MainFormTest, EveryControlIsWhereTheLayoutPutsIt) {
    const Row rows[] = {
        {"Open", Is<TButton>(), "0", 0, 8, 129, 25, 0, "&Open (or Add)"},
        // Whole folders above the list, which gives up their height.
        {"AddFolder", Is<TButton>(), "0", 0, 37, 129, 25, 1, "Add &Folder..."},
        {"Subfolders", Is<TCheckBox>(), "0", 0, 66, 129, 17, 2, "Include s&ubfolders"},
        {"KeepSubfolders", Is<TCheckBox>(), "0", 0, 84, 129, 17, 3, "&Keep subfolders"},
        {"FilesList", Is<TListBox>(), "0", 0, 104, 129, 152, 4, nullptr},
        // Under the list, how many it holds and the way to empty it.
        {"FilesCount", Is<TLabel>(), "0", 0, 260, 129, 13, -1, "0 pictures"},
        {"ClearList", Is<TButton>(), "0", 0, 280, 131, 25, 3, "&Clear List"},
        {"FitFiles", Is<TCheckBox>(), "0", 136, 6, 120, 17, 4, "Fi&t to the box"},
        {"Delete", Is<TButton>(), "0", 0, 312, 131, 25, 5, "&Delete Selected"},
        {"PreviewFiles", Is<TImage>(), "0", 136, 26, 185, 311, -1, nullptr},
        // The panel fills its page.
        {"Panel2", Is<TPanel>(), "1", 0, 0, 329, 341, 0, nullptr},
        {"Label3", Is<TLabel>(), "Panel2", 8, 4, -1, 13, -1, "File Name:"},
        {"CoverFile", Is<TEdit>(), "Panel2", 8, 20, 161, 21, 11, nullptr},
        {"Browse", Is<TButton>(), "Panel2", 8, 48, 161, 25, 10, "&Browse"},
        {"LT", Is<TRadioButton>(), "Panel2", 8, 80, 73, 17, 7, "Left Top"},
        {"RT", Is<TRadioButton>(), "Panel2", 88, 80, 81, 17, 6, "Right Top"},
        {"LB", Is<TRadioButton>(), "Panel2", 8, 96, 73, 17, 8, "Left Bottom"},
        {"RB", Is<TRadioButton>(), "Panel2", 88, 96, 81, 17, 5, "Right Bottom"},
        {"OtherPos", Is<TRadioButton>(), "Panel2", 8, 112, 49, 17, 9, "Other:"},
        {"Label6", Is<TLabel>(), "Panel2", 24, 132, -1, 13, -1, "Left:"},
        {"CoverLeft", Is<TCSpinEdit>(), "Panel2", 64, 128, 49, 22, 4, "0"},
        {"Label7", Is<TLabel>(), "Panel2", 24, 156, -1, 13, -1, "Top:"},
        {"CoverTop", Is<TCSpinEdit>(), "Panel2", 64, 152, 49, 22, 3, "0"},
        {"CoverTransparent", Is<TCheckBox>(), "Panel2", 8, 184, 97, 17, 2, "Transparent"},
        {"Label9", Is<TLabel>(), "Panel2", 8, 208, -1, 13, -1, "Transparency color:"},
        {"AutoDetTrans", Is<TCheckBox>(), "Panel2", 8, 224, 97, 17, 1, "Auto Detect"},
        {"Label10", Is<TLabel>(), "Panel2", 8, 240, 161, 25, -1, "(Uses color of most left-bottom pixel)"},
        {"TransColor", Is<TShape>(), "Panel2", 8, 276, 17, 17, -1, nullptr},
        {"SetTColor", Is<TButton>(), "Panel2", 32, 272, 75, 25, 0, "Change"},
        {"Label11", Is<TLabel>(), "Panel2", 8, 304, 161, 33, -1,
         "(Or drop color in preview - preview will update then after 1 second)"},
        // The cover's further places, margins, opacity and size sit above its
        // preview, which starts below them.
        {"TC", Is<TRadioButton>(), "Panel2", 177, 4, 84, 17, 12, "&Top Centre"},
        {"CC", Is<TRadioButton>(), "Panel2", 265, 4, 72, 17, 16, "C&entre"},
        {"LM", Is<TRadioButton>(), "Panel2", 177, 20, 84, 17, 14, "Middle &Left"},
        {"RM", Is<TRadioButton>(), "Panel2", 265, 20, 81, 17, 15, "Middle &Right"},
        {"BC", Is<TRadioButton>(), "Panel2", 177, 36, 100, 17, 13, "Botto&m Centre"},
        {"Label13", Is<TLabel>(), "Panel2", 177, 62, -1, 13, -1, "Margin &X:"},
        {"MarginX", Is<TCSpinEdit>(), "Panel2", 234, 58, 50, 22, 17, "0"},
        {"Label14", Is<TLabel>(), "Panel2", 177, 86, -1, 13, -1, "Margin &Y:"},
        {"MarginY", Is<TCSpinEdit>(), "Panel2", 234, 82, 50, 22, 18, "0"},
        {"MarginPercent", Is<TCheckBox>(), "Panel2", 288, 60, 52, 17, 19, "i&n %"},
        {"Label15", Is<TLabel>(), "Panel2", 177, 112, -1, 13, -1, "O&pacity (%):"},
        {"Opacity", Is<TCSpinEdit>(), "Panel2", 248, 108, 49, 22, 20, "100"},
        {"Label16", Is<TLabel>(), "Panel2", 177, 136, -1, 13, -1, "Cover si&ze:"},
        {"SizePercent", Is<TCSpinEdit>(), "Panel2", 248, 132, 49, 22, 21, "20"},
        {"Label17", Is<TLabel>(), "Panel2", 300, 136, -1, 13, -1, "%"},
        {"Panel3", Is<TPanel>(), "Panel2", 177, 156, 169, 50, 22, nullptr},
        {"SizeAsIs", Is<TRadioButton>(), "Panel3", 0, 0, 80, 17, 0, "&As it is"},
        {"SizeWidth", Is<TRadioButton>(), "Panel3", 84, 0, 84, 17, 1, "of &width"},
        {"SizeHeight", Is<TRadioButton>(), "Panel3", 0, 16, 80, 17, 2, "of &height"},
        {"SizeShorter", Is<TRadioButton>(), "Panel3", 0, 32, 160, 17, 3, "of the &shorter side"},
        {"FitCover", Is<TCheckBox>(), "Panel2", 177, 210, 120, 17, 23, "F&it to the box"},
        {"PreviewCover", Is<TImage>(), "Panel2", 177, 230, 145, 99, -1, nullptr},
        {"Label4", Is<TLabel>(), "2", 8, 0, -1, 13, -1, "Save As:"},
        {"BMP", Is<TRadioButton>(), "2", 8, 16, 49, 17, 0, "BMP"},
        {"JPG", Is<TRadioButton>(), "2", 8, 32, 49, 17, 1, "JPG"},
        {"AsIs", Is<TRadioButton>(), "2", 8, 48, 57, 17, 2, "As it is"},
        {"PNG", Is<TRadioButton>(), "2", 66, 16, 45, 17, 8, "PNG"},
        {"WEBP", Is<TRadioButton>(), "2", 66, 32, 45, 17, 9, "WebP"},
        {"TIFF", Is<TRadioButton>(), "2", 66, 48, 45, 17, 10, "TIFF"},
        {"Label1", Is<TLabel>(), "2", 8, 64, -1, 13, -1, "JPEG-Quality:"},
        {"JPGQuality", Is<TCSpinEdit>(), "2", 8, 80, 97, 22, 3, nullptr},
        {"Label2", Is<TLabel>(), "2", 8, 112, -1, 13, -1, "File names:"},
        {"Panel1", Is<TPanel>(), "2", 8, 128, 97, 33, 4, nullptr},
        {"Prefix", Is<TRadioButton>(), "Panel1", 0, 0, 113, 17, 0, "Prefix"},
        {"Suffix", Is<TRadioButton>(), "Panel1", 0, 16, 113, 17, 1, "Suffix"},
        {"FileFix", Is<TEdit>(), "2", 8, 168, 97, 21, 5, nullptr},
        {"Label5", Is<TLabel>(), "2", 8, 200, -1, 13, -1, "Preview:"},
        {"FileListSave", Is<TListBox>(), "2", 8, 216, 97, 89, 6, nullptr},
        {"Update", Is<TButton>(), "2", 8, 312, 97, 25, 7, "&Update"},
        {"FitSave", Is<TCheckBox>(), "2", 112, 6, 120, 17, 11, "Fi&t to the box"},
        {"PreviewSave", Is<TImage>(), "2", 112, 26, 209, 311, -1, nullptr},
        {"Label12", Is<TLabel>(), "3", 8, 8, -1, 13, -1, "Save files to (Empty to put in same directory as original):"},
        {"Path", Is<TEdit>(), "3", 8, 24, 233, 21, 1, nullptr},
        {"Button1", Is<TButton>(), "3", 248, 22, 75, 25, 2, "Browse"},
        {"Process", Is<TBitBtn>(), "3", 8, 56, 313, 121, 0, kProcessCaption},
        {"Label8", Is<TLabel>(), "3", 8, 184, 313, 33, -1, "Please Wait..."},
        // Beneath it, shown only while a run lasts: how far it is, and the way out.
        {"ProgressBar1", Is<TProgressBar>(), "3", 8, 224, 313, 21, -1, nullptr},
        {"Cancel", Is<TButton>(), "3", 124, 256, 81, 25, 3, "Cancel"},
        // Under the button while it is greyed: why.
        {"ProcessWhy", Is<TLabel>(), "3", 8, 182, 313, 17, -1, ""},
        // Run rules: a row each, under the run's progress.
        {"ExistPanel", Is<TPanel>(), "3", 8, 288, 313, 17, 4, nullptr},
        {"ExistLabel", Is<TLabel>(), "ExistPanel", 0, 2, -1, 13, -1, "When a result exists:"},
        {"ExistOverwrite", Is<TRadioButton>(), "ExistPanel", 108, 0, 72, 17, 0, "O&verwrite"},
        {"ExistSkip", Is<TRadioButton>(), "ExistPanel", 182, 0, 46, 17, 1, "S&kip"},
        {"ExistKeepBoth", Is<TRadioButton>(), "ExistPanel", 230, 0, 83, 17, 2, "Keep &both"},
        {"FailPanel", Is<TPanel>(), "3", 8, 310, 313, 17, 5, nullptr},
        {"FailLabel", Is<TLabel>(), "FailPanel", 0, 2, -1, 13, -1, "On a failure:"},
        {"FailStop", Is<TRadioButton>(), "FailPanel", 72, 0, 92, 17, 0, "Stop the r&un"},
        {"FailGoOn", Is<TRadioButton>(), "FailPanel", 164, 0, 149, 17, 1, "Skip the file and &go on"},
        {"StaticText1", Is<TStaticText>(), "4", 8, 8, -1, -1, 0, "Vellumark v1.0.1"},
        {"StaticText2", Is<TStaticText>(), "4", 8, 32, -1, -1, 1, nullptr},
        {"StaticText3", Is<TStaticText>(), "4", 8, 48, -1, -1, 2, nullptr},
        {"StaticText5", Is<TStaticText>(), "4", 8, 72, 309, 57, 4, nullptr},
        {"StaticText4", Is<TStaticText>(), "4", 8, 136, 311, 41, 3, nullptr},
        // Set-up files.
        {"SetupText", Is<TStaticText>(), "4", 8, 192, 309, 33, 5, nullptr},
        {"SaveSettings", Is<TButton>(), "4", 8, 228, 121, 25, 6, "&Save Settings..."},
        {"LoadSettings", Is<TButton>(), "4", 136, 228, 121, 25, 7, "&Load Settings..."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TComponent* c = form_->FindComponent(r.name);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(r.kind(c));
        auto* control = dynamic_cast<TControl*>(c);
        ASSERT_NE(control, nullptr);
        const std::string parent = r.parent;
        if (parent.size() == 1)
            EXPECT_EQ(control->GetParent(), form_->Tabs->GetPage(parent[0] - '0'));
        else
            EXPECT_EQ(control->GetParent(), form_->FindComponent(parent));
        EXPECT_EQ(control->GetLeft(), r.left);
        EXPECT_EQ(control->GetTop(), r.top);
        if (r.width >= 0) {
            EXPECT_EQ(control->GetWidth(), r.width);
        }
        if (r.height >= 0) {
            EXPECT_EQ(control->GetHeight(), r.height);
        }
        // Which controls are tab stops; their order follows their places
        // (KeyboardTest checks it).
        EXPECT_EQ(control->GetTabOrder() >= 0, r.tabOrder >= 0);
        if (r.caption) {
            EXPECT_EQ(CaptionOf(c), r.caption);
        }
    }
    // These rows, the notebook, and the components.
    EXPECT_EQ(std::size(rows), 96u);
    EXPECT_EQ(form_->GetComponentCount(), 106);
    // The run's own controls stay out of sight until a run starts.
    EXPECT_FALSE(form_->ProgressBar1->GetVisible());
    EXPECT_FALSE(form_->Cancel->GetVisible());
    EXPECT_EQ(form_->Tabs->GetParent(), form_);
    EXPECT_EQ(form_->Tabs->GetLeft(), -2);
    EXPECT_EQ(form_->Tabs->GetTop(), -2);
    EXPECT_EQ(form_->Tabs->GetPageCaptions(),
              (std::vector<std::string>{"Files to Edit", "Cover File", "Save Options", "Process", "About"}));
}

TEST_F(MainFormTest, ControlsCarryTheirSettings) {
    EXPECT_EQ(form_->GetCaption(), "Vellumark");
    EXPECT_EQ(form_->GetWidget()->windowTitle().toStdString(), "Vellumark");
    const QIcon icon = form_->GetWidget()->windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes().value(0), QSize(32, 32));
    // Wide enough for the cover page's right-hand column, with a margin.
    EXPECT_EQ(form_->GetWidget()->minimumSize(), QSize(354, 400));
    EXPECT_EQ(form_->PreviewFiles->GetHint(), "Preview of selected");
    EXPECT_TRUE(form_->PreviewFiles->GetShowHint());
    EXPECT_TRUE(form_->PreviewFiles->GetAutoSize());
    EXPECT_EQ(form_->PreviewCover->GetHint(), "Preview of Cover File");
    EXPECT_TRUE(form_->PreviewCover->GetTransparent());
    EXPECT_FALSE(form_->PreviewSave->GetAutoSize());
    EXPECT_EQ(form_->FilesList->GetItemHeight(), 13);
    EXPECT_EQ(form_->FileListSave->GetItemHeight(), 13);
    EXPECT_EQ(form_->JPGQuality->GetMinValue(), 1);
    EXPECT_EQ(form_->JPGQuality->GetMaxValue(), 100);
    EXPECT_EQ(form_->CoverLeft->GetMinValue(), 0);
    EXPECT_EQ(form_->CoverLeft->GetMaxValue(), 0);
    EXPECT_EQ(form_->CoverTop->GetMaxValue(), 0);
    EXPECT_TRUE(form_->Update->GetDefault());
    EXPECT_TRUE(form_->Process->GetDefault());
    EXPECT_TRUE(form_->Process->GetFont().Bold);
    EXPECT_EQ(form_->Process->GetFont().Height, 11);
    EXPECT_FALSE(form_->Label8->GetVisible());
    EXPECT_EQ(form_->Label8->GetAlignment(), TAlignment::taCenter);
    EXPECT_EQ(form_->Label8->GetFont().Height, 20);
    EXPECT_TRUE(form_->Label8->GetFont().Bold);
    EXPECT_EQ(form_->StaticText1->GetFont().Height, 16);
    EXPECT_TRUE(form_->Label10->GetWordWrap());
    EXPECT_TRUE(form_->Label11->GetWordWrap());
    EXPECT_EQ(form_->Panel1->GetBevelOuter(), TPanelBevel::bvNone);
    EXPECT_EQ(form_->Panel2->GetBevelOuter(), TPanelBevel::bvNone);
    EXPECT_EQ(form_->TransColor->GetShape(), TShapeType::stRectangle);

    EXPECT_EQ(form_->OpenFiles->GetTitle(), "Open Graphic Files...");
    EXPECT_EQ(form_->OpenFiles->GetOptions(),
              ofHideReadOnly | ofAllowMultiSelect | ofPathMustExist | ofFileMustExist | ofEnableSizing);
    ASSERT_EQ(form_->OpenFiles->GetFilter().size(), 8u);
    EXPECT_EQ(form_->OpenFiles->GetFilter()[0].Description,
              "Graphic Files (*.bmp, *.jpg, *.jpeg, *.png, *.webp, *.tif, *.tiff, *.heic, *.heif, *.avif)");
    EXPECT_EQ(form_->OpenFiles->GetFilter()[0].Patterns,
              (std::vector<std::string>{"*.BMP", "*.JPG", "*.JPEG", "*.PNG", "*.WEBP", "*.TIF", "*.TIFF", "*.HEIC",
                                        "*.HEIF", "*.AVIF"}));
    EXPECT_EQ(form_->OpenFiles->GetFilter()[2].Description, "JPEG-Files (*.jpg, *.jpeg)");
    // Each format alone after them.
    EXPECT_EQ(form_->OpenFiles->GetFilter()[5].Description, "TIFF-Files (*.tif, *.tiff)");
    EXPECT_EQ(form_->OpenFiles->GetFilter()[7].Patterns, (std::vector<std::string>{"*.AVIF"}));
    EXPECT_EQ(form_->OpenFiles->GetFilterIndex(), 1);
    EXPECT_EQ(form_->OpenCover->GetTitle(), "");
    EXPECT_EQ(form_->OpenCover->GetOptions(), ofHideReadOnly | ofPathMustExist | ofFileMustExist | ofEnableSizing);
    // BMP and PNG together, then each alone.
    ASSERT_EQ(form_->OpenCover->GetFilter().size(), 3u);
    EXPECT_EQ(form_->OpenCover->GetFilter()[0].Patterns, (std::vector<std::string>{"*.BMP", "*.PNG"}));
    EXPECT_EQ(form_->OpenCover->GetFilter()[1].Description, "Windows/OS2 Bitmaps (*.BMP)");
    EXPECT_EQ(form_->OpenCover->GetFilter()[2].Patterns, (std::vector<std::string>{"*.PNG"}));
    EXPECT_EQ(form_->ColorDlg->GetColor(), clWhite);
    EXPECT_EQ(form_->SaveLocDlg->GetSpecialIniFolder(), TSpecialFolder::ftDesktop);
    EXPECT_FALSE(form_->UpdTimer->GetEnabled());
    EXPECT_EQ(form_->UpdTimer->GetInterval(), 1000u);
}

TEST_F(MainFormTest, CreationOpensOnTheFirstPageWithTheThreeLineCaption) {
    EXPECT_EQ(form_->Tabs->GetPageIndex(), 0);
    EXPECT_EQ(form_->Process->GetCaption(),
              "Click to Process all Files\r\n\r\n(All existing files will be overwritten automatically!)");
    EXPECT_TRUE(form_->Process->GetEnabled());
    EXPECT_FALSE(modal_->HasBox());
}

// At 600 x 400 each page is 596 x 376, the layout's 329 x 341 grown by 267 x 35.
TEST_F(MainFormTest, ResizeFillsTheWindowAt600By400) {
    ShowAt(600, 400);
    EXPECT_EQ(form_->Tabs->GetWidth(), 604);
    EXPECT_EQ(form_->Tabs->GetHeight(), 404);
    EXPECT_EQ(form_->Tabs->GetPage(0)->GetWidth(), 596);
    EXPECT_EQ(form_->Tabs->GetPage(0)->GetHeight(), 376);
    // Previews keep the layout's margins to their page's right and bottom.
    EXPECT_EQ(form_->PreviewFiles->GetWidth(), 185 + 267);
    EXPECT_EQ(form_->PreviewFiles->GetHeight(), 311 + 35);
    EXPECT_EQ(form_->Panel2->GetWidth(), 596);
    EXPECT_EQ(form_->Panel2->GetHeight(), 376);
    EXPECT_EQ(form_->PreviewCover->GetWidth(), 145 + 267);
    EXPECT_EQ(form_->PreviewCover->GetHeight(), 99 + 35);
    EXPECT_EQ(form_->PreviewSave->GetWidth(), 209 + 267);
    EXPECT_EQ(form_->PreviewSave->GetHeight(), 311 + 35);
    // Lists grow downwards and the buttons under them move along; the output
    // folder field grows to the right and its Browse button moves along.
    EXPECT_EQ(form_->FilesList->GetHeight(), 152 + 35);
    EXPECT_EQ(form_->Delete->GetTop(), 312 + 35);
    EXPECT_EQ(form_->FileListSave->GetHeight(), 89 + 35);
    EXPECT_EQ(form_->Update->GetTop(), 312 + 35);
    EXPECT_EQ(form_->Path->GetWidth(), 233 + 267);
    EXPECT_EQ(form_->Button1->GetLeft(), 248 + 267);
    for (TImage* i : {form_->PreviewFiles, form_->PreviewSave})
        EXPECT_EQ(i->GetLeft() + i->GetWidth(), 596 - 8) << i->GetName();
}

namespace {
// Every control of the window below parent, with its bounds within parent.
void ForEachControl(TWinControl* parent, const std::function<void(TControl&)>& visit) {
    for (int i = 0; i < parent->GetControlCount(); ++i) {
        TControl* c = parent->GetControl(i);
        visit(*c);
        if (auto* win = dynamic_cast<TWinControl*>(c)) ForEachControl(win, visit);
    }
}
}  // namespace

TEST_F(MainFormTest, AtTheMinimumNothingIsCutOff) {
    ShowAt(200, 200);
    // The window does not go below its minimum, worked out from the layout,
    // and from the outer minimum of 350 x 400 less the frame (the offscreen
    // platform gives its frame once the window has been shown).
    EXPECT_EQ(form_->GetMinClientWidth(), 354);
    EXPECT_EQ(form_->GetMinClientHeight(), 365);
    const QMargins frame = form_->GetWidget()->windowHandle()->frameMargins();
    EXPECT_EQ(form_->GetClientWidth(), std::max(354, 350 - frame.left() - frame.right()));
    EXPECT_EQ(form_->GetClientHeight(), std::max(365, 400 - frame.top() - frame.bottom()));
    EXPECT_EQ(form_->Tabs->GetWidth(), 358);
    // Every control, the hidden ones of a run among them, lies whole within
    // its parent, and every preview and list keeps a box.
    ForEachControl(form_->Tabs, [](TControl& c) {
        const TWinControl* parent = c.GetParent();
        if (dynamic_cast<TTabPage*>(&c)) return;
        EXPECT_GE(c.GetLeft(), 0) << c.GetName();
        EXPECT_GE(c.GetTop(), 0) << c.GetName();
        if (dynamic_cast<TButtonControl*>(&c)) {
            // A check box's box may run past its panel; its caption may not.
            EXPECT_LE(c.GetWidget()->sizeHint().width(), parent->GetWidth() - c.GetLeft()) << c.GetName();
        } else {
            EXPECT_LE(c.GetLeft() + c.GetWidth(), parent->GetWidth()) << c.GetName();
        }
        EXPECT_LE(c.GetTop() + c.GetHeight(), parent->GetHeight()) << c.GetName();
        if (dynamic_cast<TImage*>(&c) || dynamic_cast<TListBox*>(&c)) {
            EXPECT_GT(c.GetWidth(), 32) << c.GetName();
            EXPECT_GT(c.GetHeight(), 32) << c.GetName();
        }
    });
    // Nothing on the cover page overlaps (beyond the one-pixel overlap of the
    // layout's 17-pixel rows at a 16-pixel pitch).
    std::vector<TControl*> parts(static_cast<size_t>(form_->Panel2->GetControlCount()));
    for (size_t i = 0; i < parts.size(); ++i) parts[i] = form_->Panel2->GetControl(static_cast<int>(i));
    ASSERT_GT(parts.size(), 30u);
    for (size_t a = 0; a < parts.size(); ++a) {
        const TControl& p = *parts[a];
        for (size_t b = a + 1; b < parts.size(); ++b) {
            const TControl& q = *parts[b];
            const bool apart = p.GetLeft() + p.GetWidth() <= q.GetLeft() || q.GetLeft() + q.GetWidth() <= p.GetLeft() ||
                               p.GetTop() + p.GetHeight() - 1 <= q.GetTop() ||
                               q.GetTop() + q.GetHeight() - 1 <= p.GetTop();
            EXPECT_TRUE(apart) << p.GetName() << " and " << q.GetName();
        }
    }
}

TEST_F(MainFormTest, ALargerWindowGrowsPreviewsListsAndTheFolderFieldOnly) {
    ShowAt(600, 400);
    const int openWidth = form_->Open->GetWidth(), processWidth = form_->Process->GetWidth();
    const int listBottom = form_->FilesList->GetTop() + form_->FilesList->GetHeight();
    ShowAt(1024, 700);
    EXPECT_EQ(form_->Tabs->GetWidth(), 1028);
    EXPECT_EQ(form_->Tabs->GetHeight(), 704);
    EXPECT_EQ(form_->Panel2->GetWidth(), 1020);
    EXPECT_EQ(form_->Panel2->GetHeight(), 676);
    EXPECT_EQ(form_->PreviewFiles->GetWidth(), 185 + 691);
    EXPECT_EQ(form_->PreviewCover->GetHeight(), 99 + 335);
    EXPECT_EQ(form_->PreviewSave->GetHeight(), 311 + 335);
    EXPECT_EQ(form_->FilesList->GetTop() + form_->FilesList->GetHeight(), listBottom + 300);
    EXPECT_EQ(form_->Delete->GetTop(), 312 + 335);
    EXPECT_EQ(form_->Path->GetWidth(), 233 + 691);
    EXPECT_EQ(form_->Button1->GetLeft() + form_->Button1->GetWidth(), 1020 - (329 - 323));
    // The rest keeps its place and size.
    EXPECT_EQ(form_->Open->GetWidth(), openWidth);
    EXPECT_EQ(form_->Process->GetWidth(), processWidth);
    EXPECT_EQ(form_->Process->GetTop(), 56);
    EXPECT_EQ(form_->CoverFile->GetWidth(), 161);
    EXPECT_EQ(form_->PreviewSave->GetLeft(), 112);
    EXPECT_EQ(form_->PreviewCover->GetTop(), 230);
    // And back: the layout as built, grown by what the window has over it.
    ShowAt(600, 400);
    EXPECT_EQ(form_->Delete->GetTop(), 312 + 35);
    EXPECT_EQ(form_->Path->GetWidth(), 233 + 267);
}

class ProcessEnabling : public MainFormTest {
protected:
    void Open(int page) {
        form_->Tabs->SelectByUser(page);
        EXPECT_EQ(form_->Tabs->GetPageIndex(), page);
    }
};

TEST_F(ProcessEnabling, NeedsFilesAndAnExistingBitmapCover) {
    ShowAt(600, 400);
    const std::string cover = Bitmap("cover.bmp");
    form_->CoverFile->SetText(cover);
    Open(3);
    EXPECT_FALSE(form_->Process->GetEnabled()) << "no files yet";
    Open(0);
    FilePaths().Add("/pics/a.jpg");
    Open(3);
    EXPECT_TRUE(form_->Process->GetEnabled());
}

TEST_F(ProcessEnabling, TestsTheLowerCasedExtension) {
    ShowAt(600, 400);
    FilePaths().Add("/pics/a.jpg");
    for (const char* name : {"upper.BMP", "mixed.Bmp", "dir.x/plain.bmp"}) {
        SCOPED_TRACE(name);
        Open(0);
        form_->CoverFile->SetText(Bitmap(name));
        Open(3);
        EXPECT_TRUE(form_->Process->GetEnabled());
    }
}

TEST_F(ProcessEnabling, RefusesEverythingElse) {
    ShowAt(600, 400);
    FilePaths().Add("/pics/a.jpg");
    const std::string covers[] = {Touch("photo.jpg"),
                                  Touch("noext"),
                                  Touch("dotted.bmp/cover"),
                                  (scratch / "missing.bmp").string(),
                                  "",
                                  (scratch / "folder.bmp").string()};
    std::filesystem::create_directories(scratch / "folder.bmp");
    for (const std::string& cover : covers) {
        SCOPED_TRACE(cover);
        Open(0);
        form_->Process->SetEnabled(true);
        form_->CoverFile->SetText(cover);
        Open(3);
        EXPECT_FALSE(form_->Process->GetEnabled());
    }
}

// A pipe or device named as the cover would hang the run that reads it; a NUL
// would cut the name short, to a file that does exist.
TEST_F(ProcessEnabling, RefusesACoverThatIsNoRegularFileOrHoldsANul) {
    ShowAt(600, 400);
    FilePaths().Add("/pics/a.jpg");
    const std::string pipe = (scratch / "pipe.bmp").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::filesystem::create_symlink(pipe, scratch / "link.bmp");
    std::filesystem::create_symlink("/dev/zero", scratch / "zero.bmp");
    const std::string real = Bitmap("real");
    for (const std::string& cover : {pipe, (scratch / "link.bmp").string(), (scratch / "zero.bmp").string(),
                                     real + std::string(1, '\0') + ".bmp"}) {
        SCOPED_TRACE(cover);
        Open(1);
        form_->Process->SetEnabled(true);
        form_->CoverFile->SetText(cover);  // typed: the preview passes it over
        EXPECT_EQ(form_->PreviewCover->GetPicture().GetWidth(), 0);
        Open(3);
        EXPECT_FALSE(form_->Process->GetEnabled());
    }
    // A link to a real bitmap is fine.
    std::filesystem::create_symlink(Bitmap("cover.bmp"), scratch / "linked.bmp");
    Open(1);
    form_->CoverFile->SetText((scratch / "linked.bmp").string());
    Open(3);
    EXPECT_TRUE(form_->Process->GetEnabled());
}

TEST_F(ProcessEnabling, SaysInOneLineWhatIsMissing) {
    ShowAt(600, 400);
    const auto why = [&](const std::string& cover) {
        Open(0);
        form_->CoverFile->SetText(cover);
        Open(3);
        EXPECT_EQ(form_->ProcessWhy->GetVisible(), !form_->Process->GetEnabled());
        return form_->ProcessWhy->GetVisible() ? form_->ProcessWhy->GetCaption() : std::string("(none)");
    };
    const std::string cover = Bitmap("cover.bmp");
    // No pictures is said first, whatever the cover.
    EXPECT_EQ(why(cover), "No pictures to process: add some on \"Files to Edit\".");
    FilePaths().Add("/pics/a.jpg");
    EXPECT_EQ(why(""), "No cover: choose one on \"Cover File\".");
    EXPECT_EQ(why((scratch / "gone.bmp").string()), "The cover file does not exist.");
    std::filesystem::create_directories(scratch / "folder.bmp");
    EXPECT_EQ(why((scratch / "folder.bmp").string()), "The cover file does not exist.");
    EXPECT_EQ(why(Touch("photo.jpg")), "The cover must be a .bmp or .png picture.");
    EXPECT_EQ(why(cover), "(none)");
    EXPECT_TRUE(form_->Process->GetEnabled());
}

TEST_F(ProcessEnabling, OnlyEnteringTheProcessPageRetests) {
    ShowAt(600, 400);
    form_->CoverFile->SetText(Bitmap("cover.bmp"));
    Open(3);
    ASSERT_FALSE(form_->Process->GetEnabled());
    // Adding files elsewhere, and every other page, leaves the state alone.
    Open(0);
    FilePaths().Add("/pics/a.jpg");
    for (int page : {1, 2, 4, 0}) {
        Open(page);
        EXPECT_FALSE(form_->Process->GetEnabled()) << "page " << page;
    }
    Open(3);
    EXPECT_TRUE(form_->Process->GetEnabled());
    // Still shown: removing the files changes nothing until the page is entered anew.
    FilePaths().Clear();
    EXPECT_TRUE(form_->Process->GetEnabled());
    for (int page : {2, 1, 4, 0}) {
        Open(page);
        EXPECT_TRUE(form_->Process->GetEnabled()) << "page " << page;
    }
    Open(3);
    EXPECT_FALSE(form_->Process->GetEnabled());
}

TEST_F(MainFormTest, EnterPressesTheDefaultButtonOfTheShownPage) {
    ShowAt(600, 400);
    int updates = 0, processes = 0;
    form_->Update->OnClick = [&](TObject*) { ++updates; };
    form_->Process->OnClick = [&](TObject*) { ++processes; };
    form_->Tabs->SelectByUser(2);
    EXPECT_TRUE(form_->ClickDefaultButton());
    form_->Tabs->SelectByUser(3);  // Process is disabled: no files
    EXPECT_FALSE(form_->ClickDefaultButton());
    FilePaths().Add("/x.jpg");
    form_->CoverFile->SetText(Bitmap("c.bmp"));
    form_->Tabs->SelectByUser(0);
    form_->Tabs->SelectByUser(3);
    EXPECT_TRUE(form_->ClickDefaultButton());
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(processes, 1);
}

TEST(Program, ModulesRegisterTheJpegFormatAndTakeItBack) {
    InitializeModules();
    EXPECT_FALSE(TPicture::FileFormatDescription("jpg").empty());
    EXPECT_FALSE(TPicture::FileFormatDescription("jpeg").empty());
    EXPECT_FALSE(TPicture::FileFormatDescription("bmp").empty());
    FinalizeModules();
    EXPECT_TRUE(TPicture::FileFormatDescription("jpg").empty());
    EXPECT_FALSE(TPicture::FileFormatDescription("bmp").empty());
}

TEST_F(ProgramTest, StartsInOrderAndTearsTheWindowDown) {
    auto scripted = std::make_unique<TScriptedModal>();
    TScriptedModal* modal = scripted.get();
    SetModalInterface(std::move(scripted));
    bool ran = false;
    RunProgram([&] {
        ran = true;
        ASSERT_NE(MainForm, nullptr);
        EXPECT_EQ(Application->GetMainForm(), MainForm);
        EXPECT_EQ(Application->GetTitle(), "Vellumark 1.0");
        EXPECT_TRUE(MainForm->GetVisible());
        EXPECT_EQ(MainForm->Tabs->GetPageIndex(), 0);
        // The first sizing when shown already fills the window.
        QCoreApplication::processEvents();
        EXPECT_EQ(MainForm->Tabs->GetWidth(), MainForm->GetClientWidth() + 4);
        MainForm->Close();
        EXPECT_TRUE(Application->GetTerminated());
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_FALSE(modal->HasBox());
    SetModalInterface(nullptr);
}

TEST_F(ProgramTest, AFailureDuringStartUpIsShownAndTheWindowIsGone) {
    auto scripted = std::make_unique<TScriptedModal>();
    TScriptedModal* modal = scripted.get();
    SetModalInterface(std::move(scripted));
    RunProgram([] { throw std::runtime_error("out of memory"); });
    EXPECT_EQ(MainForm, nullptr);
    ASSERT_TRUE(modal->HasBox());
    const auto box = modal->TakeBox();
    EXPECT_EQ(box.kind, TScriptedModal::Box::Error);
    EXPECT_EQ(box.caption, "Vellumark 1.0");
    EXPECT_EQ(box.text, "out of memory");
    SetModalInterface(nullptr);
}

TEST_F(MainFormTest, AFailingCloseHandlerIsShownAndTheWindowStillCloses) {
    ShowAt(600, 400);
    form_->OnClose = [](TObject*, TCloseAction&) { throw ERegistryException("Failed to set data for 'CoverFile'"); };
    form_->Close();
    EXPECT_FALSE(form_->GetVisible());
    ASSERT_TRUE(modal_->HasBox());
    EXPECT_EQ(modal_->TakeBox().text, "Failed to set data for 'CoverFile'");
}

TEST_F(MainFormTest, CloseActionNoneKeepsTheWindow) {
    ShowAt(600, 400);
    form_->OnClose = [](TObject*, TCloseAction& action) { action = TCloseAction::caNone; };
    form_->Close();
    EXPECT_TRUE(form_->GetVisible());
}
