// "Files to Edit": the batch of source pictures and its preview. The file-path
// list, FilesList and FileListSave change only here, and always together.

#include <string>
#include <vector>

#include "app/MainForm.h"
#include "core/Exception.h"
#include "core/FileUtils.h"

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
