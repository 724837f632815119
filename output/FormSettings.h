#pragma once

// Reads the settings of the composing steps from the main window's controls,
// at the moment a run or a preview starts.

#include "output/Compose.h"

namespace vmk {

class TMainForm;

TCoverSettings CoverSettingsOf(const TMainForm& form);
TOutputSettings OutputSettingsOf(const TMainForm& form);

}  // namespace vmk
