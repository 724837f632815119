// "Files to Edit": the batch of source pictures and its preview. The file-path
// list, FilesList and FileListSave change only here, and always together.

#include <string>
#include <vector>

#include "app/MainForm.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/FolderWalk.h"

namespace vmk {

namespace {

// The chosen files join the batch: all paths in one append, then each bare
// name to both list boxes, in the order given.
void AppendToBatch(TMainForm& form, const std::vector<std::string>& chosen) {
    FilePaths().AddStrings(chosen);
    for (const std::string& path : chosen) {
        const std::string name = ExtractFileName(path);
        form.FilesList->GetItems().Add(name);
        form.FileListSave->GetItems().Add(name);
    }
    if (!chosen.empty()) form.LastPictureFolder = ExtractFilePath(chosen.back());
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
        form.FilesList->GetItems().AddStrings(names);
        form.FileListSave->GetItems().AddStrings(names);
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
    const int index = FilesList->GetItemIndex();
    FilePaths().Delete(index);
    FileListSave->GetItems().Delete(FilesList->GetItemIndex());
    FilesList->GetItems().Delete(FilesList->GetItemIndex());
    FilesList->SetItemIndex(-1);
}

void TMainForm::FilesListClick(TObject*) {
    const std::string path = FilePaths().Get(FilesList->GetItemIndex());
    const std::string ext = ExtractFileExt(path);
    if (IsPicturePath(path)) {
        TPicture loaded;
        // On failure the preview keeps the picture it showed.
        NamingFile(path, [&] {
            loaded.LoadFromFile(path);
            // Decoded here, so that a file whose header reads but whose data
            // does not fails now, once, rather than painting nothing.
            TBitmap probe;
            if (TGraphic* graphic = loaded.GetGraphic()) probe.Assign(*graphic);
        });
        PreviewFiles->GetPicture().Assign(loaded.GetGraphic());
    } else {
        ShowMessage("Invalid File Extension: '" + ext + "'!");
    }
}

}  // namespace vmk
