#include "app/Settings.h"

#include <cstdint>
#include <exception>
#include <string>

#include "app/MainForm.h"
#include "compose/Compose.h"
#include "compose/StoredSettings.h"
#include "core/Registry.h"
#include "output/FormSettings.h"
#include "widgets/Forms.h"

namespace vmk {

namespace {

TRadioButton* PositionButton(TMainForm& form, int32_t number) {
    for (const TPositionChoice& choice : kPositionChoices)
        if (choice.Stored == number) return form.*choice.Button;
    return form.*kPositionChoices.front().Button;
}

TRadioButton* FormatButton(TMainForm& form, TSaveAs saveAs) {
    switch (saveAs) {
    case TSaveAs::BMP: return form.BMP;
    case TSaveAs::JPG: return form.JPG;
    case TSaveAs::PNG: return form.PNG;
    case TSaveAs::WEBP: return form.WEBP;
    case TSaveAs::TIFF: return form.TIFF;
    case TSaveAs::AsIs: break;
    }
    return form.AsIs;
}

TRadioButton* SizeButton(TMainForm& form, TCoverSizing sizing) {
    switch (sizing) {
    case TCoverSizing::Width: return form.SizeWidth;
    case TCoverSizing::Height: return form.SizeHeight;
    case TCoverSizing::Shorter: return form.SizeShorter;
    case TCoverSizing::AsIs: break;
    }
    return form.SizeAsIs;
}

// The cover's further places, margins, opacity and size: values an older
// store lacks, each falling back to the control's default.
void LoadCoverExtras(TMainForm& form, TRegistry& reg) {
    const int32_t anchor = ReadStoredNumber(reg, kStoredCoverAnchor);
    for (const TPositionChoice& choice : kAnchorChoices)
        if (choice.Stored == anchor) Dispatch([&] { (form.*choice.Button)->SetChecked(true); });
    const bool percent = ReadStoredFlag(reg, kStoredMarginPercent);
    Dispatch([&] { form.MarginPercent->SetChecked(percent); });
    const int32_t marginX = ReadStoredNumber(reg, kStoredMarginX);
    Dispatch([&] { form.MarginX->SetValue(marginX); });
    const int32_t marginY = ReadStoredNumber(reg, kStoredMarginY);
    Dispatch([&] { form.MarginY->SetValue(marginY); });
    const int32_t opacity = ReadStoredNumber(reg, kStoredOpacity);
    Dispatch([&] { form.Opacity->SetValue(opacity); });
    const TCoverSizing sizing = SizingForStored(ReadStoredNumber(reg, kStoredCoverSize));
    Dispatch([&] { SizeButton(form, sizing)->SetChecked(true); });
    const int32_t sizePercent = ReadStoredNumber(reg, kStoredSizePercent);
    Dispatch([&] { form.SizePercent->SetValue(sizePercent); });
}

}  // namespace

// Every value goes in through its control, so the control's handler runs when the
// value changes it, as a user's change would. A handler that fails there (a damaged
// cover file, say) is shown like any handler failure and the load goes on; the value
// stays in its control and so is not lost at the next save.
void LoadSettings(TMainForm& form) {
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (reg.OpenKey(kSettingsKey, false)) {
        const std::string cover = ReadStoredText(reg, kStoredCoverFile);
        Dispatch([&] { form.CoverFile->SetText(cover); });
        const int32_t position = ReadStoredNumber(reg, kStoredPosType);
        Dispatch([&] { PositionButton(form, position)->SetChecked(true); });
        const int32_t left = ReadStoredNumber(reg, kStoredCoverLeft);
        Dispatch([&] { form.CoverLeft->SetValue(left); });
        const int32_t top = ReadStoredNumber(reg, kStoredCoverTop);
        Dispatch([&] { form.CoverTop->SetValue(top); });
        const bool transparent = ReadStoredFlag(reg, kStoredTransparent);
        Dispatch([&] { form.CoverTransparent->SetChecked(transparent); });
        const bool autoTrans = ReadStoredFlag(reg, kStoredAutoTrans);
        Dispatch([&] { form.AutoDetTrans->SetChecked(autoTrans); });
        const auto color = static_cast<TColor>(ReadStoredNumber(reg, kStoredTransColor));
        Dispatch([&] { form.TransColor->SetBrushColor(color); });
        const TSaveAs format = SaveAsForStored(ReadStoredNumber(reg, kStoredType));
        Dispatch([&] { FormatButton(form, format)->SetChecked(true); });
        const int32_t quality = ReadStoredNumber(reg, kStoredJPGQ);
        Dispatch([&] { form.JPGQuality->SetValue(quality); });
        const int32_t fix = ReadStoredNumber(reg, kStoredFixType);
        Dispatch([&] { (fix == 1 ? form.Suffix : form.Prefix)->SetChecked(true); });
        const std::string fileFix = ReadStoredText(reg, kStoredFileFix);
        Dispatch([&] { form.FileFix->SetText(fileFix); });
        const std::string savePath = ReadStoredText(reg, kStoredSavePath);
        Dispatch([&] { form.Path->SetText(savePath); });
        LoadCoverExtras(form, reg);
        // Run rules
        const TExisting existing = ExistingForStored(ReadStoredNumber(reg, kStoredExisting));
        Dispatch([&] { ExistingButton(form, existing)->SetChecked(true); });
        const TOnFailure onFailure = OnFailureForStored(ReadStoredNumber(reg, kStoredOnFailure));
        Dispatch([&] { OnFailureButton(form, onFailure)->SetChecked(true); });
    } else {
        // First start: everything else keeps its layout value.
        Dispatch([&] { form.LT->SetChecked(true); });
        Dispatch([&] { form.AsIs->SetChecked(true); });
        Dispatch([&] { form.Prefix->SetChecked(true); });
        Dispatch([&] { form.FileFix->SetText(kDefaultFileFix); });
        Dispatch([&] { form.CoverTransparent->SetChecked(true); });
        Dispatch([&] { form.AutoDetTrans->SetChecked(true); });
    }
    reg.CloseKey();
}

void SaveSettings(TMainForm& form) {
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    // When the store can be neither opened nor created, nothing is written and
    // nothing is said. The values go to the file together, in one replacement; a
    // save that fails is shown, nothing of it is stored, and the window closes
    // all the same: the user asked to quit.
    reg.BeginBatch();
    if (reg.OpenKey(kSettingsKey, true)) {
        Dispatch([&] {
            reg.WriteString(kStoredCoverFile.Name, form.CoverFile->GetText());
            if (const TPositionChoice* position = CheckedPosition(form))
                reg.WriteInteger(kStoredPosType.Name, position->Stored);
            reg.WriteInteger(kStoredCoverLeft.Name, form.CoverLeft->GetValue());
            reg.WriteInteger(kStoredCoverTop.Name, form.CoverTop->GetValue());
            reg.WriteBool(kStoredTransparent.Name, form.CoverTransparent->GetChecked());
            reg.WriteBool(kStoredAutoTrans.Name, form.AutoDetTrans->GetChecked());
            // The colour's 32 bits as they are; the high byte is kept.
            reg.WriteInteger(kStoredTransColor.Name, static_cast<int32_t>(form.TransColor->GetBrushColor()));
            for (const TFormatName& format : kFormatNames)
                if (FormatButton(form, format.SaveAs)->GetChecked()) {
                    reg.WriteInteger(kStoredType.Name, format.Stored);
                    break;
                }
            reg.WriteInteger(kStoredJPGQ.Name, form.JPGQuality->GetValue());
            reg.WriteInteger(kStoredFixType.Name, form.Prefix->GetChecked() ? 0 : 1);
            reg.WriteString(kStoredFileFix.Name, form.FileFix->GetText());
            reg.WriteString(kStoredSavePath.Name, form.Path->GetText());
            const TPositionChoice* anchor = CheckedAnchor(form);
            reg.WriteInteger(kStoredCoverAnchor.Name, anchor ? anchor->Stored : 0);
            reg.WriteBool(kStoredMarginPercent.Name, form.MarginPercent->GetChecked());
            reg.WriteInteger(kStoredMarginX.Name, form.MarginX->GetValue());
            reg.WriteInteger(kStoredMarginY.Name, form.MarginY->GetValue());
            reg.WriteInteger(kStoredOpacity.Name, form.Opacity->GetValue());
            int32_t sizing = kSizingNames.front().Stored;
            for (const TSizingName& size : kSizingNames)
                if (SizeButton(form, size.Sizing)->GetChecked()) sizing = size.Stored;
            reg.WriteInteger(kStoredCoverSize.Name, sizing);
            reg.WriteInteger(kStoredSizePercent.Name, form.SizePercent->GetValue());
            // Run rules
            const TRunRules rules = RunRulesOf(form);
            for (const auto& choice : kExistingNames)
                if (choice.Value == rules.Existing) reg.WriteInteger(kStoredExisting.Name, choice.Stored);
            for (const auto& choice : kOnFailureNames)
                if (choice.Value == rules.OnFailure) reg.WriteInteger(kStoredOnFailure.Name, choice.Stored);
            reg.CommitBatch();
        });
    }
    reg.CloseKey();
}

}  // namespace vmk
