#include "output/FormSettings.h"

#include "app/MainForm.h"

namespace vmk {

const std::array<TPositionChoice, 5> kPositionChoices = {{
    {&TMainForm::LT, 0, TCoverPlace::LT},
    {&TMainForm::LB, 1, TCoverPlace::LB},
    {&TMainForm::RT, 2, TCoverPlace::RT},
    {&TMainForm::RB, 3, TCoverPlace::RB},
    {&TMainForm::OtherPos, 4, TCoverPlace::Other},
}};

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
    s.Left = form.CoverLeft->GetValue();
    s.Top = form.CoverTop->GetValue();
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

}  // namespace vmk
