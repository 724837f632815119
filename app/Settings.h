#pragma once

// The user's choices kept between runs: loaded into the controls when the main
// window is created, written back from them when it closes.

#include <string>
#include <vector>

namespace vmk {

class TMainForm;
class TRegistry;

void LoadSettings(TMainForm& form);
void SaveSettings(TMainForm& form);
// The same with a store of the caller's: loading opens the settings key
// itself; writing needs it open and writes every value (in the caller's batch).
void LoadSettingsFrom(TMainForm& form, TRegistry& reg);
void WriteSettingsTo(TMainForm& form, TRegistry& reg);

// Set-up files: every setting of the window in a file of the store's own
// format. Saving replaces the file whole. Loading sets the controls as the
// start-up does and gives a line for each thing it passed over (an unknown
// name, a damaged value, a line that is no value); a file holding no settings
// at all changes nothing and fails.
void SaveSettingsToFile(TMainForm& form, const std::string& path);
std::vector<std::string> LoadSettingsFromFile(TMainForm& form, const std::string& path);

}  // namespace vmk
