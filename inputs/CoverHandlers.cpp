// "Cover File": the cover bitmap, its place and its see-through colour, with the
// cover preview and the colour pick. The controls are the only store of these
// settings; the run and the save preview read them when they need them.

#include <string>
#include <vector>

#include "app/MainForm.h"
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

}  // namespace

void TMainForm::BrowseClick(TObject*) {
    if (!OpenCover->Execute()) return;
    const std::string path = OpenCover->GetFileName();
    if (!IsBitmapPath(path)) {
        ShowMessage("Invalid File Extension: '" + ExtractFileExt(path) + "'!");
        return;
    }
    CoverFile->SetText(path);
    // Loaded again even when the text was already this path, so choosing the
    // file shown re-reads it from disk.
    PreviewCover->GetPicture().LoadFromFile(path);
}

void TMainForm::CoverFileChange(TObject*) {
    // Runs on every keystroke: a partial name simply loads nothing. Only a regular
    // file is read: a pipe named like a bitmap would block the program for good.
    const std::string path = CoverFile->GetText();
    if (FileExists(path) && IsBitmapPath(path)) PreviewCover->GetPicture().LoadFromFile(path);
}

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
