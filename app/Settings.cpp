#include "app/Settings.h"

#include "app/MainForm.h"

namespace vmk {

void LoadSettings(TMainForm&) {}

void SaveSettings(TMainForm&) {}

}  // namespace vmk
