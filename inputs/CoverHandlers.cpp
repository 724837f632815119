#include "app/MainForm.h"

namespace vmk {

void TMainForm::BrowseClick(TObject*) {}

void TMainForm::CoverFileChange(TObject*) {}

void TMainForm::OtherPosClick(TObject*) {}

void TMainForm::CoverTransparentClick(TObject*) {}

void TMainForm::AutoDetTransClick(TObject*) {}

void TMainForm::SetTColorClick(TObject*) {}

void TMainForm::PreviewCoverMouseMove(TObject*, TShiftState, int, int) {}

void TMainForm::PreviewCoverMouseUp(TObject*, TMouseButton, TShiftState, int, int) {}

void TMainForm::UpdTimerTimer(TObject*) {}

void TMainForm::Label3MouseMove(TObject*, TShiftState, int, int) {}

void TMainForm::CoverTopMouseMove(TObject*, TShiftState, int, int) {}

void TMainForm::CoverLeftKeyDown(TObject*, uint16_t&, TShiftState) {}

void TMainForm::CoverTopKeyDown(TObject*, uint16_t&, TShiftState) {}

void TMainForm::CoverLeftKeyUp(TObject*, uint16_t&, TShiftState) {}

void TMainForm::CoverTopKeyUp(TObject*, uint16_t&, TShiftState) {}

}  // namespace vmk
