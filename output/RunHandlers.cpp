#include "app/MainForm.h"

namespace vmk {

void TMainForm::ProcessClick(TObject*) {}

void TMainForm::Button1Click(TObject*) {}

}  // namespace vmk
