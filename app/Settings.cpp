#include "app/Settings.h"

#include <cstdint>
#include <exception>
#include <string>

#include "app/MainForm.h"
#include "core/Registry.h"
#include "output/FormSettings.h"
#include "widgets/Forms.h"

namespace vmk {

namespace {

const char* const kSettingsKey = "\\Software\\Quorvex\\VMK";

// Each value is read on its own: whatever makes a read fail, the value's
// fallback takes its place and the load goes on with the next one.
std::string ReadText(TRegistry& reg, const char* name, const char* fallback) {
    try {
        return reg.ReadString(name);
    } catch (const std::exception&) {
        return fallback;
    }
}

int32_t ReadNumber(TRegistry& reg, const char* name, int32_t fallback) {
    try {
        return reg.ReadInteger(name);
    } catch (const std::exception&) {
        return fallback;
    }
}

bool ReadFlag(TRegistry& reg, const char* name, bool fallback) {
    try {
        return reg.ReadBool(name);
    } catch (const std::exception&) {
        return fallback;
    }
}

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

}  // namespace

// Every value goes in through its control, so the control's handler runs when the
// value changes it, as a user's change would. A handler that fails there (a damaged
// cover file, say) is shown like any handler failure and the load goes on; the value
// stays in its control and so is not lost at the next save.
void LoadSettings(TMainForm& form) {
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (reg.KeyExists(kSettingsKey)) {
        // Whether the open succeeds is not tested: with no key open every text
        // reads as empty and every other value takes its fallback.
        reg.OpenKey(kSettingsKey, false);
        const std::string cover = ReadText(reg, "CoverFile", "");
        Dispatch([&] { form.CoverFile->SetText(cover); });
        const int32_t position = ReadNumber(reg, "PosType", 0);
        Dispatch([&] { PositionButton(form, position)->SetChecked(true); });
        const int32_t left = ReadNumber(reg, "CoverLeft", 0);
        Dispatch([&] { form.CoverLeft->SetValue(left); });
        const int32_t top = ReadNumber(reg, "CoverTop", 0);
        Dispatch([&] { form.CoverTop->SetValue(top); });
        const bool transparent = ReadFlag(reg, "Transparent", true);
        Dispatch([&] { form.CoverTransparent->SetChecked(transparent); });
        const bool autoTrans = ReadFlag(reg, "AutoTrans", true);
        Dispatch([&] { form.AutoDetTrans->SetChecked(autoTrans); });
        const auto color = static_cast<TColor>(ReadNumber(reg, "TransColor", static_cast<int32_t>(clWhite)));
        Dispatch([&] { form.TransColor->SetBrushColor(color); });
        const int32_t format = ReadNumber(reg, "Type", 2);
        Dispatch([&] { FormatButton(form, format)->SetChecked(true); });
        const int32_t quality = ReadNumber(reg, "JPGQ", 85);
        Dispatch([&] { form.JPGQuality->SetValue(quality); });
        const int32_t fix = ReadNumber(reg, "FixType", 0);
        Dispatch([&] { (fix == 1 ? form.Suffix : form.Prefix)->SetChecked(true); });
        const std::string fileFix = ReadText(reg, "FileFix", "VMK_");
        Dispatch([&] { form.FileFix->SetText(fileFix); });
        const std::string savePath = ReadText(reg, "SavePath", "");
        Dispatch([&] { form.Path->SetText(savePath); });
    } else {
        // First start: everything else keeps its layout value.
        Dispatch([&] { form.LT->SetChecked(true); });
        Dispatch([&] { form.AsIs->SetChecked(true); });
        Dispatch([&] { form.Prefix->SetChecked(true); });
        Dispatch([&] { form.FileFix->SetText("VMK_"); });
        Dispatch([&] { form.CoverTransparent->SetChecked(true); });
        Dispatch([&] { form.AutoDetTrans->SetChecked(true); });
    }
    reg.CloseKey();
}

void SaveSettings(TMainForm& form) {
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    // When the store can be neither opened nor created, nothing is written and
    // nothing is said. A write that fails is shown, the values after it are not
    // written, and the window closes all the same: the user asked to quit.
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
        });
    }
    reg.CloseKey();
}

}  // namespace vmk
