// "Files to Edit": the batch of source pictures and its preview. The file-path
// list, FilesList and FileListSave change only here, and always together.

#include <algorithm>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "imaging/Jpeg.h"
#include "widgets/Keys.h"

namespace vmk {

namespace {

// The chosen files join the batch: all paths in one append, then each bare
// name to both list boxes, in the order given.
void AppendToBatch(TMainForm& form, const std::vector<std::string>& chosen) {
    FilePaths().AddStrings(chosen);
    for (const std::string& path : chosen) {
        const std::string name = ExtractFileName(path);
        form.FilesList->GetItems().SetHint(form.FilesList->GetItems().Add(name), path);
        form.FileListSave->GetItems().SetHint(form.FileListSave->GetItems().Add(name), path);
    }
    form.ShowBatchCount();
}

}  // namespace

void TMainForm::OpenClick(TObject*) {
    if (!OpenFiles->Execute()) return;
    AppendToBatch(*this, OpenFiles->GetFiles().Items());
}

void TMainForm::FilesListDropFiles(TObject*, const std::vector<std::string>& Files) {
    // What the open dialog would take: existing files, never folders.
    std::vector<std::string> chosen;
    for (const std::string& path : Files)
        if (FileExists(path)) chosen.push_back(path);
    if (!chosen.empty()) AppendToBatch(*this, chosen);
}

void TMainForm::DeleteClick(TObject*) {
    // With no line selected the index is -1: the path list refuses it first,
    // so nothing has been removed anywhere when the error is shown.
    std::vector<int> chosen = FilesList->GetSelectedIndices();
    if (chosen.empty()) FilePaths().Delete(-1);
    // From the last up, so that each index still names its line.
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        FilePaths().Delete(*it);
        FileListSave->GetItems().Delete(*it);
        FilesList->GetItems().Delete(*it);
    }
    FilesList->SetItemIndex(-1);
    // A removed picture is no longer shown; another keeps its preview.
    if (std::find(chosen.begin(), chosen.end(), previewedLine_) != chosen.end()) {
        PreviewFiles->GetPicture().Assign(nullptr);
        previewedLine_ = -1;
        filesDecode_ = {};
    } else if (previewedLine_ >= 0) {
        previewedLine_ -= static_cast<int>(
            std::count_if(chosen.begin(), chosen.end(), [&](int line) { return line < previewedLine_; }));
    }
    if (FilePaths().GetCount() == 0) PreviewSave->GetPicture().Assign(nullptr);
    ShowBatchCount();
}

// ---- the batch list: many selections, the Delete key, Clear, the count

void TMainForm::FilesListKeyDown(TObject*, uint16_t& Key, TShiftState) {
    if (Key != VK_DELETE || FilesList->GetSelCount() == 0) return;
    Key = 0;
    DeleteClick(FilesList);
}

void TMainForm::ClearListClick(TObject*) {
    FilePaths().Clear();
    FilesList->GetItems().Clear();
    FileListSave->GetItems().Clear();
    PreviewFiles->GetPicture().Assign(nullptr);
    PreviewSave->GetPicture().Assign(nullptr);
    previewedLine_ = -1;
    filesDecode_ = {};
    ShowBatchCount();
}

void TMainForm::ShowBatchCount() {
    const int count = FilePaths().GetCount();
    FilesCount->SetCaption(std::to_string(count) + (count == 1 ? " picture" : " pictures"));
}

void TMainForm::FitFilesClick(TObject*) {
    PreviewFiles->SetFit(FitFiles->GetChecked());
    // A JPEG decoded for the fitted box is read again at its own size.
    if (previewedLine_ >= 0 && PreviewFiles->GetPicture().GetGraphic()) ShowFilePreview(previewedLine_);
}

void TMainForm::FilesListClick(TObject*) {
    const std::string path = FilePaths().Get(FilesList->GetItemIndex());
    if (IsPicturePath(path))
        ShowFilePreview(FilesList->GetItemIndex());
    else
        ShowMessage("Invalid File Extension: '" + ExtractFileExt(path) + "'!");
}

void TMainForm::ShowFilePreview(int line) {
    const std::string path = FilePaths().Get(line);
    TPicture loaded;
    TFitDecode decode;
    // On failure the preview keeps the picture it showed.
    NamingFile(path, [&] {
        loaded.LoadFromFile(path);
        // Fitted, a JPEG is decoded no larger than the box needs.
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(loaded.GetGraphic()); jpeg && PreviewFiles->GetFit()) {
            decode.Width = jpeg->GetWidth();
            decode.Height = jpeg->GetHeight();
            jpeg->ReduceToFill(PreviewFiles->GetFitBoxWidth(), PreviewFiles->GetFitBoxHeight());
            decode.Reduce = static_cast<int>(jpeg->GetReduceBy());
        }
        // Decoded here, so that a file whose header reads but whose data
        // does not fails now, once, rather than painting nothing.
        TBitmap probe;
        if (TGraphic* graphic = loaded.GetGraphic()) probe.Assign(*graphic);
    });
    PreviewFiles->GetPicture().Assign(loaded.GetGraphic());
    previewedLine_ = line;
    filesDecode_ = decode;
}

void TMainForm::RefitFilePreview() {
    if (filesDecode_.Reduce == 0 || previewedLine_ < 0 || !PreviewFiles->GetFit()) return;
    const TJPEGReduceBy needed = ReductionToFill(filesDecode_.Width, filesDecode_.Height,
                                                 PreviewFiles->GetFitBoxWidth(), PreviewFiles->GetFitBoxHeight());
    if (static_cast<int>(needed) >= filesDecode_.Reduce) return;
    try {
        ShowFilePreview(previewedLine_);
    } catch (const std::exception&) {
        // A resize is no moment for a box: the picture shown stays, and its
        // failure is said when the user next picks the line.
        filesDecode_ = {};
    }
}

}  // namespace vmk
