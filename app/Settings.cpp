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

TRadioButton* FormatButton(TMainForm& form, int32_t number) {
    switch (number) {
    case 0: return form.BMP;
    case 1: return form.JPG;
    case 3: return form.PNG;
    case 4: return form.WEBP;
    case 5: return form.TIFF;
    default: return form.AsIs;
    }
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
    const int32_t sizing = ReadStoredNumber(reg, kStoredCoverSize);
    TRadioButton* sizeButtons[] = {form.SizeAsIs, form.SizeWidth, form.SizeHeight, form.SizeShorter};
    Dispatch([&] { sizeButtons[sizing >= 0 && sizing <= 3 ? sizing : 0]->SetChecked(true); });
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
        const int32_t format = ReadStoredNumber(reg, kStoredType);
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
            reg.WriteString("CoverFile", form.CoverFile->GetText());
            if (const TPositionChoice* position = CheckedPosition(form)) reg.WriteInteger("PosType", position->Stored);
            reg.WriteInteger("CoverLeft", form.CoverLeft->GetValue());
            reg.WriteInteger("CoverTop", form.CoverTop->GetValue());
            reg.WriteBool("Transparent", form.CoverTransparent->GetChecked());
            reg.WriteBool("AutoTrans", form.AutoDetTrans->GetChecked());
            // The colour's 32 bits as they are; the high byte is kept.
            reg.WriteInteger("TransColor", static_cast<int32_t>(form.TransColor->GetBrushColor()));
            if (form.BMP->GetChecked())
                reg.WriteInteger("Type", 0);
            else if (form.JPG->GetChecked())
                reg.WriteInteger("Type", 1);
            else if (form.AsIs->GetChecked())
                reg.WriteInteger("Type", 2);
            else if (form.PNG->GetChecked())
                reg.WriteInteger("Type", 3);
            else if (form.WEBP->GetChecked())
                reg.WriteInteger("Type", 4);
            else if (form.TIFF->GetChecked())
                reg.WriteInteger("Type", 5);
            reg.WriteInteger("JPGQ", form.JPGQuality->GetValue());
            reg.WriteInteger("FixType", form.Prefix->GetChecked() ? 0 : 1);
            reg.WriteString("FileFix", form.FileFix->GetText());
            reg.WriteString("SavePath", form.Path->GetText());
            const TPositionChoice* anchor = CheckedAnchor(form);
            reg.WriteInteger("CoverAnchor", anchor ? anchor->Stored : 0);
            reg.WriteBool("MarginPercent", form.MarginPercent->GetChecked());
            reg.WriteInteger("MarginX", form.MarginX->GetValue());
            reg.WriteInteger("MarginY", form.MarginY->GetValue());
            reg.WriteInteger("Opacity", form.Opacity->GetValue());
            reg.WriteInteger("CoverSize", form.SizeWidth->GetChecked()     ? 1
                                          : form.SizeHeight->GetChecked()  ? 2
                                          : form.SizeShorter->GetChecked() ? 3
                                                                           : 0);
            reg.WriteInteger("SizePercent", form.SizePercent->GetValue());
            reg.CommitBatch();
        });
    }
    reg.CloseKey();
}

}  // namespace vmk
