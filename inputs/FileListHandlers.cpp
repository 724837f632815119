// "Files to Edit": the batch of source pictures and its preview. The file-path
// list, FilesList and FileListSave change only here, and always together.

#include <algorithm>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/FolderWalk.h"
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
    if (!chosen.empty()) form.LastPictureFolder = ExtractFilePath(chosen.back());
    form.ShowBatchCount();
}

// Whole folders. Each path keeps the folder it was added from (the list's tag),
// so that a result can go into the same subfolder under the output folder;
// it stays with its line when others are deleted, and a picture added again
// on its own comes without one.
struct TFolderBatch {
    std::vector<std::string> Paths;
    std::vector<std::string> Roots;
    std::vector<std::string> Unreadable;
    std::vector<std::string> Empty;  // folders without a picture
};

void WalkInto(TFolderBatch& batch, const std::string& folder, bool subfolders) {
    TFolderPictures found = WalkFolder(folder, subfolders);
    if (found.Pictures.empty() && found.Unreadable.empty()) batch.Empty.push_back(folder);
    batch.Roots.resize(batch.Roots.size() + found.Pictures.size(), folder);
    batch.Paths.insert(batch.Paths.end(), found.Pictures.begin(), found.Pictures.end());
    batch.Unreadable.insert(batch.Unreadable.end(), found.Unreadable.begin(), found.Unreadable.end());
}

// All in one update of each list box, under the busy cursor: a folder of
// thousands of pictures takes a moment, not a repaint per name.
void AppendFolderBatch(TMainForm& form, const TFolderBatch& batch) {
    {
        const TCursor before = Screen->GetCursor();
        Screen->SetCursor(crHourGlass);
        std::vector<std::string> names;
        names.reserve(batch.Paths.size());
        for (const std::string& path : batch.Paths) names.push_back(ExtractFileName(path));
        for (size_t i = 0; i < batch.Paths.size();) {
            size_t end = i;
            while (end < batch.Paths.size() && batch.Roots[end] == batch.Roots[i]) ++end;
            FilePaths().AddStrings({batch.Paths.begin() + static_cast<std::ptrdiff_t>(i),
                                    batch.Paths.begin() + static_cast<std::ptrdiff_t>(end)},
                                   batch.Roots[i]);
            i = end;
        }
        form.FilesList->GetItems().AddStrings(names, batch.Paths);
        form.FileListSave->GetItems().AddStrings(names, batch.Paths);
        form.ShowBatchCount();
        if (!batch.Paths.empty()) form.LastPictureFolder = ExtractFilePath(batch.Paths.back());
        Screen->SetCursor(before);
    }
    if (!batch.Unreadable.empty()) {
        std::string text = "These folders could not be read:";
        for (const std::string& folder : batch.Unreadable) text += "\r\n" + ShownPath(folder);
        ShowMessage(text);
    }
    for (const std::string& folder : batch.Empty) ShowMessage("No pictures found in " + ShownPath(folder));
}

}  // namespace

void TMainForm::OpenClick(TObject*) {
    // Where the last picture came from, while that folder is there.
    OpenFiles->SetInitialDir(DirectoryExists(LastPictureFolder) ? LastPictureFolder : std::string());
    if (!OpenFiles->Execute()) return;
    AppendToBatch(*this, OpenFiles->GetFiles().Items());
}

void TMainForm::FilesListDropFiles(TObject*, const std::vector<std::string>& Files) {
    // Existing files as the open dialog takes them; folders as "Add Folder" does.
    TFolderBatch batch;
    for (const std::string& path : Files) {
        if (DirectoryExists(path)) {
            WalkInto(batch, path, Subfolders->GetChecked());
        } else if (FileExists(path)) {
            batch.Paths.push_back(path);
            batch.Roots.emplace_back();
        }
    }
    AppendFolderBatch(*this, batch);
}

void TMainForm::AddFolderClick(TObject*) {
    OpenFolder->SetInitialDir(DirectoryExists(LastAddedFolder) ? LastAddedFolder : std::string());
    if (!OpenFolder->Execute()) return;
    const std::string folder = OpenFolder->GetFolder();
    LastAddedFolder = folder;
    TFolderBatch batch;
    WalkInto(batch, folder, Subfolders->GetChecked());
    AppendFolderBatch(*this, batch);
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
