// "Files to Edit": the batch of source pictures and its preview. The file-path
// list, FilesList and FileListSave change only here, and always together.

#include <string>
#include <vector>

#include "app/MainForm.h"
#include "core/FileUtils.h"

namespace vmk {

namespace {

// The pictures the program reads: the same test as the run's.
bool IsPictureExt(const std::string& ext) {
    const std::string lower = LowerCase(ext);
    return lower == ".bmp" || lower == ".jpg" || lower == ".jpeg";
}

}  // namespace

void TMainForm::OpenClick(TObject*) {
    if (!OpenFiles->Execute()) return;
    const std::vector<std::string> chosen = OpenFiles->GetFiles().Items();
    FilePaths().AddStrings(chosen);
    for (const std::string& path : chosen) {
        const std::string name = ExtractFileName(path);
        FilesList->GetItems().Add(name);
        FileListSave->GetItems().Add(name);
    }
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
    if (IsPictureExt(ext)) {
        // A failed load leaves the picture shown before in place.
        PreviewFiles->GetPicture().LoadFromFile(path);
    } else {
        ShowMessage("Invalid File Extension: '" + ext + "'!");
    }
}

}  // namespace vmk
