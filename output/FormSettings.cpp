#include "output/FormSettings.h"

#include <algorithm>

#include "app/MainForm.h"

namespace vmk {

const std::array<TPositionChoice, 5> kPositionChoices = {{
    {&TMainForm::LT, 0, TCoverPlace::LT},
    {&TMainForm::LB, 1, TCoverPlace::LB},
    {&TMainForm::RT, 2, TCoverPlace::RT},
    {&TMainForm::RB, 3, TCoverPlace::RB},
    {&TMainForm::OtherPos, 4, TCoverPlace::Other},
}};

const std::array<TPositionChoice, 5> kAnchorChoices = {{
    {&TMainForm::TC, 1, TCoverPlace::TC},
    {&TMainForm::BC, 2, TCoverPlace::BC},
    {&TMainForm::LM, 3, TCoverPlace::LM},
    {&TMainForm::RM, 4, TCoverPlace::RM},
    {&TMainForm::CC, 5, TCoverPlace::CC},
}};

const TPositionChoice* CheckedAnchor(const TMainForm& form) {
    for (const TPositionChoice& choice : kAnchorChoices)
        if ((form.*choice.Button)->GetChecked()) return &choice;
    return nullptr;
}

const TPositionChoice* CheckedPosition(const TMainForm& form) {
    for (const TPositionChoice& choice : kPositionChoices)
        if ((form.*choice.Button)->GetChecked()) return &choice;
    return nullptr;
}

TCoverSettings CoverSettingsOf(const TMainForm& form) {
    TCoverSettings s;
    s.CoverFile = form.CoverFile->GetText();
    s.AutoDetTrans = form.AutoDetTrans->GetChecked();
    s.TransColor = form.TransColor->GetBrushColor();
    s.Transparent = form.CoverTransparent->GetChecked();
    if (const TPositionChoice* position = CheckedPosition(form)) s.Place = position->Place;
    if (const TPositionChoice* anchor = CheckedAnchor(form)) s.Place = anchor->Place;
    s.Left = form.CoverLeft->GetValue();
    s.Top = form.CoverTop->GetValue();
    // Fields may hold a number past their bounds while being typed in.
    const int marginMost = form.MarginPercent->GetChecked() ? 100 : 99999;
    s.MarginX = std::clamp(form.MarginX->GetValue(), 0, marginMost);
    s.MarginY = std::clamp(form.MarginY->GetValue(), 0, marginMost);
    s.MarginPercent = form.MarginPercent->GetChecked();
    s.Opacity = std::clamp(form.Opacity->GetValue(), 1, 100);
    if (form.SizeWidth->GetChecked())
        s.Sizing = TCoverSizing::Width;
    else if (form.SizeHeight->GetChecked())
        s.Sizing = TCoverSizing::Height;
    else if (form.SizeShorter->GetChecked())
        s.Sizing = TCoverSizing::Shorter;
    s.SizePercent = std::clamp(form.SizePercent->GetValue(), 1, 100);
    return s;
}

TOutputSettings OutputSettingsOf(const TMainForm& form) {
    TOutputSettings s;
    s.Path = form.Path->GetText();
    s.Prefix = form.Prefix->GetChecked();
    s.FileFix = form.FileFix->GetText();
    // With none checked a result is written as JPEG, so it is named ".jpg" too.
    if (form.BMP->GetChecked())
        s.SaveAs = TSaveAs::BMP;
    else if (form.AsIs->GetChecked() && !form.JPG->GetChecked())
        s.SaveAs = TSaveAs::AsIs;
    else if (form.PNG->GetChecked())
        s.SaveAs = TSaveAs::PNG;
    else if (form.WEBP->GetChecked())
        s.SaveAs = TSaveAs::WEBP;
    else if (form.TIFF->GetChecked())
        s.SaveAs = TSaveAs::TIFF;
    else
        s.SaveAs = TSaveAs::JPG;
    s.Quality = form.JPGQuality->GetValue();
    return s;
}

// Run rules

TRadioButton* ExistingButton(const TMainForm& form, TExisting existing) {
    switch (existing) {
    case TExisting::Skip: return form.ExistSkip;
    case TExisting::KeepBoth: return form.ExistKeepBoth;
    case TExisting::Overwrite: break;
    }
    return form.ExistOverwrite;
}

TRadioButton* OnFailureButton(const TMainForm& form, TOnFailure onFailure) {
    return onFailure == TOnFailure::GoOn ? form.FailGoOn : form.FailStop;
}

TRunRules RunRulesOf(const TMainForm& form) {
    TRunRules rules;
    for (const auto& choice : kExistingNames)
        if (ExistingButton(form, choice.Value)->GetChecked()) rules.Existing = choice.Value;
    rules.OnFailure = form.FailGoOn->GetChecked() ? TOnFailure::GoOn : TOnFailure::Stop;
    return rules;
}

const char* ProcessCaptionFor(TExisting existing) {
    switch (existing) {
    case TExisting::Skip: return "Click to Process all Files\r\n\r\n(Existing files will be left as they are)";
    case TExisting::KeepBoth:
        return "Click to Process all Files\r\n\r\n(Existing files are kept: new results get a number)";
    case TExisting::Overwrite: break;
    }
    return kProcessCaption;
}

}  // namespace vmk
