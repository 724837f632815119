// "Cover File": the cover bitmap, its place and its see-through colour, with the
// cover preview and the colour pick. The controls are the only store of these
// settings; the run and the save preview read them when they need them.

#include <string>
#include <vector>

#include "app/MainForm.h"
#include "compose/Compose.h"
#include "core/FileUtils.h"
#include "core/Saturate.h"
#include "widgets/Keys.h"
#include "widgets/SpinEditKeys.h"

namespace vmk {

namespace {

// Whether (x, y) lies on the picture shown unscaled at the control's top-left
// corner. A pointer dragged left of or above the control reports negative
// coordinates; those are beside the picture, never on it.
bool OnPicture(TImage& image, int x, int y) {
    const TPicture& picture = image.GetPicture();
    return x >= 0 && y >= 0 && x < picture.GetWidth() && y < picture.GetHeight();
}

// Page Up and Page Down move an offset by 10; a field at its limit stays there.
void StepOffset(TCSpinEdit& field, int delta) { field.SetValue(SaturatingAdd(field.GetValue(), delta)); }

void OffsetKeyDown(TCSpinEdit& field, uint16_t key) {
    // A refused key must not edit the text; the field's own stepping (Up, Down)
    // goes on, since the key itself is left alone.
    field.SetReadOnly(!SpinEditKeyAllowed(key));
    if (!field.GetText().empty() && key == VK_PRIOR) StepOffset(field, 10);
    if (!field.GetText().empty() && key == VK_NEXT) StepOffset(field, -10);
}

// Shows the cover file in the preview: a fresh bitmap in automatic colour
// mode, its alpha (if any) over a checkerboard. A failed read keeps the picture.
void ShowCover(TImage& preview, const std::string& path) {
    if (IsBitmapPath(path)) {
        preview.GetPicture().LoadFromFile(path);
        return;
    }
    TBitmap cover;
    LoadCoverFile(cover, path);
    preview.GetPicture().Assign(&cover);
}

}  // namespace

void TMainForm::BrowseClick(TObject*) {
    if (!OpenCover->Execute()) return;
    const std::string path = OpenCover->GetFileName();
    if (!IsCoverPath(path)) {
        ShowMessage("Invalid File Extension: '" + ExtractFileExt(path) + "'!");
        return;
    }
    CoverFile->SetText(path);
    // Loaded again even when the text was already this path, so choosing the
    // file shown re-reads it from disk.
    ShowCover(*PreviewCover, path);
}

void TMainForm::CoverFileChange(TObject*) {
    // Runs on every keystroke: a partial name simply loads nothing. Only a regular
    // file is read: a pipe named like a bitmap would block the program for good.
    const std::string path = CoverFile->GetText();
    if (FileExists(path) && IsCoverPath(path))
        ShowCover(*PreviewCover, path);
    else
        // A name that leads nowhere shows no cover rather than the last one.
        PreviewCover->GetPicture().Assign(nullptr);
}

void TMainForm::FitCoverClick(TObject*) { PreviewCover->SetFit(FitCover->GetChecked()); }

void TMainForm::CoverFileDropFiles(TObject*, const std::vector<std::string>& Files) {
    // The whole text becomes the dropped path, as if typed over a selection;
    // of several files the first is the cover.
    if (!Files.empty()) CoverFile->SetText(Files.front());
}

void TMainForm::OtherPosClick(TObject*) {
    const bool freePlace = OtherPos->GetChecked();
    Label6->SetEnabled(freePlace);
    Label7->SetEnabled(freePlace);
    CoverLeft->SetEnabled(freePlace);
    CoverTop->SetEnabled(freePlace);
    // A margin means something only on an axis the cover is pushed to an edge of.
    const bool none = !LT->GetChecked() && !RT->GetChecked() && !LB->GetChecked() && !RB->GetChecked() &&
                      !TC->GetChecked() && !BC->GetChecked() && !LM->GetChecked() && !RM->GetChecked() &&
                      !CC->GetChecked();
    const bool edgeX = !freePlace && !none && !TC->GetChecked() && !BC->GetChecked() && !CC->GetChecked();
    const bool edgeY = !freePlace && !none && !LM->GetChecked() && !RM->GetChecked() && !CC->GetChecked();
    Label13->SetEnabled(edgeX);
    MarginX->SetEnabled(edgeX);
    Label14->SetEnabled(edgeY);
    MarginY->SetEnabled(edgeY);
}

void TMainForm::MarginPercentClick(TObject*) {
    // The values stay; a pixel margin past 100 becomes 100 %.
    const int most = MarginPercent->GetChecked() ? 100 : 99999;
    for (TCSpinEdit* field : {MarginX, MarginY}) {
        field->SetMaxValue(most);
        if (field->GetValue() > most) field->SetValue(most);
    }
}

void TMainForm::CoverSizeClick(TObject*) {
    const bool follows = !SizeAsIs->GetChecked();
    SizePercent->SetEnabled(follows);
    Label17->SetEnabled(follows);
}

void TMainForm::CoverFieldChange(TObject* Sender) {
    // As the quality field: a number typed past a bound comes back to it; an
    // empty field is left for the user to fill.
    auto* field = dynamic_cast<TCSpinEdit*>(Sender);
    if (!field || field->GetText().empty()) return;
    if (field->GetValue() > field->GetMaxValue()) field->SetValue(field->GetMaxValue());
    if (field->GetValue() < field->GetMinValue()) field->SetValue(field->GetMinValue());
}

void TMainForm::CoverFieldKeyDown(TObject* Sender, uint16_t& Key, TShiftState) {
    if (auto* field = dynamic_cast<TCSpinEdit*>(Sender)) OffsetKeyDown(*field, Key);
}

void TMainForm::CoverFieldKeyUp(TObject* Sender, uint16_t&, TShiftState) {
    if (auto* field = dynamic_cast<TCSpinEdit*>(Sender)) field->SetReadOnly(false);
}

void TMainForm::CoverTransparentClick(TObject*) {
    const bool t = CoverTransparent->GetChecked();
    const bool a = AutoDetTrans->GetChecked();
    PreviewCover->SetTransparent(t);
    AutoDetTrans->SetEnabled(t);
    SetTColor->SetEnabled(t && !a);
    Label9->SetEnabled(t);
    Label10->SetEnabled(t);
    Label11->SetEnabled(t && !a);
}

void TMainForm::AutoDetTransClick(TObject*) {
    const bool a = AutoDetTrans->GetChecked();
    SetTColor->SetEnabled(!a);
    Label11->SetEnabled(!a);
    TBitmap& cover = PreviewCover->GetPicture().GetBitmap();
    if (a) {
        cover.SetTransparentMode(TTransparentMode::tmAuto);
    } else {
        cover.SetTransparentMode(TTransparentMode::tmFixed);
        cover.SetTransparentColor(TransColor->GetBrushColor());
    }
    PreviewCover->PictureChanged();
}

void TMainForm::SetTColorClick(TObject*) {
    if (!ColorDlg->Execute()) return;
    const TColor color = ColorDlg->GetColor();
    TransColor->SetBrushColor(color);
    PreviewCover->GetPicture().GetBitmap().SetTransparentColor(color);
    PreviewCover->PictureChanged();
}

void TMainForm::PreviewCoverMouseMove(TObject*, TShiftState, int X, int Y) {
    const bool picking =
        OnPicture(*PreviewCover, X, Y) && CoverTransparent->GetChecked() && !AutoDetTrans->GetChecked();
    Screen->SetCursor(picking ? crCross : crDefault);
}

void TMainForm::PreviewCoverMouseUp(TObject*, TMouseButton, TShiftState, int X, int Y) {
    if (!OnPicture(*PreviewCover, X, Y)) return;
    if (!CoverTransparent->GetChecked() || AutoDetTrans->GetChecked()) return;
    UpdTimer->SetEnabled(false);
    // The stored colour, also where the preview shows the pixel see-through.
    const TColor color = PreviewCover->GetCanvas().GetPixel(X, Y);
    TransColor->SetBrushColor(color);
    // A fresh countdown: further picks within the second postpone the update.
    UpdTimer->SetEnabled(true);
}

void TMainForm::UpdTimerTimer(TObject*) {
    PreviewCover->GetPicture().GetBitmap().SetTransparentColor(TransColor->GetBrushColor());
    PreviewCover->PictureChanged();
    UpdTimer->SetEnabled(false);
}

void TMainForm::Label3MouseMove(TObject*, TShiftState, int, int) { Screen->SetCursor(crDefault); }

void TMainForm::CoverTopMouseMove(TObject*, TShiftState, int, int) { Screen->SetCursor(crDefault); }

void TMainForm::CoverLeftKeyDown(TObject*, uint16_t& Key, TShiftState) { OffsetKeyDown(*CoverLeft, Key); }

void TMainForm::CoverTopKeyDown(TObject*, uint16_t& Key, TShiftState) { OffsetKeyDown(*CoverTop, Key); }

void TMainForm::CoverLeftKeyUp(TObject*, uint16_t&, TShiftState) { CoverLeft->SetReadOnly(false); }

void TMainForm::CoverTopKeyUp(TObject*, uint16_t&, TShiftState) { CoverTop->SetReadOnly(false); }

}  // namespace vmk
