#include "app/MainForm.h"

namespace vmk {

void TMainForm::OpenClick(TObject*) {}

void TMainForm::DeleteClick(TObject*) {}

void TMainForm::FilesListClick(TObject*) {}

}  // namespace vmk
