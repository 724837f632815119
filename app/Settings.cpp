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

// Whole folders: their two choices.
void LoadFolderChoices(TMainForm& form, TRegistry& reg) {
    const bool subfolders = ReadStoredFlag(reg, kStoredSubfolders);
    Dispatch([&] { form.Subfolders->SetChecked(subfolders); });
    const bool keep = ReadStoredFlag(reg, kStoredKeepSubfolders);
    Dispatch([&] { form.KeepSubfolders->SetChecked(keep); });
}

void WriteFolderChoices(TMainForm& form, TRegistry& reg) {
    reg.WriteBool(kStoredSubfolders.Name, form.Subfolders->GetChecked());
    reg.WriteBool(kStoredKeepSubfolders.Name, form.KeepSubfolders->GetChecked());
}

// The window's size, place and page. A size or place the store lacks keeps
// the window's own (600 x 400, centred); a page that does not exist opens the first.
void LoadWindowPlacement(TMainForm& form, TRegistry& reg) {
    const int32_t width = ReadStoredNumber(reg, kStoredWindowWidth);
    const int32_t height = ReadStoredNumber(reg, kStoredWindowHeight);
    const int32_t left = ReadStoredNumber(reg, kStoredWindowLeft);
    const int32_t top = ReadStoredNumber(reg, kStoredWindowTop);
    if (width > 0 && height > 0 && width <= 100000 && height <= 100000) {
        if (left == kWindowCentred || top == kWindowCentred) {
            form.SetOuterSize(width, height);
            form.CenterOnScreen();
        } else {
            form.SetPlacement(left, top, width, height);
        }
    }
    form.SetMaximized(ReadStoredFlag(reg, kStoredWindowMaximized));
    int32_t page = ReadStoredNumber(reg, kStoredWindowPage);
    if (page < 0 || page >= form.Tabs->GetPageCount()) page = kStoredWindowPage.Fallback;
    Dispatch([&] { form.Tabs->SetPageIndex(page); });
}

void SaveWindowPlacement(TMainForm& form, TRegistry& reg) {
    const TForm::TPlacement p = form.GetPlacement();
    reg.WriteInteger(kStoredWindowLeft.Name, p.Left);
    reg.WriteInteger(kStoredWindowTop.Name, p.Top);
    reg.WriteInteger(kStoredWindowWidth.Name, p.Width);
    reg.WriteInteger(kStoredWindowHeight.Name, p.Height);
    reg.WriteBool(kStoredWindowMaximized.Name, p.Maximized);
    reg.WriteInteger(kStoredWindowPage.Name, form.Tabs->GetPageIndex());
}

// Fitted previews: window-only values, each falling back to its default.
constexpr TStoredValue<bool> kStoredFitFiles{"FitFiles", true};
constexpr TStoredValue<bool> kStoredFitCover{"FitCover", false};
constexpr TStoredValue<bool> kStoredFitSave{"FitSave", true};

void LoadFitToggles(TMainForm& form, TRegistry& reg) {
    const bool files = ReadStoredFlag(reg, kStoredFitFiles);
    Dispatch([&] { form.FitFiles->SetChecked(files); });
    const bool cover = ReadStoredFlag(reg, kStoredFitCover);
    Dispatch([&] { form.FitCover->SetChecked(cover); });
    const bool save = ReadStoredFlag(reg, kStoredFitSave);
    Dispatch([&] { form.FitSave->SetChecked(save); });
}

void SaveFitToggles(TMainForm& form, TRegistry& reg) {
    reg.WriteBool(kStoredFitFiles.Name, form.FitFiles->GetChecked());
    reg.WriteBool(kStoredFitCover.Name, form.FitCover->GetChecked());
    reg.WriteBool(kStoredFitSave.Name, form.FitSave->GetChecked());
}

}  // namespace

// Every value goes in through its control, so the control's handler runs when the
// value changes it, as a user's change would. A handler that fails there (a damaged
// cover file, say) is shown like any handler failure and the load goes on; the value
// stays in its control and so is not lost at the next save.
void LoadSettings(TMainForm& form) {
    TRegistry reg;
    LoadSettingsFrom(form, reg);
    // The window's place belongs to this store only, not to set-up files.
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    // So do the previews' Fit toggles.
    if (reg.OpenKey(kSettingsKey, false)) {
        LoadFitToggles(form, reg);
        LoadWindowPlacement(form, reg);
    }
    reg.CloseKey();
}

void LoadSettingsFrom(TMainForm& form, TRegistry& reg) {
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
        LoadFolderChoices(form, reg);
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
            WriteSettingsTo(form, reg);
            // The window's place and the previews' Fit toggles belong to this store
            // only, not to set-up files.
            SaveWindowPlacement(form, reg);
            SaveFitToggles(form, reg);
            reg.CommitBatch();
        });
    }
    reg.CloseKey();
}

void WriteSettingsTo(TMainForm& form, TRegistry& reg) {
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
    WriteFolderChoices(form, reg);
    // Run rules
    const TRunRules rules = RunRulesOf(form);
    for (const auto& choice : kExistingNames)
        if (choice.Value == rules.Existing) reg.WriteInteger(kStoredExisting.Name, choice.Stored);
    for (const auto& choice : kOnFailureNames)
        if (choice.Value == rules.OnFailure) reg.WriteInteger(kStoredOnFailure.Name, choice.Stored);
}

}  // namespace vmk
