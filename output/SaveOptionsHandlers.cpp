#include <algorithm>

#include "app/MainForm.h"
#include "compose/Compose.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Saturate.h"
#include "output/FormSettings.h"
#include "widgets/Keys.h"
#include "widgets/SpinEditKeys.h"

namespace vmk {

void TMainForm::FileListSaveClick(TObject*) {
    // A click on an empty list, or beside its lines, selects nothing to preview.
    const int index = FileListSave->GetItemIndex();
    if (index < 0) return;
    const std::string source = FilePaths().Get(index);
    if (!IsPicturePath(source)) {
        ShowMessage("Invalid file extension: '" + ExtractFileExt(source) + "'!");
        return;
    }

    TBitmap working;
    TBitmap cover;
    TJPEGMarkers markers;
    NamingFile(source, [&] { LoadSource(working, source, markers); });
    const TCoverSettings coverSettings = CoverSettingsOf(*this);
    PrepareCover(cover, coverSettings);  // read anew for every preview
    DrawCover(working, cover, coverSettings);
    const TCoverPosition at =
        CoverPlacement(coverSettings, working.Width(), working.Height(), cover.Width(), cover.Height());

    const TOutputSettings output = OutputSettingsOf(*this);
    // For the lossy formats the preview shows what a reader of the result will
    // see, losses included.
    const TWriteFormat format = WriteFormatFor(output.SaveAs, source);
    if (format == TWriteFormat::Jpeg)
        JpegTrial(working, output.Quality, TrialFolder(ApplicationFolder()), markers);
    else if (IsLossyFormat(format))
        ResultTrial(working, format, output.Quality, markers);
    PreviewSave->GetPicture().Assign(&working);
    // The stamp is what the user came to see: its place on the picture comes
    // into view, however large the photo.
    const TRect stamp{
        std::max(at.X, 0), std::max(at.Y, 0),
        static_cast<int>(std::clamp<long long>(static_cast<long long>(at.X) + cover.Width(), 0, working.Width())),
        static_cast<int>(std::clamp<long long>(static_cast<long long>(at.Y) + cover.Height(), 0, working.Height()))};
    if (stamp.Width() > 0 && stamp.Height() > 0) PreviewSave->ScrollInView(stamp);
}

void TMainForm::UpdateClick(TObject* Sender) {
    if (FileListSave->GetItemIndex() >= 0) FileListSaveClick(Sender);
}

void TMainForm::BMPClick(TObject*) {
    // Only the lossless choices leave the quality unused; with AsIs, JPEG,
    // WebP, HEIC and AVIF sources are written at it.
    const bool jpegPossible = !BMP->GetChecked() && !PNG->GetChecked() && !TIFF->GetChecked();
    Label1->SetEnabled(jpegPossible);
    JPGQuality->SetEnabled(jpegPossible);
}

void TMainForm::JPGQualityChange(TObject*) {
    if (JPGQuality->GetText().empty()) return;
    // Each SetValue changes the text and runs this handler again, which then
    // finds the value in range.
    if (JPGQuality->GetValue() > JPGQuality->GetMaxValue()) JPGQuality->SetValue(JPGQuality->GetMaxValue());
    if (JPGQuality->GetValue() < JPGQuality->GetMinValue()) JPGQuality->SetValue(JPGQuality->GetMinValue());
}

void TMainForm::JPGQualityKeyDown(TObject*, uint16_t& Key, TShiftState) {
    // A refused key's character must not reach the text while the key is down.
    JPGQuality->SetReadOnly(!SpinEditKeyAllowed(Key));
    const bool hasText = !JPGQuality->GetText().empty();
    if (Key == VK_PRIOR && hasText) JPGQuality->SetValue(SaturatingAdd(JPGQuality->GetValue(), 10));
    if (Key == VK_NEXT && hasText) JPGQuality->SetValue(SaturatingAdd(JPGQuality->GetValue(), -10));
    if (Key == VK_END) JPGQuality->SetValue(JPGQuality->GetMaxValue());
    if (Key == VK_HOME) JPGQuality->SetValue(JPGQuality->GetMinValue());
}

void TMainForm::JPGQualityKeyUp(TObject*, uint16_t&, TShiftState) { JPGQuality->SetReadOnly(false); }

}  // namespace vmk
