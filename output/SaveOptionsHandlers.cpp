#include "app/MainForm.h"

namespace vmk {

void TMainForm::FileListSaveClick(TObject*) {}

void TMainForm::UpdateClick(TObject*) {}

void TMainForm::BMPClick(TObject*) {}

void TMainForm::JPGQualityChange(TObject*) {}

void TMainForm::JPGQualityKeyDown(TObject*, uint16_t&, TShiftState) {}

void TMainForm::JPGQualityKeyUp(TObject*, uint16_t&, TShiftState) {}

}  // namespace vmk
