#include <algorithm>

#include "app/MainForm.h"
#include "compose/Compose.h"
#include "compose/CoverStamp.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Saturate.h"
#include "imaging/Jpeg.h"
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

    const TCoverSettings coverSettings = CoverSettingsOf(*this);
    TBitmap cover;
    PrepareCover(cover, coverSettings);  // read anew for every preview
    TCoverCache stamps(cover, coverSettings);
    const TOutputSettings output = OutputSettingsOf(*this);
    // For the lossy formats the preview shows what a reader of the result will
    // see, losses included.
    const TWriteFormat format = WriteFormatFor(output.SaveAs, source);
    TBitmap working;
    int width = 0, height = 0;  // the result's, whatever scale it is shown at
    saveDecode_ = {};
    if (format == TWriteFormat::Jpeg) {
        // The run's own bytes, made as the run makes them. The result is made
        // at full size; a fitted view reads it back no larger than it shows it.
        JpegResultTrial(working, source, stamps, output.Quality, TrialFolder(ApplicationFolder()), [&](int w, int h) {
            width = w;
            height = h;
            const TJPEGReduceBy reduce = PreviewSave->GetFit() ? ReductionToFill(w, h, PreviewSave->GetFitBoxWidth(),
                                                                                 PreviewSave->GetFitBoxHeight())
                                                               : TJPEGReduceBy::ReduceNone;
            saveDecode_ = {static_cast<int>(reduce), w, h};
            return reduce;
        });
    } else {
        TJPEGMarkers markers;
        NamingFile(source, [&] { LoadSource(working, source, markers); });
        DrawCover(working, stamps);
        width = working.Width();
        height = working.Height();
        if (IsLossyFormat(format)) ResultTrial(working, format, output.Quality, markers);
    }
    PreviewSave->GetPicture().Assign(&working);
    // The stamp is what the user came to see: its place on the picture comes
    // into view, however large the photo.
    const std::shared_ptr<TBitmap> drawn = stamps.For(width, height);
    const TCoverPosition at = CoverPlacement(coverSettings, width, height, drawn->Width(), drawn->Height());
    const TRect stamp{
        std::max(at.X, 0), std::max(at.Y, 0),
        static_cast<int>(std::clamp<long long>(static_cast<long long>(at.X) + drawn->Width(), 0, width)),
        static_cast<int>(std::clamp<long long>(static_cast<long long>(at.Y) + drawn->Height(), 0, height))};
    if (stamp.Width() > 0 && stamp.Height() > 0) PreviewSave->ScrollInView(stamp);
}

void TMainForm::UpdateClick(TObject*) { RefreshSavePreview(true); }

// ---- the save preview that keeps up

void TMainForm::SavePreviewStale(TObject*) {
    // A fresh countdown: the refresh comes once the changes stop for a moment,
    // however many there were.
    SaveTimer->SetEnabled(false);
    SaveTimer->SetEnabled(true);
}

void TMainForm::SaveTimerTimer(TObject*) {
    SaveTimer->SetEnabled(false);
    // Off the page the refresh waits until the page is shown.
    if (Tabs->GetPageIndex() != 2) return;
    RefreshSavePreview(false);
}

void TMainForm::RefreshSavePreview(bool byUser) {
    if (savePreviewRunning_) {
        // A box of this refresh is open: one more follows it, however many ask.
        savePreviewAgain_ = true;
        return;
    }
    const int index = FileListSave->GetItemIndex();
    if (index < 0) return;
    // A refused name was said when its line was chosen; not at every change.
    if (!byUser && !IsPicturePath(FilePaths().Get(index))) return;
    struct Running {
        TMainForm& form;
        explicit Running(TMainForm& f) : form(f) { form.savePreviewRunning_ = true; }
        ~Running() { form.savePreviewRunning_ = false; }
    };
    do {
        savePreviewAgain_ = false;
        Running running(*this);
        try {
            FileListSaveClick(FileListSave);
            savePreviewFailure_.clear();
        } catch (const std::exception& e) {
            // The same failure again, after a change that did not mend it, is
            // not shown again unless the user asks.
            const bool repeated = !byUser && savePreviewFailure_ == e.what();
            savePreviewFailure_ = e.what();
            if (!repeated) throw;
        }
    } while (savePreviewAgain_);
}

void TMainForm::RefitSavePreview() {
    if (saveDecode_.Reduce == 0 || !PreviewSave->GetFit()) return;
    const TJPEGReduceBy needed = ReductionToFill(saveDecode_.Width, saveDecode_.Height, PreviewSave->GetFitBoxWidth(),
                                                 PreviewSave->GetFitBoxHeight());
    if (static_cast<int>(needed) < saveDecode_.Reduce) SavePreviewStale(this);
}

void TMainForm::FitSaveClick(TObject*) {
    PreviewSave->SetFit(FitSave->GetChecked());
    RefreshSavePreview(false);
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
