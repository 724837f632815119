#pragma once

// Reads the settings of the composing steps from the main window's controls,
// at the moment a run or a preview starts.

#include <array>
#include <cstdint>

#include "compose/Compose.h"
#include "compose/RunRules.h"

namespace vmk {

class TMainForm;
class TRadioButton;

// The cover's position: each radio button with the number the settings store
// keeps for it and the place a run puts the cover. Buttons are asked in this
// order and the first checked one wins; a stored number that names none of
// them selects the first.
struct TPositionChoice {
    TRadioButton* TMainForm::*Button;
    int32_t Stored;
    TCoverPlace Place;
};
extern const std::array<TPositionChoice, 5> kPositionChoices;
// The further places, stored apart under their own number (1 to 5; 0 when
// one of the five above is checked), so that a store an older program reads
// keeps its position numbers.
extern const std::array<TPositionChoice, 5> kAnchorChoices;
const TPositionChoice* CheckedAnchor(const TMainForm& form);

// The first checked position, or nullptr when none is.
const TPositionChoice* CheckedPosition(const TMainForm& form);

TCoverSettings CoverSettingsOf(const TMainForm& form);
TOutputSettings OutputSettingsOf(const TMainForm& form);

// Run rules: the checked "When a result exists" and "On a failure" buttons,
// and the buttons that show a choice.
TRunRules RunRulesOf(const TMainForm& form);
TRadioButton* ExistingButton(const TMainForm& form, TExisting existing);
TRadioButton* OnFailureButton(const TMainForm& form, TOnFailure onFailure);
// The Process button's caption for a choice: the first warns that existing
// files are overwritten, the others say what becomes of them.
const char* ProcessCaptionFor(TExisting existing);

}  // namespace vmk
