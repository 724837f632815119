#include "output/FormSettings.h"

#include "app/MainForm.h"

namespace vmk {

TCoverSettings CoverSettingsOf(const TMainForm& form) {
    TCoverSettings s;
    s.CoverFile = form.CoverFile->GetText();
    s.AutoDetTrans = form.AutoDetTrans->GetChecked();
    s.TransColor = form.TransColor->GetBrushColor();
    s.Transparent = form.CoverTransparent->GetChecked();
    // Asked in this order; the first checked one wins.
    if (form.LT->GetChecked())
        s.Place = TCoverPlace::LT;
    else if (form.LB->GetChecked())
        s.Place = TCoverPlace::LB;
    else if (form.RT->GetChecked())
        s.Place = TCoverPlace::RT;
    else if (form.RB->GetChecked())
        s.Place = TCoverPlace::RB;
    else if (form.OtherPos->GetChecked())
        s.Place = TCoverPlace::Other;
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
    else
        s.SaveAs = TSaveAs::JPG;
    s.Quality = form.JPGQuality->GetValue();
    return s;
}

}  // namespace vmk
