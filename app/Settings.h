#pragma once

// The user's choices kept between runs: loaded into the controls when the main
// window is created, written back from them when it closes.

namespace vmk {

class TMainForm;

void LoadSettings(TMainForm& form);
void SaveSettings(TMainForm& form);

}  // namespace vmk
